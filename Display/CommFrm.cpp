#include "Display/CommFrm.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "Common/TraceText.h"
#include "Platform/Services.h"
#include "kernel/LidarManager.h"

namespace OrlaqLidar {

// The rows of the trace log as a table. The log trims its oldest rows as it
// adds a new one; the model tells the view about both in turn, so that it
// never reads a row that has moved.
class TCommFrm::TRowModel : public QAbstractTableModel {
 public:
  explicit TRowModel(const TCommTraceLog& log, QObject* parent) : QAbstractTableModel(parent), log_(log) {}

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : shown_; }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 5; }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    static const char* const Titles[] = {"Date Time", "Component", "Way", "Length", "Message"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 4) return {};
    return QString::fromLatin1(Titles[section]);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const int i = index.row() - pendingRemoved_;
    if (i < 0 || static_cast<size_t>(i) >= log_.Rows().Size()) return {};
    const TCommTraceLog::TRow& row = log_.Rows()[static_cast<size_t>(i)];
    switch (index.column()) {
      case 0: return QString::fromStdString(row.Time);
      case 1: return QString::fromStdString(row.Source);
      case 2: return QString(QChar::fromLatin1(row.Kind));
      case 3: return row.Length;
      default: return QString::fromStdString(row.Message);
    }
  }

  // After the log added one row and removed `removed` of its oldest.
  void RowAdded(size_t removed) {
    if (removed > 0) {
      const int n = std::min(static_cast<int>(removed), shown_);
      pendingRemoved_ = n;
      beginRemoveRows({}, 0, n - 1);
      shown_ -= n;
      pendingRemoved_ = 0;
      endRemoveRows();
    }
    beginInsertRows({}, shown_, shown_);
    ++shown_;
    endInsertRows();
  }

  void Reset(const std::function<void()>& change) {
    beginResetModel();
    change();
    shown_ = static_cast<int>(log_.Rows().Size());
    endResetModel();
  }

 private:
  const TCommTraceLog& log_;
  int shown_ = 0;
  int pendingRemoved_ = 0;
};

TCommFrm::TCommFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Communication details"));
  setAttribute(Qt::WA_QuitOnClose, false);
  model_ = new TRowModel(log_, this);

  sources_ = new QListWidget(this);
  auto* all = new QListWidgetItem(tr("Check all"), sources_);
  all->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
  all->setCheckState(Qt::Unchecked);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setColumnWidth(0, 170);
  table_->setColumnWidth(1, 140);
  table_->setColumnWidth(2, 40);
  table_->setColumnWidth(3, 60);
  autoScroll_ = new QCheckBox(tr("Auto Scroll"), this);
  autoScroll_->setChecked(true);
  logToFile_ = new QCheckBox(tr("Log to file"), this);
  auto* clear = new QPushButton(tr("Clear"), this);

  auto* splitter = new QSplitter(this);
  splitter->addWidget(sources_);
  splitter->addWidget(table_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({180, 720});
  auto* bar = new QHBoxLayout;
  bar->addWidget(autoScroll_);
  bar->addWidget(logToFile_);
  bar->addStretch(1);
  bar->addWidget(clear);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(bar);

  connect(sources_, &QListWidget::itemChanged, this, &TCommFrm::OnSourceItemChanged);
  connect(logToFile_, &QCheckBox::toggled, this, [this](bool on) { log_.LogToFile = on; });
  connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
  resize(900, 420);
}

TCommFrm::~TCommFrm() { Detach(); }

void TCommFrm::Attach(TLidarManager* source) {
  Detach();
  source_ = source;
  if (source_)
    source_->AddTraceConsumer(this, [this](const std::string& name, int kind, const uint8_t* data, int length,
                                           TDateTime time) { OnTrace(name, kind, data, length, time); });
}

void TCommFrm::Detach() {
  if (source_) source_->RemoveTraceConsumer(this);
  source_ = nullptr;
}

void TCommFrm::OnTrace(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time) {
  const TCommTraceLog::TResult r =
      log_.Trace(source, kind, data, length, time, TTraceText::ToLocal(Services().Clock->NowUTC()));
  if (r.SourceAdded) {
    const QSignalBlocker block(sources_);
    auto* item = new QListWidgetItem(QString::fromStdString(source), sources_);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(log_.Sources.CheckAll() ? Qt::Checked : Qt::Unchecked);
  }
  if (!r.RowAdded) return;
  model_->RowAdded(r.RowsRemoved);
  if (autoScroll_->isChecked()) table_->scrollToBottom();
}

void TCommFrm::OnSourceItemChanged(QListWidgetItem* item) {
  const int row = sources_->row(item);
  const bool on = item->checkState() == Qt::Checked;
  if (row == 0)
    log_.Sources.SetCheckAll(on);
  else if (row > 0)
    log_.Sources.SetChecked(static_cast<size_t>(row - 1), on);
  ShowSourceStates();
}

void TCommFrm::ShowSourceStates() {
  const QSignalBlocker block(sources_);
  sources_->item(0)->setCheckState(log_.Sources.CheckAll() ? Qt::Checked : Qt::Unchecked);
  const auto& items = log_.Sources.Items();
  for (size_t i = 0; i < items.size(); ++i)
    sources_->item(static_cast<int>(i) + 1)->setCheckState(items[i].Checked ? Qt::Checked : Qt::Unchecked);
}

bool TCommFrm::SetLogFolder(const std::string& folder) { return log_.SetLogFolder(folder); }

void TCommFrm::SetCheckAll(bool on) { sources_->item(0)->setCheckState(on ? Qt::Checked : Qt::Unchecked); }

void TCommFrm::SetLogToFile(bool on) { logToFile_->setChecked(on); }

void TCommFrm::Clear() {
  model_->Reset([this] { log_.Clear(); });
}

int TCommFrm::RowCount() const { return model_->rowCount({}); }

QString TCommFrm::CellText(int row, int column) const { return model_->index(row, column).data().toString(); }

int TCommFrm::SourceItemCount() const { return sources_->count(); }

bool TCommFrm::SourceItemChecked(int index) const {
  return index >= 0 && index < sources_->count() && sources_->item(index)->checkState() == Qt::Checked;
}

}  // namespace OrlaqLidar
