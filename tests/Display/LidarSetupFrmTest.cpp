// The properties dialog opened from the main window offscreen: a refused
// latitude, values stored into the setup and saved, the afterpulse command
// run after closing; and a calibration archive installed and loaded.
#include "Display/LidarSetupFrm.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <cstring>
#include <memory>

#include "Common/IniFile.h"
#include "Display/CalibrationUnzip.h"
#include "Display/MainFrm.h"
#include "kernel/LidarApplication.h"
#include "tests/Display/MainWindowFixture.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

using namespace OrlaqLidar::Test;

// Reader mode, the window up; the settings kept in a file, to read back what
// the dialog saved.
class LidarSetupFrmTest : public TMainWindowFixture {
 protected:
  LidarSetupFrmTest()
      : TMainWindowFixture({.Definition = kMiniReaderDefinition, .SettingsFile = true}) {
    app->Init(false);
    window = std::make_unique<TMainFrm>(*app);
    window->StartUp();
  }
};

TEST_F(LidarSetupFrmTest, OutOfRangeLatitudeIsRefusedThenValuesAreStoredAndTheAfterpulseCommandRuns) {
  int afterPulseRuns = 0;
  auto* afterPulse = new QAction(window.get());
  afterPulse->setObjectName("actAfterPulseCalib");
  window->addAction(afterPulse);
  QObject::connect(afterPulse, &QAction::triggered, [&] { ++afterPulseRuns; });

  bool reached = false;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<TLidarSetupFrm*>(QApplication::activeModalWidget());
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->findChild<QTableWidget*>("lvCalibrations")->rowCount(), 1);
    dlg->findChild<QLineEdit*>("edLatitude")->setText("95");
    dlg->findChild<QLineEdit*>("edAltitude")->setText("1250.5");
    auto* run = dlg->findChild<QPushButton*>("btnAfterPulse");
    run->click();
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->ErrorText(), "The value must be between -90 and 90");
    EXPECT_EQ(app->Config.Setup.AltitudeBase, 0) << "nothing stored while a field is refused";
    dlg->findChild<QLineEdit*>("edLatitude")->setText("45,63713");
    reached = true;
    run->click();
    if (dlg->isVisible()) dlg->reject();
  });
  window->Action("actProperties")->trigger();
  ASSERT_TRUE(reached);
  EXPECT_DOUBLE_EQ(app->Config.Setup.LatitudeBase, 45.63713);
  EXPECT_DOUBLE_EQ(app->Config.Setup.AltitudeBase, 1250.5);
  EXPECT_DOUBLE_EQ(TIniFile(settings).ReadFloat("Skyvane\\Setup", "LatitudeBase", 0), 45.63713);
  EXPECT_EQ(afterPulseRuns, 1);
}

TEST_F(LidarSetupFrmTest, ArchiveIsInstalledAndItsCalibrationsLoaded) {
  EXPECT_EQ(TCalibrationUnzip::Install(app->Config, QString::fromStdString((dir / "none.zip").string())),
            "File does't exists !");
  const std::string archive = (dir / "cal.zip").string();
  zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
  ASSERT_TRUE(za);
  static const char apd[] = "1\n2.5e-9\n0\n1\n";
  zip_file_add(za, "Channel1/APDCoefs.txt", zip_source_buffer(za, apd, std::strlen(apd), 0), ZIP_FL_ENC_UTF_8);
  ASSERT_EQ(zip_close(za), 0);
  ASSERT_NE(app->Config.Setup.FindCalibration(1)->ApdState, TCalibration::StatePresent);
  EXPECT_EQ(TCalibrationUnzip::Install(app->Config, QString::fromStdString(archive)), "1 file(s) extracted");
  EXPECT_EQ(app->Config.Setup.FindCalibration(1)->ApdState, TCalibration::StatePresent);
}

}  // namespace
}  // namespace OrlaqLidar
