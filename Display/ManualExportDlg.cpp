#include "Display/ManualExportDlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace OrlaqLidar {

TManualExportDlg::TManualExportDlg(const TExportConfig& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle(tr("Export all data"));
  auto* form = new QFormLayout(this);
  folder_ = new QLineEdit(QString::fromStdString(settings.Folder), this);
  auto* browse = new QPushButton(tr("..."), this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Export folder"), folder_->text());
    if (!dir.isEmpty()) folder_->setText(dir);
  });
  auto* folderRow = new QHBoxLayout();
  folderRow->addWidget(folder_, 1);
  folderRow->addWidget(browse);
  form->addRow(tr("Folder"), folderRow);
  pattern_ = new QLineEdit(QString::fromStdString(settings.FilePattern), this);
  form->addRow(tr("File name pattern"), pattern_);
  slice_ = new QSpinBox(this);
  slice_->setRange(0, 1440);
  slice_->setSuffix(tr(" min"));
  slice_->setSpecialValueText(tr("one file"));
  slice_->setValue(settings.MinutesSlice);
  form->addRow(tr("File slice"), slice_);
  form->addRow(tr("Format"), new QLabel(QString::fromStdString(settings.Type + ", processing " +
                                                               settings.Processing.ToCode() + ", profiles of " +
                                                               std::to_string(settings.Processing.ProfileTime) + " s"),
                                        this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
  resize(520, sizeHint().height());
}

TExportConfig TManualExportDlg::Settings() const {
  TExportConfig s = settings_;
  s.Folder = folder_->text().toStdString();
  s.FilePattern = pattern_->text().toStdString();
  s.MinutesSlice = slice_->value();
  return s;
}

}  // namespace OrlaqLidar
