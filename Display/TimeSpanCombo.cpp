#include "Display/TimeSpanCombo.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "Display/AppConfigCheck.h"

namespace OrlaqLidar {

TTimeSpanCombo::TTimeSpanCombo(int minutes, QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  lineEdit()->installEventFilter(this);
  for (const auto& item : TAppConfigCheck::SpanItems) addItem(QString::fromUtf8(item.Caption), item.Minutes);
  connect(this, &QComboBox::activated, this, [this](int index) { SetMinutes(itemData(index).toInt()); });
  SetMinutes(TAppConfigCheck::NormaliseSpan(minutes));
}

void TTimeSpanCombo::SetMinutes(int minutes) {
  minutes_ = minutes;
  setCurrentIndex(TAppConfigCheck::SpanIndex(minutes));
  // Set again: an unchanged index leaves what was typed in place.
  setEditText(QString::fromStdString(TAppConfigCheck::SpanText(minutes)));
}

void TTimeSpanCombo::Commit() {
  const auto parsed = TAppConfigCheck::ParseSpan(currentText().toStdString());
  SetMinutes(parsed ? *parsed : minutes_);
}

bool TTimeSpanCombo::eventFilter(QObject* watched, QEvent* event) {
  if (watched != lineEdit()) return QComboBox::eventFilter(watched, event);
  if (event->type() == QEvent::FocusOut) {
    Commit();
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  switch (key->key()) {
    // Taken here: neither key may close the dialog.
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Commit();
      return true;
    case Qt::Key_Escape:
      SetMinutes(minutes_);
      return true;
    default:
      break;
  }
  const QString text = key->text();
  return text.size() == 1 && text[0].isPrint() &&
         (text[0].unicode() > 0x7f || !TAppConfigCheck::SpanCharAccepted(static_cast<char>(text[0].unicode())));
}

}  // namespace OrlaqLidar
