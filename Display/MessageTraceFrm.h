#pragma once
// The message-trace window: the sink of the message log. It keeps the last
// lines, can show itself when a line arrives and can copy every line into
// a file.
#include <QWidget>
#include <functional>
#include <string>

#include "Common/MessageTraceLog.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QSpinBox;

namespace OrlaqLidar {

class TMessageTraceFrm : public QWidget {
  Q_OBJECT
 public:
  // Asks for a file to save to; an empty answer is a cancel.
  using TFileChooser = std::function<QString(QWidget* parent, const QString& title, const QString& folder)>;

  explicit TMessageTraceFrm(QWidget* parent = nullptr);

  // The message log's entry: one line.
  void AddLine(const std::string& text);
  void Clear();
  void SetMaximum(int maximum);
  // Auto-save switched on asks for its file first; cancelled, it stays off.
  void SetAutoSave(bool on);
  // "Save to a file...": every line to a file chosen by the operator.
  void SaveToFile();
  void SetFileChooser(TFileChooser chooser) { chooser_ = std::move(chooser); }
  // Where the save dialog opens: the log folder.
  void SetSaveFolder(const QString& folder) { saveFolder_ = folder; }

  const TMessageTraceLog& Log() const { return log_; }
  int ShownLineCount() const;
  QString StatusText() const;

 private:
  void ShowOptions();

  TMessageTraceLog log_;
  TFileChooser chooser_;
  QString saveFolder_;
  QListWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
  QCheckBox* autoScroll_ = nullptr;
  QCheckBox* autoOpen_ = nullptr;
  QCheckBox* autoSave_ = nullptr;
  QCheckBox* timeStamps_ = nullptr;
  QSpinBox* maximum_ = nullptr;
};

}  // namespace OrlaqLidar
