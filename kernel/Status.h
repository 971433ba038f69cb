#pragma once
// The state record every component with something worth showing carries;
// each change is notified to the owner with the reasons that changed.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace OrlaqLidar {

struct TState {
  enum : uint8_t {
    WaitingPowerOff = 1,
    Disconnected = 2,
    LaserOff = 2,
    Connecting = 3,
    WaitingPowerOn = 3,
    Connected = 4,
    LaserWarmup = 4,
    LaserOn = 5,
  };
  // A set of reason bits.
  using ChangeRaison = uint16_t;
  static constexpr ChangeRaison Connect = 1;
  static constexpr ChangeRaison Power = 2;
  static constexpr ChangeRaison Error = 4;
  static constexpr ChangeRaison AcqState = 8;
  static constexpr ChangeRaison Replay = 16;
  // Records began or ceased to be lost to the recorded files.
  static constexpr ChangeRaison Recording = 32;
  static constexpr ChangeRaison Init = 0x8000;
};

class TStatus;
using TListStatus = std::vector<TStatus*>;
using TStatusCallback = std::function<void(TStatus*, TState::ChangeRaison)>;

class TStatus {
 public:
  TStatus(std::string name, std::string text);
  virtual ~TStatus() = default;

  void SetConnectState(uint8_t v);
  void SetPowerState(uint8_t v);
  void SetError(uint32_t v);
  void SetAcqState(uint8_t v);
  void SetReplayState(uint8_t v);
  // Records the recorder could not write since writing last worked, 0 while
  // it works. Only its start and its end are notified (Recording): the
  // count itself is read whenever the status is shown.
  void SetRecordsNotWritten(uint64_t count);

  static std::string ReasonText(TState::ChangeRaison reasons);
  // Texts of the connect and power scales ("Connected", "Laser on", ...).
  static std::string ConnectText(uint8_t connectState);
  static std::string PowerText(uint8_t powerState);

  uint8_t ConnectState() const { return connectState_; }
  uint8_t PowerState() const { return powerState_; }
  uint32_t Error() const { return error_; }
  uint8_t AcqState() const { return acqState_; }
  uint8_t ReplayState() const { return replayState_; }
  uint64_t RecordsNotWritten() const { return recordsNotWritten_; }
  // The alarm text of a recording error; empty while recording works.
  std::string RecordingErrorText() const;

  TStatusCallback OnChange;
  std::string Text;
  std::string Name;
  // Reasons that are notified; changes of other kinds are stored silently.
  TState::ChangeRaison ChangeMask = 31;
  TListStatus* Children = nullptr;  // not owned

 protected:
  void Notify(TState::ChangeRaison reason);

 private:
  uint8_t connectState_ = 2;
  uint8_t powerState_ = 2;
  uint32_t error_ = 0;
  uint8_t acqState_ = 1;
  uint8_t replayState_ = 0;
  uint64_t recordsNotWritten_ = 0;
};

}  // namespace OrlaqLidar
