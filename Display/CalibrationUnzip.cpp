#include "Display/CalibrationUnzip.h"

#include <QFileDialog>
#include <QMessageBox>

#include "Config/ApplicationConfig.h"

namespace OrlaqLidar {

QString TCalibrationUnzip::Install(TApplicationConfig& config, const QString& archive) {
  const std::string text = config.Setup.UnzipCalibrations(archive.toStdString());
  // Whatever was extracted before a failure is in place: load it.
  config.ReloadCalibrations();
  return QString::fromStdString(text);
}

bool TCalibrationUnzip::Run(QWidget* parent, TApplicationConfig& config) {
  const QString archive = QFileDialog::getOpenFileName(parent, QObject::tr("Open LiDAR calibrations archive"),
                                                       QString::fromStdString(config.ConfigFolder),
                                                       QObject::tr("Calibrations archive (*.zip)"));
  if (archive.isEmpty()) return false;
  const QString text = Install(config, archive);
  if (!text.isEmpty()) QMessageBox::information(parent, QObject::tr("Calibrations archive"), text);
  return true;
}

}  // namespace OrlaqLidar
