#include "Simulator/SimInsServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "Platform/Real/QtSocketFactory.h"
#include "Platform/Services.h"
#include "kernel/Airins.h"
#include "kernel/AirinsData.h"
#include "kernel/AirinsProtocol.h"
#include "Platform/Real/QtMainLoop.h"

using namespace OrlaqLidar;

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

// A plain client: connects to the loopback port, reads with a deadline.
class TRawClient {
 public:
  explicit TRawClient(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~TRawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Connected() const { return connected_; }
  // Reads until count bytes came, the peer closed or timeoutMs passed.
  TBytes Read(size_t count, int timeoutMs, bool* closed = nullptr) {
    TBytes got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      uint8_t buf[512];
      const ssize_t n = ::recv(fd_, buf, std::min(sizeof buf, count - got.size()), 0);
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

struct TDecoded {
  std::vector<TBytes> Records;
  int Good = 0;  // frames that passed their checksum with status 0
  int ChecksumErrors = 0;
  int Skips = 0;
};

TDecoded Decode(const TBytes& stream) {
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
    if (p.ParseAnswer(stream.data() + i, n, 35, record) == 35) d.Records.emplace_back(record, record + 35);
  }
  return d;
}

}  // namespace

TEST(SimInsServer, FramesCarryThePositionAndAGentleMotion) {
  const auto s = GoodFrames();
  const TDateTime noon = EncodeDateTime(2026, 6, 15, 12, 30, 15, 250);
  // A quarter of the roll period: the roll is at its amplitude.
  const auto frame = TSimInsServer::MakeFrame(s, noon, s.RollPeriod / 4);
  const TDecoded d = Decode(TBytes(frame.begin(), frame.end()));
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
  EXPECT_EQ(Decode(TBytes(bad.begin(), bad.end())).ChecksumErrors, 1);
  const auto invalid = TSimInsServer::MakeFrame(s, noon, 0, 1);
  EXPECT_TRUE(Decode(TBytes(invalid.begin(), invalid.end())).Records.empty());
}

TEST(SimInsServer, StreamsValidFramesToAClientOnAPickedPort) {
  TSimInsServer server(GoodFrames(100));
  ASSERT_TRUE(server.Start()) << server.LastError();
  ASSERT_NE(server.Port(), 0);
  TRawClient client(server.Port());
  ASSERT_TRUE(client.Connected());
  const TBytes stream = client.Read(42 * 8, 3000);
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
  bool closed = false;
  client.Read(100000, 3000, &closed);
  EXPECT_TRUE(closed);
  EXPECT_FALSE(server.Running());
}

TEST(SimInsServer, OccasionalBadChecksumsAreSkippedByTheProgram) {
  auto s = GoodFrames(200);
  s.BadChecksumEvery = 3;
  TSimInsServer server(s);
  ASSERT_TRUE(server.Start()) << server.LastError();
  TRawClient client(server.Port());
  const TDecoded d = Decode(client.Read(42 * 9, 3000));
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

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 3000) { return RunQtUntil(done, timeoutMs); }

}  // namespace

TEST(SimInsServer, TheProgramsInsLinkReadsItAndReconnectsAfterARestart) {
  static int argc = 1;
  static char name[] = "SimInsServerTest";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  TQtSocketFactory sockets;
  TServices services = Services();
  services.Sockets = &sockets;
  TScopedServices scope(services);

  TSimInsServer server(GoodFrames(100));
  ASSERT_TRUE(server.Start()) << server.LastError();
  TAirinsConfig config;
  TLidarSetup setup;
  setup.AirinsAddr = "127.0.0.1";
  setup.AirinsPort = std::to_string(server.Port());
  TAirins ins(config, setup);
  std::vector<TBytes> records;
  ins.OnData = [&](int id, const uint8_t* d, int n, TDateTime) {
    EXPECT_EQ(id, config.RecordID);
    records.emplace_back(d, d + n);
  };
  ASSERT_TRUE(ins.Init());
  ASSERT_TRUE(ins.Connect());
  ASSERT_TRUE(WaitFor([&] { return records.size() >= 3; }));
  EXPECT_EQ(ins.Status.ConnectState(), 4);
  EXPECT_EQ(ins.Status.AcqState(), 9);
  TAirinsData v(records.back().data(), 35);
  EXPECT_NEAR(v.Altitude(), 432.1, 0.005);

  server.Stop();
  ASSERT_TRUE(WaitFor([&] { return ins.Status.ConnectState() == 2; }));
  ASSERT_TRUE(server.Start()) << server.LastError();  // same port again
  records.clear();
  ASSERT_TRUE(ins.Connect());
  ASSERT_TRUE(WaitFor([&] { return records.size() >= 3; }));
  EXPECT_EQ(ins.Status.ConnectState(), 4);
  EXPECT_EQ(ins.Status.Error(), 0u);
  ins.Disconnect();
  server.Stop();
}
