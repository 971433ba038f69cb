#pragma once
// "Unzip calibration in place ...": a calibration archive installed into
// the calibration folders of the setup, the calibrations loaded again.
#include <QString>

class QWidget;

namespace OrlaqLidar {

class TApplicationConfig;

class TCalibrationUnzip {
 public:
  // Installs the archive and reloads the calibrations; the text for the user.
  static QString Install(TApplicationConfig& config, const QString& archive);
  // Asks for the archive, installs it and shows the outcome. False when
  // the operator chose none.
  static bool Run(QWidget* parent, TApplicationConfig& config);
};

}  // namespace OrlaqLidar
