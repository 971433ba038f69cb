// The configuration dialog opened from the main window offscreen: typed
// time span, the refused distance axis, then OK saving the settings file
// and the main window applying the display settings.
#include "Display/AppConfigFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "Common/IniFile.h"
#include "Display/DisplayCtrl.h"
#include "Display/MainFrm.h"
#include "Display/ProfileView.h"
#include "Display/QuickLookPanel.h"
#include "Display/QuicklookChannel.h"
#include "Display/TimeSpanCombo.h"
#include "kernel/LidarApplication.h"
#include "tests/Display/MainWindowFixture.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

void Key(QWidget* w, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
}

using namespace OrlaqLidar::Test;

// Reader mode, the window up; the settings kept in a file, to read back what
// the dialog saved.
class AppConfigFrmTest : public TMainWindowFixture {
 protected:
  AppConfigFrmTest()
      : TMainWindowFixture({.Definition = kMiniReaderDefinition, .SettingsFile = true}) {
    app->Init(false);
    window = std::make_unique<TMainFrm>(*app);
    window->StartUp();
  }
  // Runs f on the dialog once it is shown modally; closes it if f did not.
  template <class F>
  void OnDialog(F f) {
    QTimer::singleShot(0, [f] {
      auto* dlg = qobject_cast<TAppConfigFrm*>(QApplication::activeModalWidget());
      ASSERT_TRUE(dlg);
      f(*dlg);
      if (dlg->isVisible()) dlg->reject();
    });
  }
};

TEST_F(AppConfigFrmTest, OkStoresCheckedValuesSavesThemAndTheWindowAppliesThem) {
  const std::string runningData = app->Config.DataFolder;
  bool reachedOk = false;
  OnDialog([&](TAppConfigFrm& dlg) {
    auto* span = dlg.findChild<TTimeSpanCombo*>("cbQLTimeSpan");
    span->setEditText("");
    Key(span->lineEdit(), Qt::Key_6, "6");
    Key(span->lineEdit(), Qt::Key_X, "x");
    Key(span->lineEdit(), Qt::Key_5, "5");
    EXPECT_EQ(span->currentText(), "65") << "letters other than the units are refused";
    Key(span->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(span->currentText(), "2h");
    span->setEditText("no number");
    Key(span->lineEdit(), Qt::Key_Escape);
    EXPECT_EQ(span->currentText(), "2h");

    auto* hq = dlg.findChild<QCheckBox*>("cbHQProfile");
    hq->setEnabled(true);
    hq->setChecked(true);
    dlg.findChild<QCheckBox*>("cbMidLowEndPC")->setChecked(true);
    EXPECT_FALSE(hq->isChecked());
    EXPECT_FALSE(hq->isEnabled());

    dlg.findChild<QCheckBox*>("cbAutDist")->setChecked(false);
    dlg.findChild<QLineEdit*>("edMinDist")->setText("1");
    auto* maxDist = dlg.findChild<QLineEdit*>("edMaxDist");
    maxDist->setText("1,4");
    dlg.findChild<QLineEdit*>("edDataFolder")->setText(QString::fromStdString((dir / "Elsewhere/").string()));
    auto* ok = dlg.findChild<QPushButton*>("btnOk");
    auto* pattern = dlg.findChild<QLineEdit*>("edFilePattern");
    pattern->clear();
    ok->click();
    ASSERT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ErrorText(), "File name can't be empty !");
    pattern->setText("%SN%_%YYYY%");
    dlg.findChild<QComboBox*>("cbColumnDelimiter")->setEditText("Tabulation");
    ok->click();
    ASSERT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.ErrorText(), "Difference between Min and Max Distance/Altitude must be 500m at least !");
    EXPECT_EQ(maxDist->text(), "1.5");
    reachedOk = true;
    ok->click();
  });
  window->Action("actQLTimeSpan")->trigger();
  ASSERT_TRUE(reachedOk);

  TIniFile saved(settings);
  EXPECT_EQ(saved.ReadInteger("Skyvane\\GUI", "QLTimeSpanMin", 0), 120);
  EXPECT_FALSE(saved.ReadBool("Skyvane\\GUI", "AutDist", true));
  EXPECT_DOUBLE_EQ(saved.ReadFloat("Skyvane\\GUI", "MaxDist", 0), 1500);
  EXPECT_TRUE(saved.ReadBool("Skyvane\\GUI", "MidLowEndPC", false));
  EXPECT_EQ(saved.ReadString("Skyvane", "DataFolder", ""), (dir / "Elsewhere").string());
  TExportConfig exportSaved;
  exportSaved.Load(saved, TExportConfig::Section);
  EXPECT_EQ(exportSaved.FilePattern, "%SN%_%YYYY%");
  EXPECT_EQ(exportSaved.ColumnDelimiter, "\t");
  EXPECT_EQ(app->Config.DataFolder, runningData) << "folders change at the next start";
  EXPECT_EQ(window->Display()->Quicklook()->Channels().at(0)->TimeSpan(), 120);
  EXPECT_FALSE(window->Display()->Profiles()->renderHints().testFlag(QPainter::Antialiasing));
}

}  // namespace
}  // namespace OrlaqLidar
