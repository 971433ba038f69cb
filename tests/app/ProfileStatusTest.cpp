// The profile piece of the headless status on the simulated lidar boards:
// after a cloudy minute it names the cloud height and the range-corrected
// signal peaks there.
#include "app/ProfileStatus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimLidarDevice.h"
#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"

using namespace OrlaqLidar;

namespace {
using OrlaqLidar::Test::TTestSource;

}  // namespace

class ProfileStatusTest : public OrlaqLidar::Test::TSimulatedTime {};

TEST_F(ProfileStatusTest, NamesTheCloudAndThePeakOfEachChannel) {
  TApplicationConfig config;
  TIniFile ini((OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini").string());
  ASSERT_TRUE(config.LidarConfig.Load(ini));
  for (const auto& c : config.LidarConfig.Channels) {
    config.Setup.Calibrations.push_back(std::make_unique<TCalibration>(c->RecordID, c->Type(), c->DoorsCount));
    config.Setup.Calibrations.back()->ApdState = TCalibration::StateAttempted;
  }
  TSimOptions options;
  auto sky = std::make_shared<TSimAtmosphere>(options.Latitude, options.Longitude, options.Seed, true);
  auto cloud = [&sky](TDateTime t) {
    const auto c = sky->LowCloud(t);
    return c.Present() ? (c.Base + c.Top) / 2 : std::nan("");
  };
  TTestSource source;
  TProfileStatus status(source, config, cloud);
  EXPECT_EQ(status.Line(), "");

  // 01:24 on this day is cloudy in the synthetic sky (seed 1).
  const TDateTime minute = EncodeDateTime(2024, 5, 1, 1, 24, 0);
  ASSERT_GT(sky->LowCloud(minute).Backscatter, 3e-5);
  const TChannelConfig& channel = *config.LidarConfig.FindChannel(1);
  TSimLidarDevice board(channel, std::make_shared<TSimLaser>(false, 0), sky, options, "SIM", 3);
  std::string shot;
  for (int i = 0; i <= 4 * 60; ++i) {
    const TDateTime t = minute + 0.25 * i / SecondsPerDay;
    shot.clear();
    board.MakeShot(board.NominalPulses(), t, shot);
    source.DispatchRecord(1, reinterpret_cast<const uint8_t*>(shot.data()), static_cast<int>(shot.size()), t);
  }
  const std::string line = status.Line();
  ASSERT_EQ(line.rfind("profiles OSBR2 60 s: 1 01:24:00 cloud ", 0), 0u) << line;
  const double height = std::stod(line.substr(line.find("cloud ") + 6));
  const double peak = std::stod(line.substr(line.find("peak ") + 5));
  // The peak lies in the layer, which is some hundred metres thick around its middle.
  EXPECT_NEAR(peak, height, 250) << line;
  EXPECT_NE(line.find(" m signal "), std::string::npos) << line;
}
