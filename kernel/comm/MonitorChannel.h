#pragma once
// The channel of one monitoring device: pings it until it answers, then,
// each time the instrument asks for a record, queries every configured
// measure in turn with its one-character command and hands the whole record
// to the owner as an array of doubles.
#include <array>
#include <cstdint>
#include <string>

#include "Common/DateTime.h"
#include "Config/ChannelConfig.h"
#include "kernel/comm/Channel.h"

namespace OrlaqLidar {

class TMonitorChannel : public TChannel {
 public:
  static constexpr int MaxMeasures = 14;

  // AcqState values.
  static constexpr uint8_t AcqIdle = 3;
  static constexpr uint8_t AcqPing = 8;
  static constexpr uint8_t AcqMeasure = 9;

  // Channel error codes.
  static constexpr uint32_t ErrNotAsked = 0x80000003;

  // Command character of each command index.
  static constexpr std::array<char, MaxMeasures> CommandTable = {'Z', 'X', 'C', 'V', 'B', 'N', 'M',
                                                                 ',', 'b', 'f', 'k', 'o', 's', '('};

  explicit TMonitorChannel(const TChannelConfig& config);
  ~TMonitorChannel() override;

  bool AskData() override;
  void CheckTimeOut(TDateTime now) override;
  void Update() override { UpdateAndGreet(); }
  void ReceiveData(TFtdiUSB* sender, int count) override;
  void Retry(bool again) override;
  void OpenDevice() override;
  bool Ping();

  // Number conversion of one measure answer; NaN when there is no measure.
  static double ParseMeasure(const std::string& answer);

  TDateTime LastQueryTime() const { return lastQueryTime_; }
  int CurrentMeasure() const { return currentMeasure_; }
  double Value(int position) const;

 private:
  bool Greet() override { return Ping(); }
  bool CanQuery() const { return usb_ && protocol_; }
  void MonitorProtocolChanged(TStatus* status, TState::ChangeRaison reason);
  // Position of the first measured description after `after` (-1: from the
  // start), or -1 when none is left.
  int NextMeasure(int after) const;
  int CommandOf(int position) const;
  bool SendFrame(const std::string& command);
  void SendRecord();

  TDateTime lastQueryTime_ = 0;
  uint64_t lastQueryTick_ = 0;
  int currentMeasure_ = 0;
  int nextCommand_ = -1;
  std::array<double, MaxMeasures> values_;
  std::array<uint8_t, MaxMeasures * sizeof(double)> record_{};
};

}  // namespace OrlaqLidar
