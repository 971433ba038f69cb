#pragma once
// The end time the calibration dialogs announce, in the user's short
// date-time form.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cmath>

#include "Common/DateTime.h"

namespace OrlaqLidar {

inline QString ShortDateTimeText(TDateTime utc) {
  const auto ms = static_cast<qint64>(std::llround(DateTimeToUnix(utc) * 1000.0));
  return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), QLocale::ShortFormat);
}

}  // namespace OrlaqLidar
