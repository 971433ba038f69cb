// What the main window shows of the kernel, without the window: title,
// status icon, processing-level masks, the profile-time field, the USB
// list, the solar time of the status bar and the model menu's list.
#include "Display/MainFrmState.h"

#include <gtest/gtest.h>

#include "Common/SolarTime.h"
#include "Config/LidarModelList.h"
#include "kernel/Status.h"
#include "kernel/files/LidarReplay.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

TEST(MainFrmState, TitleNamesTheModeAndTheSerialNumber) {
  EXPECT_EQ(TMainFrmState::Title(true, ""), "Orlaq LIDAR - Acquisition");
  EXPECT_EQ(TMainFrmState::Title(true, "LIDSIM01"), "Orlaq LIDAR - Acquisition [LIDSIM01]");
  EXPECT_EQ(TMainFrmState::Title(false, "LIDSIM01"), "Orlaq LIDAR - Reader [LIDSIM01]");
}

TEST(MainFrmState, StatusIconFollowsReplayThenConnectionAndBlinksOnOddSeconds) {
  TStatus s("Lidar Acquisition", "");
  EXPECT_EQ(TMainFrmState::StatusIcon(s), 2);
  s.SetConnectState(TState::Connecting);
  EXPECT_EQ(TMainFrmState::StatusIcon(s), 1);
  EXPECT_TRUE(TMainFrmState::IconShown(1, 40));
  EXPECT_FALSE(TMainFrmState::IconShown(1, 41));
  EXPECT_TRUE(TMainFrmState::IconShown(0, 41));
  s.SetConnectState(TState::Connected);
  EXPECT_EQ(TMainFrmState::StatusIcon(s), 0);
  // A replay's state wins over the connection.
  s.SetReplayState(TLidarReplay::ReplayLoadingFiles);
  EXPECT_EQ(TMainFrmState::StatusIcon(s), 1);
  s.SetReplayState(TLidarReplay::ReplayDone);
  EXPECT_EQ(TMainFrmState::StatusIcon(s), 0);
}

TEST(MainFrmState, ProcessingLevelMenu) {
  // The default 63 checks "Lidar Signal" and the afterpulse item.
  EXPECT_STREQ(TMainFrmState::Levels[static_cast<size_t>(TMainFrmState::LevelIndex(63))].Caption,
               "Lidar Signal [OSBr²]");
  EXPECT_EQ(TMainFrmState::LevelIndex(39), 3);
  EXPECT_EQ(TMainFrmState::LevelIndex(1), -1);
  bool enabled = false;
  EXPECT_EQ(TMainFrmState::LevelMask(55, true, enabled), 63);
  EXPECT_TRUE(enabled);
  // Without the count rate (1) the afterpulse correction is dropped and its item disabled.
  EXPECT_EQ(TMainFrmState::LevelMask(2, true, enabled), 2);
  EXPECT_FALSE(enabled);
}

TEST(MainFrmState, FieldsListsAndPanelTexts) {
  EXPECT_EQ(TMainFrmState::ClampProfileTime(4000), 3600);
  EXPECT_EQ(TMainFrmState::ClampProfileTime(-5), 0);
  EXPECT_EQ(TMainFrmState::ExportText(false, "x"), "");
  EXPECT_EQ(TMainFrmState::ExportText(true, ""), " [ waiting data ...]");
  EXPECT_EQ(TMainFrmState::ExportText(true, "/exp/a.txt"), " [/exp/a.txt]");
  TFtdiUSB::sUSBDevice d{"ORML LIDAR A", "A1", true, 5, 0x04036001, 0x1a2};
  EXPECT_EQ(TMainFrmState::UsbDeviceList({d}),
            "List of FTDI USB Devices:\nORML LIDAR A : A1 [Open] Type:5 ID:04036001 Loc:000001A2\n");
}

TEST(SolarTime, DayAndNightAtKnownPlacesAndDates) {
  // Clermont-Ferrand (3.08 E stored as negative, 45.76 N), 21 June 2024.
  const double lon = -3.08, lat = 45.76;
  const TSolarTime noon = TSolarTime::At(EncodeDateTime(2024, 6, 21, 12, 0, 0), lon, lat);
  EXPECT_TRUE(noon.Day);
  EXPECT_EQ(noon.Text().substr(0, 9), "[Day] TST");
  // 12.3 min ahead for the longitude, 1.9 min back for the equation of time.
  EXPECT_NEAR((noon.Tst - EncodeDateTime(2024, 6, 21, 12, 0, 0)) * 1440, 10.4, 0.2);
  EXPECT_FALSE(TSolarTime::At(EncodeDateTime(2024, 6, 21, 23, 30, 0), lon, lat).Day);
  EXPECT_EQ(TSolarTime::At(EncodeDateTime(2024, 12, 21, 2, 0, 0), lon, lat).Text().substr(0, 11), "[Night] TST");
  // Polar night at 78 N in December, midnight sun in June.
  EXPECT_FALSE(TSolarTime::At(EncodeDateTime(2024, 12, 21, 12, 0, 0), -15.6, 78.2).Day);
  EXPECT_TRUE(TSolarTime::At(EncodeDateTime(2024, 6, 21, 0, 0, 0), -15.6, 78.2).Day);
}

TEST(LidarModelList, DefinitionsOfTheConfigurationFolder) {
  OrlaqLidar::Test::TTempDir dir;
  dir.WriteFile("B.ini", "[General]\nName=Second\nCode=SEC\n");
  dir.WriteFile("A.INI", "[General]\nName=First\n");
  dir.WriteFile("notes.ini", "[Other]\nx=1\n");
  dir.WriteFile("C.txt", "[General]\nName=Text\n");
  const auto models = TLidarModelList::Scan(dir.Path().string());
  ASSERT_EQ(models.size(), 2u);
  EXPECT_EQ(models[0].FileName, "A.INI");
  EXPECT_EQ(models[1].Code, "SEC");
  EXPECT_EQ(TLidarModelList::Caption(models[1]), "Second (B.ini)");
  EXPECT_TRUE(TLidarModelList::IsCurrent(models[1], dir.Path().string(), "B.ini"));
  EXPECT_TRUE(TLidarModelList::IsCurrent(models[1], dir.Path().string(), (dir / "B.ini").string()));
  EXPECT_FALSE(TLidarModelList::IsCurrent(models[0], dir.Path().string(), "B.ini"));
  EXPECT_TRUE(TLidarModelList::Scan((dir / "missing").string()).empty());
}

}  // namespace
}  // namespace OrlaqLidar
