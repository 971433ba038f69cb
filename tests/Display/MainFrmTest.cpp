// The main window offscreen on a fake two-channel instrument in simulated
// time: connection, laser, live quicklook and status bar, then the
// recorded files replayed into the quicklook in reader mode and saved as
// a picture.
#include "Display/MainFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <filesystem>
#include <memory>

#include "Common/IniFile.h"
#include "Display/DisplayCtrl.h"
#include "Display/ProfileView.h"
#include "Export/ExportSession.h"
#include "Display/QuickLookPanel.h"
#include "kernel/LidarApplication.h"
#include "tests/Display/MainWindowFixture.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

namespace fs = std::filesystem;

// Two channels, and the automatic export into a folder of its own.
class MainFrmTest : public OrlaqLidar::Test::TMainWindowFixture {
 protected:
  MainFrmTest() {
    for (const char* dev : {"DEV P", "DEV S"}) instrument.shotBytes[usb.AddDevice(dev, "A1")] = 64;
    app->Store().WriteString("Skyvane\\Export", "Folder", (dir / "auto").string());
    app->SetAutoExportFactory(OrlaqExport::TExportSession::AutoExportFactory());
  }
  int FilledChannels() const {
    int n = 0;
    for (const auto* ch : window->Display()->Quicklook()->Channels()) n += ch->Slices().LastFilledColumn() >= 0;
    return n;
  }
};

TEST_F(MainFrmTest, LiveProfilesReachTheQuicklookThenRecordedFilesAreReplayedInReaderMode) {
  app->Init(true);
  window = std::make_unique<TMainFrm>(*app);
  // A normal machine: the running column is drawn after every shot.
  window->Gui().MidLowEndPC = false;
  window->SetAcquisitionAllowed(true);
  window->StartUp();
  ASSERT_EQ(window->Display()->Quicklook()->PanelCount(), 2);
  EXPECT_EQ(window->windowTitle(), "Orlaq LIDAR - Acquisition");
  EXPECT_FALSE(window->Action("actPower")->isEnabled());

  Run(5000);  // the channels' first open waits 3 s
  ASSERT_EQ(app->Source()->Status.ConnectState(), TState::Connected);
  EXPECT_EQ(window->windowTitle(), "Orlaq LIDAR - Acquisition [LIDSIM01]");
  EXPECT_TRUE(window->Action("actPower")->isEnabled());
  EXPECT_FALSE(window->Action("actAdd")->isEnabled()) << "adding files is for reader mode";

  // Export on and off from its button: the laser goes on with it.
  window->Action("actExport")->trigger();
  Run(8000);
  ASSERT_TRUE(app->AutoExporter());
  window->OnSecTimer();
  EXPECT_TRUE(window->PanelText(0).startsWith(" [")) << window->PanelText(0).toStdString();
  window->Action("actExport")->trigger();
  EXPECT_FALSE(app->AutoExporter());
  EXPECT_FALSE(window->Action("actExport")->isChecked());
  EXPECT_EQ(app->Source()->Status.PowerState(), TState::LaserOn);
  EXPECT_TRUE(window->Action("actPower")->isChecked());
  EXPECT_FALSE(window->Action("actOpen")->isEnabled()) << "no replay while the laser is on";
  EXPECT_EQ(FilledChannels(), 2);
  EXPECT_EQ(window->PanelText(2), "Laser on");
  EXPECT_EQ(window->PanelText(3).toStdString(), FormatDateTime(Clock.NowUTC(), false).substr(11));
  EXPECT_TRUE(window->PanelText(1).startsWith("[Day] TST ") || window->PanelText(1).startsWith("[Night] TST "));
  EXPECT_FALSE(window->Display()->Profiles()->Display().Curves().empty()) << "the running profile is shown live";

  window->Action("actPower")->trigger();
  Run(1000);
  ASSERT_EQ(app->Source()->Status.PowerState(), TState::LaserOff);
  EXPECT_TRUE(window->Action("actOpen")->isEnabled());

  ASSERT_TRUE(window->SwitchMode(false));
  EXPECT_EQ(window->windowTitle(), "Orlaq LIDAR - Reader");
  EXPECT_FALSE(window->Action("actConnect")->isVisible());
  EXPECT_TRUE(window->Action("actAcquisitionMode")->isEnabled());
  EXPECT_EQ(FilledChannels(), 0) << "new views on the new source";

  QStringList files;
  for (const auto& e : fs::recursive_directory_iterator(dir / "LidData"))
    if (e.path().extension() == ".skv2") files << QString::fromStdString(e.path().string());
  ASSERT_FALSE(files.isEmpty());
  ASSERT_TRUE(window->LoadFiles(files, false));
  EXPECT_TRUE(window->MessagePanelVisible());
  Loop.RunIdle();
  Loop.ProcessPosted();
  EXPECT_FALSE(window->MessagePanelVisible()) << "the replay is done";
  EXPECT_EQ(FilledChannels(), 2);
  EXPECT_EQ(window->windowTitle(), "Orlaq LIDAR - Reader [LIDSIM01]");

  // The loaded files exported by hand, the views left as they are.
  TExportConfig manual = app->Config.Export;
  manual.Folder = (dir / "manual").string();
  ASSERT_TRUE(window->Action("actManualExport")->isEnabled());
  ASSERT_TRUE(window->ExportLoadedFiles(manual));
  EXPECT_FALSE(window->MessagePanelVisible());
  EXPECT_FALSE(fs::is_empty(dir / "manual"));
  EXPECT_EQ(FilledChannels(), 2);

  const fs::path png = dir / "ql.png";
  ASSERT_TRUE(window->SaveQuicklookImage(QString::fromStdString(png.string())));
  const QImage image(QString::fromStdString(png.string()));
  EXPECT_FALSE(image.isNull());
  EXPECT_GE(image.height(), 600) << "two panels";
}

}  // namespace
}  // namespace OrlaqLidar
