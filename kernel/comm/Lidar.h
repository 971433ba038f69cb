#pragma once
// The live instrument: builds its groups and channels from the instrument
// definition, connects them, runs the laser power sequence with warm-up,
// schedules shot and measure queries, repeats what could not be sent and
// folds the channel statuses into its own.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Config/LidarConfig.h"
#include "kernel/comm/ChannelGroup.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TChannel;
class TLidarChannel;
class TMonitorChannel;

class TLidar {
 public:
  struct Command {
    enum : uint8_t { Version = 1, LaserStatus = 3, LaserOn = 4, LaserOff = 5, Measure = 6, Ping = 7 };
    TChannel* Channel;
    int Tries;
    uint8_t Kind;
    TDateTime LastTry;
  };
  using TDataEvent = std::function<void(int recordId, const uint8_t* data, int length, TDateTime time)>;
  using TTraceEvent =
      std::function<void(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time)>;

  explicit TLidar(const TLidarConfig* config);
  ~TLidar();
  TLidar(const TLidar&) = delete;
  TLidar& operator=(const TLidar&) = delete;

  bool Build();
  void Clear();
  bool Connect();
  void Disconnect();
  // newState: 5 on, 2 off.
  void SetPowerState(uint8_t newState);
  void Tick(TDateTime now);
  // One scheduling step; also run after every shot received.
  void Step(TDateTime now);

  void Enqueue(TChannel* channel, uint8_t kind, int tries);

  // Opening a device lists the devices on the bus: at most this many are
  // opened per tick, so that with many channels the answers of the first
  // ones do not wait behind the listings of the last.
  static constexpr int DeviceOpensPerTick = 8;
  // An instrument asked to connect that is still not connected after this
  // long logs which channels it waits for and why, then again every
  // ConnectReportRepeatMs.
  static constexpr uint64_t ConnectReportFirstMs = 10000;
  static constexpr uint64_t ConnectReportRepeatMs = 60000;

  TStatus Status;
  TListStatus ChildStatuses;
  TDataEvent OnData;
  TTraceEvent OnTrace;

  const std::string& Version() const { return version_; }
  bool MonitoringAlarm() const { return monitoringFlag_; }
  const std::vector<std::unique_ptr<TLidarChannel>>& LidarChannels() const { return lidarChannels_; }
  const std::vector<std::unique_ptr<TMonitorChannel>>& MonitorChannels() const { return monitorChannels_; }
  const std::vector<std::unique_ptr<TChannelGroup>>& Groups() const { return groups_; }
  const std::deque<Command>& Queue() const { return queue_; }

 private:
  void ProcessQueue(TDateTime now);
  bool RunCommand(const Command& c);
  void ChannelStatusChanged(TStatus* status, TState::ChangeRaison reasons);
  void LidarData(TChannel* channel, const uint8_t* data, int length, TDateTime time);
  void MeasureData(TChannel* channel, const uint8_t* data, int length, TDateTime time);
  void AskMeasure(TMonitorChannel* channel, TDateTime now);
  TChannel* FindChannelByStatusName(const std::string& name) const;
  void TraceLine(const std::string& text);
  void ReportConnecting();

  const TLidarConfig* config_;
  std::vector<std::unique_ptr<TLidarChannel>> lidarChannels_;
  std::vector<std::unique_ptr<TChannelGroup>> groups_;
  std::vector<std::unique_ptr<TMonitorChannel>> monitorChannels_;
  std::deque<Command> queue_;
  TDateTime lastMeasureTime_ = 0;
  std::string version_;
  bool monitoringFlag_ = false;
  int opensThisTick_ = 0;
  bool connectWanted_ = false;
  uint64_t notConnectedSinceTick_ = 0;  // 0: connected, or not asked to be
  uint64_t nextConnectReportTick_ = 0;
};

}  // namespace OrlaqLidar
