#pragma once
// The text export: delimited lines, one record a line, in files named by
// the file-name pattern. A file starts with a comment header (only when it
// was empty), then a definition block (at every opening), then the record
// lines; existing files are continued.
#include <memory>
#include <string>
#include <string_view>

#include "Export/ExportFile.h"
#include "Export/ExportTemplate.h"
#include "Export/OrderedWork.h"
#include "Export/TextLine.h"

namespace OrlaqExport {

class TTextExport : public TExportTemplate {
 public:
  // Half the speed of light, metres per second: gate time to gate length.
  static constexpr double HalfLightSpeed = 149896229.0;

  ~TTextExport() override;

  // Closes the open file first: the next write names it anew.
  bool SetArguments(const OrlaqLidar::TProcessingArgs* arguments) override;
  // Logs once any placeholder of the pattern that nothing replaces.
  bool SetParameters(const TExportParameters* parameters) override;
  // "DM" for a monitoring record, "DI" for a valid INS record, only with
  // LogMonitoring; shots and unknown channels give no line.
  bool WriteRawData(int recordId, OrlaqLidar::TDateTime time, const uint8_t* data, size_t length) override;
  bool WriteProfile(const OrlaqLidar::TProfile& profile) override;
  bool WriteEvent(const OrlaqLidar::TLidarEvent& event) override;
  bool PrepareFile() override;
  void SetWorkBehind(bool on) override;
  long long Flush() override;
  bool Close() override;
  // The open file's name, or empty.
  std::string GetDescription() const override { return file_.IsOpen() ? fileName_ : std::string(); }

 private:
  TTextLine Line(const char* tag) const;
  std::string CommentHeader() const;
  std::string Definitions() const;
  std::string Calibrations() const;
  bool WriteLine(const TTextLine& line);
  bool Append(std::string_view text);
  // Appends the lines made by now and, with all, every queued line.
  void TakeLines(bool all);
  // The export file for the newest data time; empty without settings.
  std::string CurrentFileName() const;

  TExportFile file_;
  // Lines made behind (a batch export); null when made in place.
  std::unique_ptr<TOrderedWork> behind_;
  long long lateFailures_ = 0;
  std::string fileName_;
  bool definitionsPending_ = false;
  bool calibrationsPending_ = false;
  bool emptyAtOpening_ = false;
};

}  // namespace OrlaqExport
