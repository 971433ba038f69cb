#include "Display/MessageTraceFrm.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "Common/TraceText.h"
#include "Platform/Services.h"

namespace OrlaqLidar {

TMessageTraceFrm::TMessageTraceFrm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Messages trace"));
  // A tool window: closing the main window ends the program even while
  // this one is open, and a popping line does not steal the keyboard.
  setAttribute(Qt::WA_QuitOnClose, false);
  setAttribute(Qt::WA_ShowWithoutActivating);
  chooser_ = [](QWidget* p, const QString& title, const QString& folder) {
    return QFileDialog::getSaveFileName(p, title, folder);
  };

  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout;
  autoScroll_ = new QCheckBox(tr("Automatic scroll"), this);
  autoOpen_ = new QCheckBox(tr("Automatic popup"), this);
  autoSave_ = new QCheckBox(tr("Autosave ..."), this);
  timeStamps_ = new QCheckBox(tr("Time stamps"), this);
  maximum_ = new QSpinBox(this);
  maximum_->setRange(0, 1000000);
  maximum_->setPrefix(tr("Maximum lines "));
  maximum_->setSpecialValueText(tr("All lines"));
  maximum_->setToolTip(tr("Lines kept; 0 keeps all"));
  auto* save = new QPushButton(tr("Save to a file..."), this);
  auto* clear = new QPushButton(tr("Clear"), this);
  for (QWidget* w : std::initializer_list<QWidget*>{autoScroll_, autoOpen_, autoSave_, timeStamps_, maximum_})
    bar->addWidget(w);
  bar->addStretch(1);
  bar->addWidget(save);
  bar->addWidget(clear);
  list_ = new QListWidget(this);
  list_->setUniformItemSizes(true);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  status_ = new QLabel(this);
  status_->setTextFormat(Qt::PlainText);
  layout->addLayout(bar);
  layout->addWidget(list_, 1);
  layout->addWidget(status_);
  ShowOptions();

  connect(autoScroll_, &QCheckBox::toggled, this, [this](bool on) { log_.AutoScroll = on; });
  connect(autoOpen_, &QCheckBox::toggled, this, [this](bool on) { log_.AutoOpen = on; });
  connect(timeStamps_, &QCheckBox::toggled, this, [this](bool on) { log_.TimeStamps = on; });
  connect(autoSave_, &QCheckBox::clicked, this, [this](bool on) { SetAutoSave(on); });
  connect(maximum_, &QSpinBox::valueChanged, this, [this](int value) { SetMaximum(value); });
  connect(save, &QPushButton::clicked, this, [this] { SaveToFile(); });
  connect(clear, &QPushButton::clicked, this, [this] { Clear(); });
  resize(760, 360);
}

void TMessageTraceFrm::ShowOptions() {
  const QSignalBlocker b1(autoScroll_), b2(autoOpen_), b3(autoSave_), b4(timeStamps_), b5(maximum_);
  autoScroll_->setChecked(log_.AutoScroll);
  autoOpen_->setChecked(log_.AutoOpen);
  autoSave_->setChecked(log_.AutoSave());
  timeStamps_->setChecked(log_.TimeStamps);
  maximum_->setValue(std::max(log_.Maximum(), 0));
}

void TMessageTraceFrm::AddLine(const std::string& text) {
  const size_t removed = log_.Add(text, TTraceText::ToLocal(Services().Clock->NowUTC()));
  // The list follows the kept lines: the newest appended, the oldest gone.
  for (size_t i = 0; i < removed && list_->count() > 0; ++i) delete list_->takeItem(0);
  const QString line = QString::fromStdString(log_.Lines().Back());
  list_->addItem(line);
  status_->setText(line);
  if (log_.AutoScroll) list_->scrollToBottom();
  if (log_.AutoOpen && !isVisible()) show();
}

void TMessageTraceFrm::Clear() {
  log_.Clear();
  list_->clear();
  status_->clear();
}

void TMessageTraceFrm::SetMaximum(int maximum) {
  const size_t removed = log_.SetMaximum(maximum);
  for (size_t i = 0; i < removed && list_->count() > 0; ++i) delete list_->takeItem(0);
  ShowOptions();
}

void TMessageTraceFrm::SetAutoSave(bool on) {
  QString path;
  if (on) path = chooser_(this, tr("Save log as ..."), saveFolder_);
  log_.SetAutoSave(path.toStdString());
  ShowOptions();
}

void TMessageTraceFrm::SaveToFile() {
  const QString path = chooser_(this, tr("Save log as ..."), saveFolder_);
  if (path.isEmpty()) return;
  if (!log_.SaveTo(path.toStdString()))
    QMessageBox::warning(this, windowTitle(), tr("The lines could not be written to %1").arg(path));
}

int TMessageTraceFrm::ShownLineCount() const { return list_->count(); }

QString TMessageTraceFrm::StatusText() const { return status_->text(); }

}  // namespace OrlaqLidar
