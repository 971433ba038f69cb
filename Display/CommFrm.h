#pragma once
// The communication-details window: a trace consumer of the acquisition
// source listing every trace line of the channels, the instrument and the
// INS link, filtered by source, optionally logged to "CommLog.txt".
#include <QWidget>
#include <cstdint>
#include <string>

#include "Common/CommTraceLog.h"

class QCheckBox;
class QListWidget;
class QListWidgetItem;
class QTableView;

namespace OrlaqLidar {

class TLidarManager;

class TCommFrm : public QWidget {
  Q_OBJECT
 public:
  explicit TCommFrm(QWidget* parent = nullptr);
  ~TCommFrm() override;

  // Registered on the source until Detach; traces arrive on the main thread.
  void Attach(TLidarManager* source);
  void Detach();
  void OnTrace(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time);

  // "CommLog.txt" in the log folder, the folder created when missing; no log
  // file when the folder is empty or cannot be created (false then).
  bool SetLogFolder(const std::string& folder);
  void SetCheckAll(bool on);
  void SetLogToFile(bool on);
  void Clear();

  const TCommTraceLog& Log() const { return log_; }
  int RowCount() const;
  QString CellText(int row, int column) const;
  // The source list as shown: "Check all" first.
  int SourceItemCount() const;
  bool SourceItemChecked(int index) const;

 private:
  class TRowModel;
  void OnSourceItemChanged(QListWidgetItem* item);
  void ShowSourceStates();

  TCommTraceLog log_;
  TLidarManager* source_ = nullptr;
  TRowModel* model_ = nullptr;
  QListWidget* sources_ = nullptr;
  QTableView* table_ = nullptr;
  QCheckBox* autoScroll_ = nullptr;
  QCheckBox* logToFile_ = nullptr;
};

}  // namespace OrlaqLidar
