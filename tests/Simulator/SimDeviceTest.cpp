// The device logic without sockets: query parsing, command set, answer
// framing, shot layout and pacing, housekeeping values. Time is passed in,
// so pacing is checked without waiting.
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Common/DateTime.h"
#include "Common/StringUtils.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimLidarDevice.h"
#include "Simulator/SimMeasureModel.h"
#include "Simulator/SimMonitorDevice.h"
#include "Simulator/SimRandom.h"
#include "kernel/LidarData.h"
#include "kernel/LidarInfo.h"
#include "tests/Simulator/RawClient.h"
#include "tests/Simulator/SimTestDefinition.h"

namespace OrlaqLidar::Test {
namespace {

using TAnswers = std::vector<TSimDevice::TAnswer>;

constexpr uint64_t Second = 1000000;
const TDateTime Noon = EncodeDateTime(2026, 6, 21, 12, 0, 0);

// Payload of a framed answer, or nothing when its markers or checksum are wrong.
std::optional<std::string> Unframe(const std::string& bytes, bool binary) {
  const std::string start = binary ? std::string("\x02\xFF\xFF\xFF", 4) : std::string("\x02");
  const std::string end = binary ? std::string("\xFF\xFF\xFF\x03", 4) : std::string("\x03");
  if (bytes.size() < start.size() + end.size() + 2 || bytes.compare(0, start.size(), start) != 0) return {};
  const size_t e = bytes.size() - 2 - end.size();
  if (bytes.compare(e, end.size(), end) != 0) return {};
  if (Hex2(XorOf(bytes.substr(0, bytes.size() - 2))) != bytes.substr(bytes.size() - 2)) return {};
  return bytes.substr(start.size(), e - start.size());
}

class SimLidarDeviceTest : public ::testing::Test {
 protected:
  SimLidarDeviceTest() {
    Options.RateLimit = false;
    Options.Now = [] { return Noon; };
  }

  std::unique_ptr<TSimLidarDevice> Make(int channel, std::shared_ptr<TSimLaser> laser) {
    return std::make_unique<TSimLidarDevice>(*Config->Channels[static_cast<size_t>(channel)], std::move(laser),
                                             Atmosphere, Options, "VL1001A", 7);
  }

  static TAnswers Feed(TSimDevice& d, const std::string& bytes, uint64_t nowUs = 10 * Second) {
    TAnswers out;
    d.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nowUs, out);
    return out;
  }

  // Sends one command and returns the payload of its single answer.
  static std::string Ask(TSimDevice& d, const std::string& command, bool binary, uint64_t nowUs = 10 * Second) {
    const TAnswers a = Feed(d, QueryFrame(command), nowUs);
    EXPECT_EQ(a.size(), 1u) << command;
    if (a.size() != 1) return "<none>";
    EXPECT_EQ(a[0].Binary, binary) << command;
    const auto payload = Unframe(a[0].Bytes, binary);
    EXPECT_TRUE(payload.has_value()) << command;
    return payload.value_or("<bad frame>");
  }

  std::unique_ptr<TLidarConfig> Config = LoadSimTestDefinition();
  TSimOptions Options;
  std::shared_ptr<TSimAtmosphere> Atmosphere = std::make_shared<TSimAtmosphere>(48.7, 2.2, 1);
  std::shared_ptr<TSimLaser> Laser1 = std::make_shared<TSimLaser>(true, 0);
  std::shared_ptr<TSimLaser> Laser2 = std::make_shared<TSimLaser>(true, 0);
};

TEST_F(SimLidarDeviceTest, QueryFramesAreReassembledAndCheckedLikeALink) {
  auto d = Make(0, Laser1);
  // The worked example of the wire format: "C" is 02 43 03 '4' '2'.
  ASSERT_EQ(QueryFrame("C"), std::string("\x02" "C" "\x03" "42"));

  // One byte at a time, with line noise ahead: a single answer once the
  // second checksum digit is in.
  const std::string stream = std::string("\xFF\x13noise", 7) + QueryFrame("C");
  TAnswers all;
  for (char c : stream) {
    TAnswers a = Feed(*d, std::string(1, c));
    all.insert(all.end(), a.begin(), a.end());
  }
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(Unframe(all[0].Bytes, false).value_or(""), d->Version());

  // A damaged checksum is ignored (the host will time out), lower-case
  // digits are fine, and an interrupted frame gives way to the next start.
  std::string bad = QueryFrame("C");
  bad.back() = bad.back() == '0' ? '1' : '0';
  EXPECT_TRUE(Feed(*d, bad).empty());
  EXPECT_EQ(d->BadFrames(), 1u);
  // 0x02 ^ 'J' ^ 0x03 = 0x4B
  EXPECT_EQ(Feed(*d, "\x02J\x03" "4b").size(), 1u);
  EXPECT_EQ(Feed(*d, "\x02" "C" + QueryFrame("L")).size(), 1u);

  // Two queries in one block give two answers, in order.
  const TAnswers two = Feed(*d, QueryFrame("C") + QueryFrame("L"));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(Unframe(two[1].Bytes, false).value_or(""), "NO");
}

TEST_F(SimLidarDeviceTest, LaserCommandsSwitchTheSharedLaserAndDataFollowsIt) {
  auto parallel = Make(0, Laser1);       // laser commands and status, data "a"
  auto perpendicular = Make(1, Laser1);  // no laser commands, data "A"

  EXPECT_EQ(Ask(*parallel, "L", false), "NO");
  EXPECT_EQ(Ask(*parallel, "a", true), "KO");
  EXPECT_EQ(Ask(*perpendicular, "A", true), "KO");

  EXPECT_EQ(Ask(*parallel, "i", false), "OK");
  EXPECT_TRUE(Laser1->IsOn(11 * Second));
  EXPECT_EQ(Ask(*parallel, "L", false), "OK");
  EXPECT_EQ(Ask(*parallel, "a", true).size(), parallel->ShotLength());
  // The other board of the group sees the same laser.
  EXPECT_EQ(Ask(*perpendicular, "A", true).size(), perpendicular->ShotLength());
  EXPECT_EQ(Ask(*parallel, "Q", true).size(), parallel->ShotLength());

  EXPECT_EQ(Ask(*parallel, "J", false), "OK");
  EXPECT_EQ(Ask(*parallel, "L", false), "NO");
  EXPECT_EQ(Ask(*perpendicular, "A", true), "KO");
  // Switching off twice is still "OK".
  EXPECT_EQ(Ask(*parallel, "J", false), "OK");
}

TEST_F(SimLidarDeviceTest, EachBoardGenerationKnowsOnlyItsOwnCommands) {
  auto second = Make(0, Laser1);  // laser on "i", status "L", data "a"
  auto first = Make(2, Laser2);   // laser on "I", data "A", no status
  auto none = Make(1, Laser1);    // no laser commands

  EXPECT_EQ(Ask(*second, "I", false), "eU");
  EXPECT_EQ(Ask(*first, "i", false), "eU");
  EXPECT_EQ(Ask(*first, "L", false), "eU");
  EXPECT_EQ(Ask(*none, "J", false), "eU");
  EXPECT_EQ(Ask(*none, "L", false), "eU");
  // Unknown commands keep the form the host expects for their first letter.
  EXPECT_EQ(Ask(*second, "A", true), "eU");
  EXPECT_EQ(Ask(*first, "a", true), "eU");
  EXPECT_EQ(Ask(*first, "B", true), "eU");
  EXPECT_EQ(Ask(*first, "Z", false), "eU");
  EXPECT_EQ(Ask(*first, "CC", false), "eU");

  EXPECT_EQ(Ask(*first, "I", false), "OK");
  EXPECT_FALSE(Laser1->IsOn(11 * Second));
  EXPECT_EQ(Ask(*first, "A", true).size(), first->ShotLength());
}

TEST_F(SimLidarDeviceTest, ShotHoldsBigEndianCountsAndInformationTheProgramReadsBack) {
  auto d = Make(0, Laser1);
  ASSERT_EQ(Ask(*d, "i", false), "OK");
  const TChannelConfig& channel = *Config->Channels[0];
  ASSERT_EQ(d->ShotLength(), 2048u * 4 + 16);
  ASSERT_TRUE(d->HasShotCounter());
  EXPECT_EQ(d->NominalPulses(), 1000u);

  for (int i = 0; i < 20; ++i) {
    const std::string shot = Ask(*d, "a", true);
    ASSERT_EQ(shot.size(), d->ShotLength());
    TLidarData data(&channel, reinterpret_cast<const uint8_t*>(shot.data()), shot.size());
    ASSERT_TRUE(data.IsValid());
    double shots = 0;
    ASSERT_TRUE(data.FindByCode("SHOOT", shots));
    EXPECT_EQ(shots, 1000);
    // Every information field within its limits.
    ASSERT_TRUE(data.First());
    do {
      EXPECT_EQ(data.GetLevel(), 0) << data.GetName() << " = " << data.GetValue();
    } while (data.Next());
    // Gate 0 read by hand: four bytes, most significant first.
    const auto* b = reinterpret_cast<const uint8_t*>(shot.data());
    data.FirstDoor();
    EXPECT_EQ(data.GetDoor(), (uint64_t{b[0]} << 24) | (uint64_t{b[1]} << 16) | (uint64_t{b[2]} << 8) | b[3]);
  }
}

TEST_F(SimLidarDeviceTest, PackedPercentAndInvertedFieldsDecodeWithinLimits) {
  auto d = Make(2, Laser2);
  ASSERT_EQ(Ask(*d, "I", false), "OK");
  EXPECT_FALSE(d->HasShotCounter());
  // Without a shot counter every shot is LaserPulse shots, as the program assumes.
  EXPECT_EQ(d->NominalPulses(), 500u);
  const TChannelConfig& channel = *Config->Channels[2];
  for (int i = 0; i < 20; ++i) {
    Options.Now = [i] { return Noon + i / 24.0; };
    const std::string shot = Ask(*d, "A", true);
    TLidarData data(&channel, reinterpret_cast<const uint8_t*>(shot.data()), shot.size());
    ASSERT_TRUE(data.IsValid());
    ASSERT_TRUE(data.First());
    do {
      EXPECT_EQ(data.GetLevel(), 0) << data.GetName() << " = " << data.GetValue();
    } while (data.Next());
  }
}

TEST_F(SimLidarDeviceTest, SaturatedCountersClampAndRaiseTheOverloadBit) {
  // One-byte gates overflow in the near range of a 532 nm channel.
  Config->Channels[0]->DoorsByte = 1;
  Config->Channels[0]->InfoBytes = 16;
  auto d = Make(0, Laser1);
  ASSERT_EQ(Ask(*d, "i", false), "OK");
  const std::string shot = Ask(*d, "a", true);
  ASSERT_EQ(shot.size(), 2048u + 16);
  int clamped = 0;
  for (int i = 0; i < 2048; ++i) clamped += static_cast<uint8_t>(shot[static_cast<size_t>(i)]) == 255;
  EXPECT_GT(clamped, 5);
  TLidarData data(Config->Channels[0].get(), reinterpret_cast<const uint8_t*>(shot.data()), shot.size());
  double overload = 0;
  ASSERT_TRUE(data.FindByCode("OVL", overload));
  EXPECT_EQ(overload, 1);
  EXPECT_EQ(data.GetLevel(), 3);
}

TEST_F(SimLidarDeviceTest, PacedBoardAnswersOncePerPeriodAndCountsThePulsesItIntegrated) {
  Options.RateLimit = true;
  Options.ShotPeriodMs = 100;
  Options.CommandLatencyMs = 2;
  Options.LaserFrequencyHz = 10000;
  auto d = Make(0, Laser1);
  const uint64_t t0 = 50 * Second;
  TAnswers on = Feed(*d, QueryFrame("i"), t0);
  ASSERT_EQ(on.size(), 1u);
  EXPECT_EQ(on[0].DueUs, t0 + 2000);

  auto shotAt = [&](uint64_t now, uint64_t& due) {
    TAnswers a = Feed(*d, QueryFrame("a"), now);
    EXPECT_EQ(a.size(), 1u);
    due = a[0].DueUs;
    const std::string payload = Unframe(a[0].Bytes, true).value_or("");
    TLidarData data(Config->Channels[0].get(), reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
    double shots = -1;
    data.FindByCode("SHOOT", shots);
    return shots;
  };
  uint64_t due = 0;
  // Asked right after the switch-on: ready one period after it.
  EXPECT_EQ(shotAt(t0 + 5000, due), 1000);
  EXPECT_EQ(due, t0 + 100000);
  // Asked again at once: the next period.
  EXPECT_EQ(shotAt(t0 + 6000, due), 1000);
  EXPECT_EQ(due, t0 + 200000);
  // A host that comes back late gets the pulses of the whole pause, at once...
  EXPECT_EQ(shotAt(t0 + 550000, due), 3520);
  EXPECT_EQ(due, t0 + 552000);
  // ...but no more than ten periods' worth.
  EXPECT_EQ(shotAt(t0 + 10 * Second, due), 10000);
}

using SimMonitorDeviceTest = SimLidarDeviceTest;

TEST_F(SimMonitorDeviceTest, PingAndMeasuresAnswerInTheBoardsTextForm) {
  TSimMonitorDevice d(*Config->Channels[3], Options, "VL1002B", 3);
  // The ping is apostrophe, back-quote, semicolon: one "Q", alone.
  TAnswers ping = Feed(d, "'`;");
  ASSERT_EQ(ping.size(), 1u);
  EXPECT_EQ(ping[0].Bytes, "Q");

  // Measures configured on CH1, CH5, CH8 and CH9 answer on 'Z', 'B', ',' and 'b'.
  const std::string commands = "ZB,b";
  const std::vector<int> indices = {0, 4, 7, 8};
  for (size_t i = 0; i < commands.size(); ++i) {
    TAnswers a = Feed(d, commands.substr(i, 1));
    ASSERT_EQ(a.size(), 1u);
    const std::string& line = a[0].Bytes;
    ASSERT_GE(line.size(), 3u);
    // Ended by line feed then carriage return; short enough for the host's buffer.
    EXPECT_EQ(line.substr(line.size() - 2), "\n\r");
    EXPECT_LE(line.size(), 12u);
    const double raw = TryParseDouble(line.substr(0, line.size() - 2)).value_or(NAN);
    const TInfoDescription* desc = d.Description(indices[i]);
    ASSERT_NE(desc, nullptr);
    const double value = TLidarInfo::Calibrate(*desc, raw);
    EXPECT_EQ(TLidarInfo::Level(*desc, value), 0) << desc->Name << " " << value;
  }
  // A command without a measure: the board's "no measure" value.
  TAnswers none = Feed(d, "X");
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].Bytes, "999.99\n\r");
  // Bytes that are no command are ignored.
  EXPECT_TRUE(Feed(d, "'`?\x02").empty());
}

TEST_F(SimMonitorDeviceTest, ValuesDriftAndNowAndThenCrossAWarningLimitButNeverAnErrorLimit) {
  TDateTime now = Noon;
  Options.Now = [&now] { return now; };
  TSimMonitorDevice d(*Config->Channels[3], Options, "VL1002B", 3);
  const std::vector<int> indices = {0, 4, 7, 8};
  int warnings = 0;
  int samples = 0;
  std::vector<double> first(indices.size(), NAN);
  bool drifted = false;
  for (int step = 0; step < 8640; ++step) {  // a day, every 10 s
    now = Noon + step * 10.0 / SecondsPerDay;
    for (size_t i = 0; i < indices.size(); ++i) {
      const TInfoDescription* desc = d.Description(indices[i]);
      const std::string text = d.MeasureText(indices[i], now);
      const double value = TLidarInfo::Calibrate(*desc, TryParseDouble(text).value_or(NAN));
      const int level = TLidarInfo::Level(*desc, value);
      ASSERT_NE(level, 3) << desc->Name << " " << value;
      warnings += level != 0;
      ++samples;
      if (std::isnan(first[i])) first[i] = value;
      drifted = drifted || std::abs(value - first[i]) > 0.02 * std::abs(first[i]);
    }
  }
  EXPECT_TRUE(drifted);
  EXPECT_GT(warnings, 0);
  EXPECT_LT(warnings, samples / 20);
}

TEST(SimMeasureModelTest, RawReadingInvertsTheCalibration) {
  TInfoDescription d;
  d.Parse("NAME:x,MUL:3,DIV:7,PERCENT:40,INV");
  for (double v : {0.5, 12.25, 800.0}) EXPECT_NEAR(TLidarInfo::Calibrate(d, TSimMeasureModel::RawFor(d, v)), v, 1e-9 * v);
  TInfoDescription plain;
  plain.Div = 0;
  EXPECT_DOUBLE_EQ(TSimMeasureModel::RawFor(plain, 42), 42);
}

TEST(SimRandomTest, PoissonHasTheRightMeanAndVarianceOnBothSidesOfTheMethodSwitch) {
  TSimRandom rng(99);
  for (double mean : {0.05, 3.0, 15.5, 16.5, 400.0}) {
    const int n = 200000;
    double sum = 0, sum2 = 0;
    for (int i = 0; i < n; ++i) {
      const double k = static_cast<double>(rng.Poisson(mean));
      sum += k;
      sum2 += k * k;
    }
    const double m = sum / n;
    const double var = sum2 / n - m * m;
    EXPECT_NEAR(m, mean, 5 * std::sqrt(mean / n) + 1e-3) << mean;
    EXPECT_NEAR(var / mean, 1.0, 0.03) << mean;
  }
  EXPECT_EQ(rng.Poisson(0), 0u);
  EXPECT_EQ(rng.Poisson(-1), 0u);
}

TEST(SimRandomTest, SameSeedSameNoise) {
  TSimRandom a(5), b(5), c(6);
  bool differs = false;
  for (int i = 0; i < 100; ++i) {
    const uint64_t x = a.Next();
    EXPECT_EQ(x, b.Next());
    differs = differs || x != c.Next();
  }
  EXPECT_TRUE(differs);
  double sum = 0, sum2 = 0;
  for (int i = 0; i < 100000; ++i) {
    const double g = a.Normal();
    sum += g;
    sum2 += g * g;
  }
  EXPECT_NEAR(sum / 100000, 0, 0.02);
  EXPECT_NEAR(sum2 / 100000, 1, 0.03);
}

}  // namespace
}  // namespace OrlaqLidar::Test
