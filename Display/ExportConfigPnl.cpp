#include "Display/ExportConfigPnl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "Config/ProcessingSetup.h"
#include "Display/EditFieldGuard.h"

namespace OrlaqLidar {

namespace {
struct TLevelBox {
  const char* Caption;
  int Flag;
};
constexpr TLevelBox LevelBoxes[5] = {{"Count rate [S]", TProcessingSetup::FlagSensor},
                                     {"Background [B]", TProcessingSetup::FlagBackground},
                                     {"Afterpulse [A]", TProcessingSetup::FlagAfterPulse},
                                     {"Overlap [O]", TProcessingSetup::FlagOverlap},
                                     {"Range² [R2]", TProcessingSetup::FlagRange2}};
// The delimiter entries that stand for a character hard to type.
constexpr const char* Tabulation = TExportConfig::TabName;
constexpr const char* Space = TExportConfig::SpaceName;
}  // namespace

TExportConfigPnl::TExportConfigPnl(const TExportConfig& s, QLabel* errorLabel, QWidget* parent)
    : QWidget(parent), error_(errorLabel) {
  auto* form = new QFormLayout(this);
  type_ = new QComboBox(this);
  type_->setObjectName("cbExportType");
  type_->addItems({"Text", "SCC", "CF"});
  type_->setEditable(false);
  const int typeIndex = type_->findText(QString::fromStdString(s.Type), Qt::MatchFixedString);
  if (typeIndex < 0) type_->addItem(QString::fromStdString(s.Type));  // kept as read, so that saving keeps it
  type_->setCurrentIndex(typeIndex >= 0 ? typeIndex : type_->count() - 1);
  form->addRow(tr("Format"), type_);

  pattern_ = new QLineEdit(QString::fromStdString(s.FilePattern), this);
  pattern_->setObjectName("edFilePattern");
  pattern_->setToolTip(tr("%SN% serial number, %YYYY% %YY% %MM% %DD% %hh% %mn% date and time, "
                          "%hhS% %mnS% slice start, %SLICE% slice number; may hold subfolders"));
  form->addRow(tr("File name pattern"), pattern_);
  auto* sliceEdit = new QLineEdit(this);
  sliceEdit->setObjectName("edMinutesSlice");
  slice_ = new TEditFieldGuard(sliceEdit, TFieldKind::Whole, s.MinutesSlice, 0, 1440, error_);
  sliceEdit->setToolTip(tr("Length of one file in minutes, 0 for no slicing"));
  form->addRow(tr("File slice (min)"), sliceEdit);

  auto* timeEdit = new QLineEdit(this);
  timeEdit->setObjectName("edExportProfileTime");
  profileTime_ = new TEditFieldGuard(timeEdit, TFieldKind::Whole, s.Processing.ProfileTime, 0, 3600, error_);
  timeEdit->setToolTip(tr("Accumulation time of the exported profiles in seconds, 0 for the shortest"));
  form->addRow(tr("Profile time (sec)"), timeEdit);
  auto* levelRow = new QHBoxLayout();
  for (size_t i = 0; i < 5; ++i) {
    levels_[i] = new QCheckBox(QString::fromUtf8(LevelBoxes[i].Caption), this);
    levels_[i]->setChecked((s.Processing.Processings & LevelBoxes[i].Flag) != 0);
    levelRow->addWidget(levels_[i]);
  }
  form->addRow(tr("Processing"), levelRow);

  delimiter_ = new QComboBox(this);
  delimiter_->setObjectName("cbColumnDelimiter");
  delimiter_->setEditable(true);
  delimiter_->setInsertPolicy(QComboBox::NoInsert);
  delimiter_->addItems({";", ",", Tabulation, Space});
  const QString d = QString::fromStdString(s.ColumnDelimiter);
  delimiter_->setEditText(d == "\t" ? QString(Tabulation) : d == " " ? QString(Space) : d);
  form->addRow(tr("Column delimiter"), delimiter_);
  dateFormat_ = new QComboBox(this);
  dateFormat_->addItems({tr("Day decimal"), tr("RFC3339"), tr("Unix epoch")});
  dateFormat_->setCurrentIndex(s.DateFormat <= 2 ? s.DateFormat : 0);
  form->addRow(tr("Date format"), dateFormat_);
  monitoring_ = new QCheckBox(tr("Export monitoring and INS records"), this);
  monitoring_->setChecked(s.LogMonitoring);
  form->addRow(monitoring_);

  sccStation_ = new QLineEdit(QString::fromStdString(s.SccStation), this);
  sccStation_->setToolTip(tr("Station code of the lidar network (SCC format)"));
  form->addRow(tr("SCC station"), sccStation_);
  sccChannels_ = new QLineEdit(QString::fromStdString(s.SccChannelIDs), this);
  sccChannels_->setToolTip(tr("Channel identifiers of the network as RecordID:ID pairs, i.e: 1:101,2:102"));
  form->addRow(tr("SCC channel IDs"), sccChannels_);
  institution_ = new QLineEdit(QString::fromStdString(s.Institution), this);
  institution_->setToolTip(tr("Institution named in the daily files (CF format)"));
  form->addRow(tr("Institution"), institution_);
}

bool TExportConfigPnl::Valid() {
  if (pattern_->text().trimmed().isEmpty()) {
    error_->setText(tr(EmptyPatternRefusal));
    pattern_->setFocus();
    return false;
  }
  if (delimiter_->currentText().isEmpty()) {
    error_->setText(tr("The column delimiter can't be empty !"));
    delimiter_->setFocus();
    return false;
  }
  return slice_->Valid() && profileTime_->Valid();
}

void TExportConfigPnl::Store(TExportConfig& s) const {
  s.Type = type_->currentText().toStdString();
  s.FilePattern = pattern_->text().toStdString();
  s.MinutesSlice = slice_->IntValue();
  s.Processing.ProfileTime = profileTime_->IntValue();
  int mask = TProcessingSetup::FlagParsed;
  for (size_t i = 0; i < 5; ++i)
    if (levels_[i]->isChecked()) mask |= LevelBoxes[i].Flag;
  s.Processing.Processings = mask;
  const QString d = delimiter_->currentText();
  s.ColumnDelimiter = d == Tabulation ? std::string("\t") : d == Space ? std::string(" ") : d.toStdString();
  s.DateFormat = static_cast<uint8_t>(dateFormat_->currentIndex());
  s.LogMonitoring = monitoring_->isChecked();
  s.SccStation = sccStation_->text().trimmed().toStdString();
  s.SccChannelIDs = sccChannels_->text().trimmed().toStdString();
  s.Institution = institution_->text().trimmed().toStdString();
}

}  // namespace OrlaqLidar
