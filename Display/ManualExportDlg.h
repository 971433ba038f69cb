#pragma once
// "Export all data": where and how the loaded files are exported, on the
// main window's own copy of the export settings.
#include <QDialog>

#include "Config/ExportConfig.h"

class QLineEdit;
class QSpinBox;

namespace OrlaqLidar {

class TManualExportDlg : public QDialog {
  Q_OBJECT
 public:
  TManualExportDlg(const TExportConfig& settings, QWidget* parent = nullptr);
  // The settings with the operator's choices.
  TExportConfig Settings() const;

 private:
  TExportConfig settings_;
  QLineEdit* folder_;
  QLineEdit* pattern_;
  QSpinBox* slice_;
};

}  // namespace OrlaqLidar
