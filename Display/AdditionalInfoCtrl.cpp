#include "Display/AdditionalInfoCtrl.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>

#include "kernel/LidarManager.h"

namespace OrlaqLidar {

TAdditionalInfoCtrl::TAdditionalInfoCtrl(const TApplicationConfig& config, QWidget* parent)
    : QScrollArea(parent), model_(config), content_(new QWidget), grid_(new QGridLayout(content_)) {
  setObjectName("AdditionalInfo");
  grid_->setContentsMargins(4, 2, 4, 2);
  grid_->setHorizontalSpacing(6);
  grid_->setVerticalSpacing(2);
  grid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setWidget(content_);
  setWidgetResizable(true);
  setFrameShape(QFrame::NoFrame);
  setMaximumHeight(160);
}

TAdditionalInfoCtrl::~TAdditionalInfoCtrl() { Detach(); }

void TAdditionalInfoCtrl::Attach(TLidarManager* source) {
  Detach();
  Clear();
  source_ = source;
  if (source_)
    source_->AddDataConsumer(this, [this](int id, const uint8_t* data, int length, TDateTime) {
      OnRecord(id, data, length);
    });
}

void TAdditionalInfoCtrl::Detach() {
  if (source_) source_->RemoveDataConsumer(this);
  source_ = nullptr;
}

void TAdditionalInfoCtrl::Clear() {
  for (auto& [key, item] : items_) {
    delete item.Name;
    delete item.Value;
  }
  items_.clear();
}

QLabel* TAdditionalInfoCtrl::ValueLabel(const std::string& key) const {
  const auto it = items_.find(key);
  return it == items_.end() ? nullptr : it->second.Value;
}

void TAdditionalInfoCtrl::OnRecord(int recordId, const uint8_t* data, int length) {
  // Hidden by the View command: no work until shown, the next records fill it again.
  if (frozen_ || isHidden()) return;
  for (const TAdditionalInfoItem& update : model_.Items(recordId, data, length)) {
    if (update.Reset) {
      const auto it = items_.find(update.Key);
      if (it == items_.end()) continue;
      SetText(it->second, update.Text);
      SetLevel(it->second, 0);
      continue;
    }
    TItem& item = Find(update);
    SetText(item, update.Text);
    SetLevel(item, update.Level);
  }
}

TAdditionalInfoCtrl::TItem& TAdditionalInfoCtrl::Find(const TAdditionalInfoItem& update) {
  const auto it = items_.find(update.Key);
  if (it != items_.end()) return it->second;
  const int n = static_cast<int>(items_.size());
  TItem item;
  item.Name = new QLabel(QString::fromStdString(update.Name), content_);
  item.Value = new QLabel(content_);
  item.Value->setFrameShape(QFrame::Panel);
  item.Value->setFrameShadow(QFrame::Sunken);
  item.Value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  item.Value->setAutoFillBackground(true);
  grid_->addWidget(item.Name, n / Columns, 2 * (n % Columns));
  grid_->addWidget(item.Value, n / Columns, 2 * (n % Columns) + 1);
  TItem& stored = items_.emplace(update.Key, item).first->second;
  SetText(stored, TAdditionalInfoModel::EmptyText);
  return stored;
}

void TAdditionalInfoCtrl::SetText(TItem& item, const std::string& text) {
  const QString q = QString::fromStdString(text);
  if (item.Value->text() == q) return;
  item.Value->setText(q);
  // The frame and margins come on top of the text itself.
  const int frame = 2 * item.Value->frameWidth() + 2 * item.Value->margin() + 4;
  const int textWidth = item.Value->fontMetrics().horizontalAdvance(q) + frame;
  const int width = TAdditionalInfoModel::WidenedWidth(item.Width, textWidth);
  if (width == item.Width) return;
  item.Width = width;
  item.Value->setFixedWidth(width);
}

void TAdditionalInfoCtrl::SetLevel(TItem& item, int level) {
  if (level == item.Level) return;
  item.Level = level;
  QPalette p = item.Value->palette();
  const auto colour = TAdditionalInfoModel::AlarmColour(level);
  p.setColor(QPalette::Window, colour ? QColor(colour->Red, colour->Green, colour->Blue)
                                      : item.Value->parentWidget()->palette().color(QPalette::Window));
  item.Value->setPalette(p);
}

}  // namespace OrlaqLidar
