#pragma once
// The channel of one lidar detection channel: asks the version when the
// link comes up, switches the laser, polls its state (also as keep-alive)
// and asks for shots, whose raw payload goes to the owner through OnData.
#include <cstdint>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "Config/ChannelConfig.h"
#include "kernel/comm/Channel.h"

namespace OrlaqLidar {

class TChannelGroup;

class TLidarChannel : public TChannel {
 public:
  // AcqState values.
  static constexpr uint8_t AcqLinkDown = 1;
  static constexpr uint8_t AcqIdle = 3;
  static constexpr uint8_t AcqVersion = 4;
  static constexpr uint8_t AcqLaserOn = 5;
  static constexpr uint8_t AcqLaserOff = 6;
  static constexpr uint8_t AcqLaserStatus = 7;
  static constexpr uint8_t AcqData = 9;

  // Channel error codes.
  static constexpr uint32_t ErrUnknownCommand = 0x80000004;
  static constexpr uint32_t ErrLaserOn = 0x80000006;
  static constexpr uint32_t ErrLaserOff = 0x80000007;

  explicit TLidarChannel(const TChannelConfig& config);
  ~TLidarChannel() override;

  bool AskData() override;
  void CheckTimeOut(TDateTime now) override;
  void KeepAlive(TDateTime now) override;
  void Update() override { UpdateAndGreet(); }
  void ReceiveData(TFtdiUSB* sender, int count) override;
  void Retry(bool again) override;
  void OpenDevice() override;

  // Each returns true when the query was written (or, without laser
  // commands, when the state was set).
  bool SendCommand(const std::string& command);
  bool AskVersion();
  bool SwitchLaser(bool on);
  bool AskLaserStatus();

  // ProtoOpt as a list sorted without regard to case.
  static std::vector<std::string> SortedOptions(const std::string& protoOpt);
  static bool HasOption(const std::vector<std::string>& options, const std::string& name);

  // Set by the instrument; not owned.
  TChannelGroup* Group = nullptr;
  bool AlternateQuery() const { return alternate_; }

 private:
  bool Greet() override { return AskVersion(); }
  bool CanQuery() const { return usb_ && protocol_; }

  bool alternate_ = false;
  // "Q" in ProtoOpt, read once: data queries are the hot path.
  bool alternateOption_ = false;
  // Monotonic time of the last query written: time-outs survive clock steps.
  uint64_t lastRequestTick_ = 0;
};

}  // namespace OrlaqLidar
