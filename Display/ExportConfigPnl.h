#pragma once
// The export settings as a panel of a settings dialog: format, file name
// pattern and slices, processing, columns and dates, and what the NetCDF
// types need. The export folder is edited with the other folders.
#include <QWidget>

#include "Config/ExportConfig.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace OrlaqLidar {

class TEditFieldGuard;

class TExportConfigPnl : public QWidget {
  Q_OBJECT
 public:
  static constexpr const char* EmptyPatternRefusal = "File name can't be empty !";

  // Refusals show in errorLabel.
  TExportConfigPnl(const TExportConfig& settings, QLabel* errorLabel, QWidget* parent = nullptr);

  // Every field checked; the first refusal shows in the error label.
  bool Valid();
  // Writes the fields into settings; its Folder is left as it is.
  void Store(TExportConfig& settings) const;

 private:
  QLabel* error_;
  QComboBox* type_;
  QLineEdit* pattern_;
  TEditFieldGuard* slice_;
  TEditFieldGuard* profileTime_;
  QCheckBox* levels_[5];
  QComboBox* delimiter_;
  QComboBox* dateFormat_;
  QCheckBox* monitoring_;
  QLineEdit* sccStation_;
  QLineEdit* sccChannels_;
  QLineEdit* institution_;
};

}  // namespace OrlaqLidar
