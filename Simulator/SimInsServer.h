#pragma once
// The inertial navigation unit of the virtual instrument: a TCP server on
// the loopback interface that streams 42-byte navigation frames to every
// client, for a platform at a fixed position that slowly rolls and pitches
// by a degree or two. Serves from its own thread; Start and Stop come from
// the owner's thread.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Common/DateTime.h"

namespace OrlaqLidar {

class TSimInsServer {
 public:
  static constexpr int FrameSize = 42;
  using TFrame = std::array<uint8_t, FrameSize>;

  struct TSettings {
    uint16_t Port = 1234;  // 0: any free port, read back with Port()
    int RateHz = 20;       // frames a second, 1 to 200
    double Latitude = 48.7;    // degrees, north positive
    double Longitude = 2.2;    // degrees, east positive
    double Altitude = 160.0;   // metres
    double Heading = 90.0;     // degrees
    double RollAmplitude = 1.5;   // degrees
    double RollPeriod = 23.0;     // seconds
    double PitchAmplitude = 1.0;  // degrees
    double PitchPeriod = 37.0;    // seconds
    // Every Nth frame carries a wrong checksum; 0 = never.
    int BadChecksumEvery = 200;
    // Every Nth frame carries a non-zero status word (unit not aligned);
    // 0 = never.
    int InvalidEvery = 0;
    // UTC time of the frames; the system clock when empty. Called from the
    // server's thread.
    std::function<TDateTime()> Now;
  };

  TSimInsServer();
  explicit TSimInsServer(TSettings settings);
  ~TSimInsServer();
  TSimInsServer(const TSimInsServer&) = delete;
  TSimInsServer& operator=(const TSimInsServer&) = delete;

  // Listens on 127.0.0.1 and starts streaming; false (see LastError) when
  // the port cannot be had. True at once when already running. A restart
  // after Stop listens on the same port, also when it was picked.
  bool Start();
  // Closes every connection and the listening socket; idempotent.
  void Stop();

  bool Running() const { return thread_.joinable(); }
  // The port listened on (the one picked when 0 was asked).
  uint16_t Port() const { return port_; }
  std::string LastError() const;
  // Frames produced while at least one client was connected.
  uint64_t FramesSent() const { return framesSent_.load(); }
  int ClientCount() const { return clients_.load(); }

  // The frame of time now (UTC), elapsed seconds after the start of the
  // motion; status word and checksum as given.
  static TFrame MakeFrame(const TSettings& settings, TDateTime now, double elapsed, uint16_t status = 0,
                          bool badChecksum = false);
  // CRC-16/X-25 of the INS frames.
  static uint16_t Checksum(const uint8_t* data, size_t length);

 private:
  void Run();

  TSettings settings_;
  uint16_t port_ = 0;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<uint64_t> framesSent_{0};
  std::atomic<int> clients_{0};
  mutable std::mutex errorMutex_;
  std::string lastError_;
};

}  // namespace OrlaqLidar
