#pragma once
// The live acquisition source: the instrument and, when declared and
// enabled, the INS link, folded into one status and one stream of records.
#include <memory>

#include "kernel/LidarManager.h"

namespace OrlaqLidar {

class TLidar;
class TAirins;

class TLidarAcquisition : public TLidarManager {
 public:
  // forceAirins: use the INS whatever "EnableAirins" says (simulated runs).
  explicit TLidarAcquisition(TApplicationConfig* settings, bool forceAirins = false);
  ~TLidarAcquisition() override;

  bool Open() override;
  bool Close() override;
  bool Start() override;
  bool Stop() override;
  bool SetPower(bool on) override;
  void OnTimer(TDateTime now) override;
  std::string GetSerialNumber() override;

  TLidar* Lidar() const { return lidar_.get(); }
  TAirins* Airins() const { return airins_.get(); }
  TDateTime ConnectionTime() const { return connectionTime_; }
  bool AutoPower() const { return autoPower_; }

  // An INS link that is lost, refused or does not come through is tried
  // again this often while the connection is wanted.
  static constexpr long long InsRetryMs = 5000;

 private:
  void OnChildStatus(TStatus* status, TState::ChangeRaison reasons);
  // Folds the instrument's and, until the first connection, the INS's
  // connect state into the source's, with a text that says what is awaited.
  void ShowCombinedConnectState();
  void SetStatusText(const std::string& text) { Status.Text = text; }

  TDateTime connectionTime_ = 0;
  std::unique_ptr<TLidar> lidar_;
  std::unique_ptr<TAirins> airins_;
  TListStatus children_;
  bool autoPower_ = false;
  bool connectionWanted_ = false;
  bool connectedOnce_ = false;  // the source reached "Connected" since Start
  bool insUp_ = false;          // the INS link was connected at its last notice
  TDateTime lastInsAttempt_ = 0;
};

}  // namespace OrlaqLidar
