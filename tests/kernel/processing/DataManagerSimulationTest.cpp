// The data manager fed with the shots of the simulated instrument's lidar
// boards looking at the synthetic sky: the completed 60 s range-corrected
// profiles must show the simulated cloud layer where the sky has it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Config/LidarConfig.h"
#include "Config/LidarSetup.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimLidarDevice.h"
#include "kernel/processing/DataManager.h"
#include "tests/TestSupport.h"
#include "tests/kernel/TestSource.h"

using namespace OrlaqLidar;

namespace {

using OrlaqLidar::Test::TTestSource;

struct TCompleted {
  int Channel;
  TDateTime Start, Last;
  int ShotRecords;
  std::vector<double> Signal, Distance;
};

constexpr double GateLength = 14.9896229;
constexpr double SecondsStep = 10.0 / SecondsPerDay;

// First minute of the day from which the low cloud stays well present
// for three minutes.
TDateTime CloudyMinute(const TSimAtmosphere& sky, TDateTime from) {
  for (TDateTime t = from; t < from + 2; t += 60 / SecondsPerDay) {
    bool cloudy = true;
    for (TDateTime u = t; u < t + 180 / SecondsPerDay && cloudy; u += SecondsStep)
      cloudy = sky.LowCloud(u).Backscatter >= 3e-5;
    if (cloudy) return t;
  }
  return 0;
}

}  // namespace

class DataManagerSimulationTest : public OrlaqLidar::Test::TSimulatedTime {};

TEST_F(DataManagerSimulationTest, CompletedProfilesShowTheCloudLayerAtItsHeight) {
  TIniFile ini((OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini").string());
  TLidarConfig definition;
  ASSERT_TRUE(definition.Load(ini));
  TLidarSetup setup;
  for (const auto& c : definition.Channels) {
    // No calibration files: the detector defaults apply, as in the field.
    setup.Calibrations.push_back(std::make_unique<TCalibration>(c->RecordID, c->Type(), c->DoorsCount));
    setup.Calibrations.back()->ApdState = TCalibration::StateAttempted;
  }
  TProcessingArgs args(TProcessingSetup(TProcessingSetup::FromCode("OSBR2"), 60), &definition, &setup);
  TTestSource source;
  TDataManager manager(&args, &source);
  std::vector<TCompleted> completed;
  manager.FOnManagedDatas = [&](const TProfile& p) {
    if (!p->Open) completed.push_back({p->ChannelID, p->StartTime, p->LastTime, p->ShotRecords, p->Signal, p->Distance});
  };

  TSimOptions options;
  auto sky = std::make_shared<TSimAtmosphere>(options.Latitude, options.Longitude, options.Seed, true);
  const TDateTime minute = CloudyMinute(*sky, EncodeDateTime(2024, 5, 1, 0, 0, 0));
  ASSERT_NE(minute, 0) << "no cloudy stretch in the synthetic sky";
  auto laser = std::make_shared<TSimLaser>(false, 0);
  std::vector<std::unique_ptr<TSimLidarDevice>> boards;
  for (const auto& c : definition.Channels)
    if (c->Type() == TChannelType::Lidar)
      boards.push_back(std::make_unique<TSimLidarDevice>(*c, laser, sky, options, "SIM", 7 + c->RecordID));
  ASSERT_FALSE(boards.empty());

  // Four shots a second from 5 s before the cloudy minute to 2 min 10 s
  // after: two whole profiles.
  std::string shot;
  for (int i = 0; i < 4 * 135; ++i) {
    const TDateTime t = minute + (-5 + 0.25 * i) / SecondsPerDay;
    for (size_t b = 0; b < boards.size(); ++b) {
      shot.clear();
      boards[b]->MakeShot(boards[b]->NominalPulses(), t, shot);
      source.DispatchRecord(static_cast<int>(b) + 1, reinterpret_cast<const uint8_t*>(shot.data()),
                            static_cast<int>(shot.size()), t);
    }
  }
  EXPECT_TRUE(LogLines.empty()) << LogLines.front();

  int whole = 0;
  for (const TCompleted& p : completed) {
    if (p.ShotRecords < 200) continue;  // the partial first minute
    ++whole;
    // The layer moves a little within the minute: its lowest base and highest top.
    double base = 1e9, top = 0;
    for (TDateTime u = p.Start; u <= p.Last; u += SecondsStep / 10) {
      base = std::min(base, sky->LowCloud(u).Base);
      top = std::max(top, sky->LowCloud(u).Top);
    }
    size_t peak = 0;
    for (size_t i = 0; i < p.Signal.size(); ++i)
      if (p.Distance[i] > 500 && (peak == 0 || p.Signal[i] > p.Signal[peak])) peak = i;
    const std::string where = "channel " + std::to_string(p.Channel) + " at " + FormatDateTime(p.Start) +
                              ": peak at " + std::to_string(p.Distance[peak]) + " m, cloud " + std::to_string(base) +
                              " to " + std::to_string(top) + " m";
    EXPECT_GE(p.Distance[peak], base - 2 * GateLength) << where;
    EXPECT_LE(p.Distance[peak], top + 2 * GateLength) << where;
    // Well above the clear air a kilometre below the layer.
    const size_t below = static_cast<size_t>((base - 1000) / GateLength);
    EXPECT_GT(p.Signal[peak], 10 * std::abs(p.Signal[below])) << where;
  }
  EXPECT_EQ(whole, 2 * static_cast<int>(boards.size()));
}
