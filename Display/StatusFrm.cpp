#include "Display/StatusFrm.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <set>

#include "Common/CustomIniFile.h"
#include "Display/StatusRows.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

namespace {

constexpr int ImageRole = Qt::UserRole;

// Off, on the way, good.
QIcon StateIcon(int image) {
  static const QColor colours[] = {QColor(210, 40, 40), QColor(235, 160, 20), QColor(40, 170, 60)};
  QPixmap pixmap(14, 14);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(colours[image].darker(140), 1));
  p.setBrush(colours[image]);
  p.drawEllipse(QRectF(1.5, 1.5, 11, 11));
  return QIcon(pixmap);
}

const QIcon& Icon(int image) {
  static const QIcon icons[] = {StateIcon(0), StateIcon(1), StateIcon(2)};
  return icons[image];
}

std::string Key(const char* suffix) { return std::string(TStatusFrm::FormName) + suffix; }

}  // namespace

TStatusFrm::TStatusFrm(TCustomIniFile* store, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), store_(store), tree_(new QTreeWidget(this)) {
  setObjectName(FormName);
  setWindowTitle(tr("Status"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  tree_->setColumnCount(ColumnCount);
  tree_->setHeaderLabels({tr("Element"), tr("Connect"), tr("Power"), tr("Error"), tr("Acqisit"), QString()});
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->setSelectionMode(QAbstractItemView::NoSelection);
  tree_->header()->setStretchLastSection(true);
  tree_->setColumnWidth(ColElement, 200);
  for (int c = ColConnect; c <= ColAcqState; ++c) tree_->setColumnWidth(c, 64);
  resize(620, 320);
  LoadPlacement();
}

TStatusFrm::~TStatusFrm() { Detach(); }

void TStatusFrm::Attach(TLidarManager* source) {
  Detach();
  source_ = source;
  if (source_)
    source_->AddStatusConsumer(this, [this](TStatus*, TState::ChangeRaison) { Refresh(); }, StatusPriority);
  Refresh();
}

void TStatusFrm::Detach() {
  if (source_) source_->RemoveStatusConsumer(this);
  source_ = nullptr;
  tree_->clear();
  rows_.clear();
}

void TStatusFrm::Refresh() {
  if (!source_) {
    tree_->clear();
    rows_.clear();
    return;
  }
  std::set<std::string> seen;
  for (const TStatusRow& row : TStatusRows::Walk(&source_->Status)) {
    seen.insert(row.Key);
    QTreeWidgetItem*& item = rows_[row.Key];
    if (!item) {
      const auto parent = rows_.find(row.ParentKey);
      if (parent != rows_.end() && parent->second)
        item = new QTreeWidgetItem(parent->second);
      else
        item = new QTreeWidgetItem(tree_);
      item->setExpanded(true);
      if (item->parent()) item->parent()->setExpanded(true);
    }
    Apply(item, row);
  }
  // Statuses gone (an instrument rebuilt): deepest rows first, so that a
  // parent never goes before its children have been taken off the map.
  for (auto it = rows_.rbegin(); it != rows_.rend();) {
    if (seen.count(it->first)) {
      ++it;
      continue;
    }
    delete it->second;
    it = std::make_reverse_iterator(rows_.erase(std::next(it).base()));
  }
}

void TStatusFrm::Apply(QTreeWidgetItem* item, const TStatusRow& row) {
  const QString name = QString::fromStdString(row.Name);
  if (item->text(ColElement) != name) item->setText(ColElement, name);
  const QString text = QString::fromStdString(row.Text);
  if (item->text(ColText) != text) item->setText(ColText, text);
  SetImage(item, ColConnect, row.Connect);
  SetImage(item, ColPower, row.Power);
  SetImage(item, ColError, row.Error);
  SetImage(item, ColAcqState, row.AcqState);
  const QString error = QString::fromStdString(row.ErrorText);
  if (item->text(ColError) != error) item->setText(ColError, error);
}

void TStatusFrm::SetImage(QTreeWidgetItem* item, int column, int image) {
  if (ImageOf(item, column) == image) return;
  item->setData(column, ImageRole, image);
  item->setIcon(column, image >= 0 && image <= 2 ? Icon(image) : QIcon());
}

int TStatusFrm::ImageOf(const QTreeWidgetItem* item, int column) {
  const QVariant v = item->data(column, ImageRole);
  return v.isValid() ? v.toInt() : -1;
}

void TStatusFrm::ShowAndRaise() {
  show();
  setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
  Refresh();
}

void TStatusFrm::closeEvent(QCloseEvent* event) {
  SavePlacement();
  hide();
  event->ignore();
}

void TStatusFrm::LoadPlacement() {
  if (!store_) return;
  const QRect g = geometry();
  const int left = store_->ReadInteger(Section, Key("_Left"), g.x());
  const int top = store_->ReadInteger(Section, Key("_Top"), g.y());
  const int width = store_->ReadInteger(Section, Key("_Width"), g.width());
  const int height = store_->ReadInteger(Section, Key("_Height"), g.height());
  move(left, top);
  resize(std::max(width, 100), std::max(height, 60));
  for (int c = 0; c < ColumnCount - 1; ++c) {
    const int w = store_->ReadInteger(Section, Key("_Column") + std::to_string(c), tree_->columnWidth(c));
    if (w > 0) tree_->setColumnWidth(c, w);
  }
  // 0 normal, 1 minimised, 2 maximised.
  const int state = store_->ReadInteger(Section, Key("_WindowState"), 0);
  if (state == 2) setWindowState(Qt::WindowMaximized);
}

void TStatusFrm::SavePlacement() {
  if (!store_) return;
  const Qt::WindowStates state = windowState();
  // The normal placement is kept while maximised, to come back to it.
  if (!(state & Qt::WindowMaximized)) {
    store_->WriteInteger(Section, Key("_Left"), x());
    store_->WriteInteger(Section, Key("_Top"), y());
    store_->WriteInteger(Section, Key("_Height"), height());
    store_->WriteInteger(Section, Key("_Width"), width());
  }
  store_->WriteInteger(Section, Key("_WindowState"),
                       (state & Qt::WindowMaximized) ? 2 : (state & Qt::WindowMinimized) ? 1 : 0);
  for (int c = 0; c < ColumnCount - 1; ++c)
    store_->WriteInteger(Section, Key("_Column") + std::to_string(c), tree_->columnWidth(c));
  store_->UpdateFile();
}

}  // namespace OrlaqLidar
