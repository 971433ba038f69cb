#include "Display/TimeSpanCombo.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "Display/AppConfigCheck.h"

namespace OrlaqLidar {

TTimeSpanCombo::TTimeSpanCombo(int minutes, QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
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

void TTimeSpanCombo::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    // Taken here: neither key may close the dialog.
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Commit();
      event->accept();
      return;
    case Qt::Key_Escape:
      SetMinutes(minutes_);
      event->accept();
      return;
    default:
      break;
  }
  const QString text = event->text();
  if (text.size() == 1 && text[0].isPrint() &&
      (text[0].unicode() > 0x7f || !TAppConfigCheck::SpanCharAccepted(static_cast<char>(text[0].unicode())))) {
    event->accept();
    return;
  }
  QComboBox::keyPressEvent(event);
}

void TTimeSpanCombo::focusOutEvent(QFocusEvent* event) {
  Commit();
  QComboBox::focusOutEvent(event);
}

}  // namespace OrlaqLidar
