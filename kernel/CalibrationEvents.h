#pragma once
// The pair of events that brackets a field calibration in the data stream
// (start code, then end code with the outcome), so that the calibration
// profile can be found again in the recorded files and in exports. Only a
// live source records them: a replay must not invent events.
#include <string>

namespace OrlaqLidar {

class TLidarManager;

class TCalibrationEvents {
 public:
  // The source is not owned; it may be null (nothing is written then).
  TCalibrationEvents(TLidarManager* source, std::string startCode, std::string endCode);

  // Writes the start event unless one is open already or the source is a
  // replay; true when it was written.
  bool Begin(const std::string& comment);
  // Writes the end event when a start is open, and closes the pair.
  bool End(const std::string& comment);
  bool IsOpen() const { return open_; }
  bool Recording() const;

 private:
  TLidarManager* source_;
  std::string startCode_;
  std::string endCode_;
  bool open_ = false;
};

}  // namespace OrlaqLidar
