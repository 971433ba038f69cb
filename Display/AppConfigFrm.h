#pragma once
// "Configuration de l'application": the application settings, the display
// settings, the folders, the export settings and the INS address in one
// dialog. OK checks every field, stores the values, saves the settings and
// stores the folders for the next start; the main window then applies the
// display settings.
#include <QDialog>

#include "Common/EditFieldChecker.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace OrlaqLidar {

class TEditFieldGuard;
class TExportConfigPnl;
class TGUIConfig;
class TLidarApplication;
class TTimeSpanCombo;

class TAppConfigFrm : public QDialog {
  Q_OBJECT
 public:
  TAppConfigFrm(TLidarApplication& app, TGUIConfig& gui, QWidget* parent = nullptr);

  // Opens on the quicklook time span.
  void ShowTimeSpan();
  QString ErrorText() const;

  void accept() override;

 private:
  QWidget* GeneralPage();
  QWidget* GraphicsPage();
  QWidget* FoldersPage();
  QWidget* ExportPage();
  QWidget* AirinsPage();
  QWidget* DebugPage();
  QCheckBox* Check(const char* name, const QString& caption, bool checked, QWidget* parent);
  TEditFieldGuard* Field(const char* name, TFieldKind kind, double value, double minimum, double maximum,
                         QWidget* parent);
  bool Valid();
  // A refused field's page comes to the front.
  bool Shown(bool ok, QWidget* field);
  void Store();

  TLidarApplication& app_;
  TGUIConfig& gui_;
  QTabWidget* tabs_;
  QLabel* error_;
  QWidget* graphics_ = nullptr;

  QCheckBox* autoPower_;
  QCheckBox* midLowEnd_;
  QCheckBox* debugMode_;
  QCheckBox* autoExport_;
  TEditFieldGuard* profileTime_;
  QCheckBox* hqProfile_;
  QCheckBox* autCount_;
  TEditFieldGuard* minCount_;
  TEditFieldGuard* maxCount_;
  QCheckBox* autDist_;
  TEditFieldGuard* minDist_;
  TEditFieldGuard* maxDist_;
  TTimeSpanCombo* timeSpan_;
  QCheckBox* minMaxLabels_;
  TEditFieldGuard* slope10_;
  TEditFieldGuard* slope20_;
  QCheckBox* showRayleigh_;
  QLineEdit* folders_[4];  // data, log, export, definition
  TExportConfigPnl* export_;
  QLineEdit* airinsAddr_;
  TEditFieldGuard* airinsPort_;
  QCheckBox* enableAirins_;
  QCheckBox* autoConnect_;
};

}  // namespace OrlaqLidar
