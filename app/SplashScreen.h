#pragma once
// The picture shown while the interactive program starts: the program's
// name and version drawn over a lidar beam. It closes itself after a few
// seconds, or at once when clicked.
#include <QPixmap>
#include <QSplashScreen>
#include <QString>

namespace OrlaqLidar {

class TSplashScreen : public QSplashScreen {
  Q_OBJECT
 public:
  static constexpr int ShowMs = 3000;

  explicit TSplashScreen(const QString& version);

  // The drawn picture, apart so that it can be looked at without a screen.
  static QPixmap Picture(const QString& version);
  // Shows the picture at once (before the main window exists) and starts
  // the timer that closes it.
  void ShowNow();
};

}  // namespace OrlaqLidar
