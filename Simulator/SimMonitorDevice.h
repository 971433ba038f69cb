#pragma once
// The housekeeping board: answers the three-byte ping with "Q" and each
// one-character measure command with the value as text, ended by line
// feed and carriage return.
#include <string>
#include <string_view>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Simulator/SimDevice.h"
#include "Simulator/SimMeasureModel.h"
#include "Simulator/SimOptions.h"
#include "Simulator/SimRandom.h"

namespace OrlaqLidar {

class TSimMonitorDevice : public TSimDevice {
 public:
  TSimMonitorDevice(const TChannelConfig& channel, const TSimOptions& options, std::string serialNumber,
                    uint64_t seed);

  void Receive(const uint8_t* data, size_t length, uint64_t nowUs, std::vector<TAnswer>& answers) override;
  void Reset() override;
  std::string Frame(std::string_view payload, bool binary) const override;
  void Corrupt(TAnswer& answer) const override;

  // Answer text (without the line end) of the measure of a command index at
  // time t; "999.99", the board's "no measure", for an index it does not have.
  std::string MeasureText(int commandIndex, TDateTime t);
  // The model behind a command index, or null.
  const TSimMeasureModel* Model(int commandIndex) const;
  const TInfoDescription* Description(int commandIndex) const;

  // The measure command of each index.
  static constexpr char Commands[14] = {'Z', 'X', 'C', 'V', 'B', 'N', 'M', ',', 'b', 'f', 'k', 'o', 's', '('};
  static constexpr char PingEnd = ';';
  static constexpr const char* NoMeasure = "999.99";

 private:
  struct TMeasure {
    TInfoDescription Description;
    TSimMeasureModel Model;
  };

  uint64_t Schedule(uint64_t dueUs);
  TDateTime Now() const;

  std::vector<int> slotOfIndex_;  // command index -> measure, -1 = none
  std::vector<TMeasure> measures_;
  TSimOptions options_;
  TSimRandom rng_;
  uint64_t lastDueUs_ = 0;
};

}  // namespace OrlaqLidar
