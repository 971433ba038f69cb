#pragma once
// The acquisition board of one lidar channel: answers the framed
// single-letter commands (version, laser on/off/status, data) and counts
// photons from the synthetic atmosphere into big-endian gate counts
// followed by the channel's information bytes.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Config/InfoDescription.h"
#include "Simulator/SimAtmosphere.h"
#include "Simulator/SimDevice.h"
#include "Simulator/SimLaser.h"
#include "Simulator/SimMeasureModel.h"
#include "Simulator/SimOptions.h"
#include "Simulator/SimRandom.h"

namespace OrlaqLidar {

class TSimLidarDevice : public TSimDevice {
 public:
  TSimLidarDevice(const TChannelConfig& channel, std::shared_ptr<TSimLaser> laser,
                  std::shared_ptr<const TSimAtmosphere> atmosphere, const TSimOptions& options,
                  std::string serialNumber, uint64_t seed);

  void Receive(const uint8_t* data, size_t length, uint64_t nowUs, std::vector<TAnswer>& answers) override;
  void Reset() override;
  std::string Frame(std::string_view payload, bool binary) const override;
  void Corrupt(TAnswer& answer) const override;

  // Answer to the version query; the program takes it for the serial number.
  std::string Version() const;
  static constexpr const char* InstrumentSerial = "LS261001";
  // Appends the payload of one shot of `pulses` laser pulses taken at
  // atmosphere time t: DoorsCount x DoorsByte counts, then InfoBytes.
  void MakeShot(uint64_t pulses, TDateTime t, std::string& out);
  size_t ShotLength() const;
  // Pulses of one unpaced shot.
  uint64_t NominalPulses() const;
  // The channel has an information field counting the laser pulses; without
  // one every shot holds LaserPulse pulses, as the program then assumes.
  bool HasShotCounter() const { return hasShotCounter_; }
  // Query frames thrown away for a bad checksum or an overlong command.
  uint64_t BadFrames() const { return badFrames_; }

  // Longest command text accepted between the frame markers.
  static constexpr size_t MaxCommandLength = 32;

 private:
  enum class TFieldKind { Shots, Overload, Measure };
  struct TField {
    TInfoDescription Description;
    TSimMeasureModel Model;
    TFieldKind Kind;
  };

  void Execute(std::string_view command, uint64_t nowUs, std::vector<TAnswer>& answers);
  void AnswerText(std::string_view payload, bool binary, uint64_t nowUs, std::vector<TAnswer>& answers);
  void AnswerShot(uint64_t nowUs, std::vector<TAnswer>& answers);
  uint64_t Schedule(uint64_t dueUs);
  void PrepareMeans(uint64_t pulses, TDateTime t);
  void WriteInfo(uint8_t* info, uint64_t pulses, bool overload, TDateTime t);
  TDateTime Now() const;

  int doorsCount_;
  int doorsByte_;
  int infoBytes_;
  int hasLaserCmd_;
  int laserPulse_;
  double waveLength_;
  double doorsTime_;
  double offsetTime_;
  char polarization_;
  bool hasShotCounter_ = false;
  std::vector<TField> fields_;

  std::shared_ptr<TSimLaser> laser_;
  std::shared_ptr<const TSimAtmosphere> atmosphere_;
  TSimOptions options_;
  TSimRandom rng_;

  std::string input_;
  uint64_t lastShotUs_ = 0;
  uint64_t lastDueUs_ = 0;
  uint64_t badFrames_ = 0;

  // Expected counts per gate, refreshed once per second of atmosphere time
  // or when the pulse count changes.
  std::vector<double> rates_;
  std::vector<double> means_;
  std::vector<double> expMinusMeans_;
  std::vector<double> sqrtMeans_;
  TDateTime ratesTime_ = 0;
  bool ratesValid_ = false;
  uint64_t meansPulses_ = 0;
};

}  // namespace OrlaqLidar
