#include "Simulator/SimInsServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel/AirinsData.h"
#include "kernel/comm/AirinsProtocol.h"
#include "tests/Simulator/RawClient.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TRawClient;

namespace {

using TBytes = std::vector<uint8_t>;

TSimInsServer::TSettings GoodFrames(int rateHz = 50) {
  TSimInsServer::TSettings s;
  s.Port = 0;
  s.RateHz = rateHz;
  s.BadChecksumEvery = 0;
  s.Latitude = 45.25;
  s.Longitude = -3.5;
  s.Altitude = 432.1;
  s.Heading = 270;
  return s;
}

struct TDecoded {
  std::vector<TBytes> Records;
  int Good = 0;  // frames that passed their checksum with status 0
  int ChecksumErrors = 0;
  int Skips = 0;
};

TDecoded Decode(const std::string& stream) {
  TAirinsProtocol p;
  TDecoded d;
  p.OnTrace = [&](const std::string&, char, const uint8_t* data, int length, TDateTime) {
    const std::string t(data, data + length);
    d.ChecksumErrors += t.rfind("Protocol error - Check Sum", 0) == 0;
    d.Skips += t.rfind("Skip", 0) == 0;
    d.Good += t == "Got data";
  };
  // Frame by frame, so that every record is seen.
  for (size_t i = 0; i < stream.size(); i += 42) {
    uint8_t record[35];
    const int n = std::min<int>(42, static_cast<int>(stream.size() - i));
    if (p.ParseAnswer(reinterpret_cast<const uint8_t*>(stream.data()) + i, n, 35, record) == 35)
      d.Records.emplace_back(record, record + 35);
  }
  return d;
}

}  // namespace

TEST(SimInsServer, FramesCarryThePositionAndAGentleMotion) {
  const auto s = GoodFrames();
  const TDateTime noon = EncodeDateTime(2026, 6, 15, 12, 30, 15, 250);
  // A quarter of the roll period: the roll is at its amplitude.
  const auto frame = TSimInsServer::MakeFrame(s, noon, s.RollPeriod / 4);
  const TDecoded d = Decode(std::string(frame.begin(), frame.end()));
  ASSERT_EQ(d.Records.size(), 1u);
  TAirinsData v(d.Records[0].data(), 35);
  EXPECT_EQ(v.Seconds(), 12u * 3600 + 30 * 60 + 15);
  EXPECT_EQ(v.Hundredths(), 25);
  EXPECT_NEAR(v.Latitude(), 45.25, 1e-6);
  EXPECT_NEAR(v.Longitude(), -3.5, 1e-6);
  EXPECT_NEAR(v.Altitude(), 432.1, 0.005);
  EXPECT_NEAR(v.Heading(), 270.0, 0.01);
  EXPECT_NEAR(v.Roll(), s.RollAmplitude, 0.01);
  EXPECT_LE(std::fabs(v.Pitch()), s.PitchAmplitude + 0.01);
  EXPECT_DOUBLE_EQ(v.VelocityNorth(), 0.0);

  const auto bad = TSimInsServer::MakeFrame(s, noon, 0, 0, true);
  EXPECT_EQ(Decode(std::string(bad.begin(), bad.end())).ChecksumErrors, 1);
  const auto invalid = TSimInsServer::MakeFrame(s, noon, 0, 1);
  EXPECT_TRUE(Decode(std::string(invalid.begin(), invalid.end())).Records.empty());
}

TEST(SimInsServer, StreamsValidFramesToAClientOnAPickedPort) {
  TSimInsServer server(GoodFrames(100));
  ASSERT_TRUE(server.Start()) << server.LastError();
  ASSERT_NE(server.Port(), 0);
  TRawClient client;
  ASSERT_TRUE(client.ConnectTcp(server.Port()));
  const std::string stream = client.ReadBytes(42 * 8, 3000);
  ASSERT_EQ(stream.size(), 42u * 8);
  const TDecoded d = Decode(stream);
  EXPECT_EQ(d.Records.size(), 8u);
  EXPECT_EQ(d.ChecksumErrors, 0);
  EXPECT_EQ(d.Skips, 0);
  for (const TBytes& r : d.Records) {
    TAirinsData v(r.data(), 35);
    EXPECT_NEAR(v.Latitude(), 45.25, 1e-6);
    EXPECT_LE(std::fabs(v.Roll()), 1.51);
  }
  EXPECT_GE(server.FramesSent(), 8u);
  server.Stop();
  EXPECT_TRUE(client.WaitClosed(3000));
  EXPECT_FALSE(server.Running());
}

TEST(SimInsServer, OccasionalBadChecksumsAreSkippedByTheProgram) {
  auto s = GoodFrames(200);
  s.BadChecksumEvery = 3;
  TSimInsServer server(s);
  ASSERT_TRUE(server.Start()) << server.LastError();
  TRawClient client;
  ASSERT_TRUE(client.ConnectTcp(server.Port()));
  const TDecoded d = Decode(client.ReadBytes(42 * 9, 3000));
  // A start byte inside a bad frame may add a false start of its own.
  EXPECT_GE(d.ChecksumErrors, 3);
  EXPECT_EQ(d.Good, 6);
}

TEST(SimInsServer, ATakenPortIsReported) {
  TSimInsServer first(GoodFrames());
  ASSERT_TRUE(first.Start());
  auto s = GoodFrames();
  s.Port = first.Port();
  // Reusing the address must not allow two listeners on one port.
  TSimInsServer second(s);
  EXPECT_FALSE(second.Start());
  EXPECT_FALSE(second.LastError().empty());
  EXPECT_FALSE(second.Running());
  second.Stop();
}
