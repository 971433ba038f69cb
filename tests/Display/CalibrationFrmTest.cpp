// The two calibration windows offscreen on a fake two-channel instrument in
// simulated time: an afterpulse calibration that stores the kept channel's
// new file and leaves its event pair in the recorded data, and timed
// polarisation profiles with their events.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Display/AFValidFrm.h"
#include "Display/DisplayCtrl.h"
#include "Display/MainFrm.h"
#include "Display/PolarCalibFrm.h"
#include "Display/ProfileView.h"
#include "Export/ExportSession.h"
#include "Platform/FakeSocketFactory.h"
#include "Platform/FakeUsbDriver.h"
#include "kernel/LidarApplication.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

namespace OrlaqLidar {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CalibrationFrmTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "CalibrationFrmTest";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }

  CalibrationFrmTest() : services_(TServices{&Clock, &Loop, &Prompt, &usb, &sockets}) {
    for (const char* dev : {"DEV P", "DEV S"}) instrument.shotBytes[usb.AddDevice(dev, "A1")] = 64;
    dir.WriteFile("LidConf/Mini.ini",
                  "[General]\nName=Mini\n[Instruments]\n[ChannelGroup1]\nGroupID=1\nHeatingTime=0\n"
                  "[Channel1]\nRecordID=1\nGroupID=1\nName=532 P\nUSB=DEV P\nHasLaserCmd=2\nDoorsCount=16\n"
                  "DoorsByte=4\nDoorsTime=5e-9\n"
                  "[Channel2]\nRecordID=2\nGroupID=1\nName=532 S\nUSB=DEV S\nDoorsCount=16\nDoorsByte=4\n");
    auto store = std::make_unique<TIniFile>();
    store->WriteString("Skyvane", "ConfigFolder", (dir / "LidConf").string());
    store->WriteString("Skyvane", "DataFolder", (dir / "LidData").string());
    store->WriteString("Skyvane", "CurrentInstrument", "Mini.ini");
    app = TLidarApplication::GetInstance();
    app->SetStore(std::move(store));
    app->SetAutoExportFactory(OrlaqExport::TExportSession::AutoExportFactory());
  }
  ~CalibrationFrmTest() override {
    if (window) window->CloseDown();
    window.reset();
    app->Exit();
    TLidarApplication::DestroyInstance();
    Loop.ProcessPosted();
  }
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) Loop.AdvanceMs(100);
  }
  // Acquisition with the laser on, events of the source collected.
  void LaserOn() {
    app->Init(true);
    window = std::make_unique<TMainFrm>(*app);
    window->SetAcquisitionAllowed(true);
    window->StartUp();
    Run(5000);
    window->Action("actPower")->trigger();
    Run(8000);
    ASSERT_EQ(app->Source()->Status.PowerState(), TState::LaserOn);
    app->Source()->AddEventConsumer(&events, [this](int, const std::string& code, TDateTime, const std::string& text) {
      events.push_back(code + ":" + text);
    });
  }
  template <class T>
  static T* Child(QWidget* w, const char* name) {
    T* child = w->findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }

  OrlaqLidar::Test::TTempDir dir;
  TFakeUsbDriver usb;
  TFakeSocketFactory sockets;
  TScopedServices services_;
  OrlaqLidar::Test::TFakeInstrument instrument{usb};
  TLidarApplication* app = nullptr;
  std::unique_ptr<TMainFrm> window;
  std::vector<std::string> events;
};

TEST_F(CalibrationFrmTest, AfterPulseMeasuredLiveIsStoredForTheKeptChannelAndBracketedInTheRecordedFile) {
  LaserOn();
  const fs::path file = app->Config.Setup.FindCalibration(1)->AfterPulseFile;
  ASSERT_EQ(file.filename(), "AfterPulse.txt");
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "# previous\n";

  window->Action("actAfterPulseCalib")->trigger();
  TAFValidFrm* dlg = TAFValidFrm::Instance();
  ASSERT_NE(dlg, nullptr);
  EXPECT_EQ(dlg->windowTitle(), "Use as After Pulse ");
  EXPECT_EQ(dlg->OperationText(), "Select integration time and click on Calibrate");
  ASSERT_EQ(dlg->ChannelList()->count(), 2);
  EXPECT_EQ(dlg->ChannelList()->item(1)->text(), "Channel2 : 532 S");
  EXPECT_FALSE(dlg->ChannelList()->isEnabled());
  window->Action("actAfterPulseCalib")->trigger();
  EXPECT_EQ(TAFValidFrm::Instance(), dlg) << "one at a time";

  Child<QLineEdit>(dlg, "integrationTime")->setText("5");
  dlg->Calibrate();
  EXPECT_TRUE(events.empty()) << "out of range: nothing starts";
  Child<QLineEdit>(dlg, "integrationTime")->setText("10");
  dlg->Calibrate();
  EXPECT_TRUE(dlg->OperationText().startsWith("Profile will finish at about ")) << dlg->OperationText().toStdString();
  EXPECT_EQ(window->Gui().ProfileProcessing, 7);
  EXPECT_EQ(window->Display()->ProfileTime(), 10);
  EXPECT_EQ(events, std::vector<std::string>{"SAP:"});

  Run(25000);  // a partial aligned profile first, then a whole one
  ASSERT_EQ(dlg->ResultText(), "Finished");
  EXPECT_TRUE(dlg->ChannelList()->isEnabled());
  EXPECT_EQ(dlg->ChannelList()->item(0)->checkState(), Qt::Checked);
  EXPECT_EQ(events.back(), "EAP:Finished");
  const auto* measured = dlg->Calibration().Result(1);
  ASSERT_NE(measured, nullptr);
  ASSERT_EQ(measured->Values.size(), 16u);

  dlg->ChannelList()->item(1)->setCheckState(Qt::Unchecked);
  dlg->Validate();
  EXPECT_EQ(TAFValidFrm::Instance(), nullptr);
  EXPECT_EQ(events.size(), 2u) << "no second end";

  const auto lines = Lines(file);
  ASSERT_EQ(lines.size(), 3u + 4u + 16u + 1u);
  EXPECT_EQ(lines[0], "# File generated by Skyvane");
  EXPECT_EQ(lines[3], "# Channel1");
  EXPECT_TRUE(lines[4].starts_with("# Data source : ")) << lines[4];
  EXPECT_EQ(lines[5], "# Integration sec: 10");
  EXPECT_EQ(lines[6], "#");
  EXPECT_EQ(lines.back(), "# End");
  // DoorsTime 5 ns: gates 0 to 3 are the measurement as it was.
  std::vector<double> expected(16);
  TAfterPulseCalibration::Smooth(measured->Values, 3, expected);
  EXPECT_EQ(lines[7 + 2], FormatFloat(expected[2]));
  EXPECT_EQ(lines[7 + 9], FormatFloat(expected[9]));
  EXPECT_EQ(Lines(fs::path(file).replace_extension(".bak")), std::vector<std::string>{"# previous"});
  EXPECT_FALSE(fs::exists(app->Config.Setup.FindCalibration(2)->AfterPulseFile)) << "channel 2 unchecked";

  // The recorded file, read back once the recorder has closed it.
  window->Action("actPower")->trigger();
  Run(1000);
  ASSERT_TRUE(window->SwitchMode(false));
  std::vector<std::string> recorded;
  TDateTime started = 0;
  QStringList files;
  for (const auto& e : fs::recursive_directory_iterator(dir / "LidData")) {
    if (e.path().extension() != ".skv2") continue;
    files << QString::fromStdString(e.path().string());
    TLidFileAccess reader(e.path(), app->Config);
    ASSERT_EQ(reader.OpenForReading(), 0);
    reader.OnEvent = [&](int, const std::string& code, const std::string& text, TDateTime t) {
      recorded.push_back(code + ":" + text);
      if (code == "SAP") started = t;
    };
    while (reader.ReadBlocks(1000) > 0) {
    }
  }
  EXPECT_EQ(recorded, (std::vector<std::string>{"SAP:", "EAP:Finished"}));

  // Replayed, the profiles come from the instant picked in the quicklook.
  ASSERT_TRUE(window->LoadFiles(files, false));
  Loop.RunIdle();
  Loop.ProcessPosted();
  window->Action("actAfterPulseCalib")->trigger();
  dlg = TAFValidFrm::Instance();
  Child<QLineEdit>(dlg, "integrationTime")->setText("10");
  dlg->Calibrate();
  const TDateTime picked = started + 2 / SecondsPerDay;
  ASSERT_TRUE(window->Display()->Explore(picked));
  Loop.RunIdle();
  Loop.ProcessPosted();
  EXPECT_EQ(dlg->ResultText(), "Finished");
  // The replay starts at the first block within 3 s of one second before.
  EXPECT_LE(dlg->Calibration().SourceTime(), picked - 1 / SecondsPerDay);
  EXPECT_GT(dlg->Calibration().SourceTime(), picked - 5 / SecondsPerDay);
  EXPECT_FALSE(window->Display()->Profiles()->Display().Curves().empty()) << "the same profile in the view";
  dlg->close();
}

TEST_F(CalibrationFrmTest, PolarisationProfilesAreTimedAndBracketedAndAClosedCalibrationIsAborted) {
  LaserOn();
  window->Action("actPolarCalib")->trigger();
  TPolarCalibFrm* polar = TPolarCalibFrm::Instance();
  ASSERT_NE(polar, nullptr);
  EXPECT_EQ(polar->windowTitle(), "Polarization Calibration");
  Child<QLineEdit>(polar, "integrationTime")->setText("10");
  Child<QLineEdit>(polar, "angle")->setText("22,5");
  polar->Calibrate();
  ASSERT_TRUE(polar->Measuring());
  EXPECT_EQ(window->Gui().ProfileProcessing, 63);
  EXPECT_TRUE(window->Display()->CalibrationOpen());
  Run(3000);
  polar->CancelMeasure();
  EXPECT_EQ(polar->ResultText(), "Profile aborted by user");
  EXPECT_EQ(polar->OperationText(), "Aborted");

  polar->Calibrate();
  Run(9900);
  EXPECT_TRUE(polar->Measuring());
  Run(200);
  EXPECT_FALSE(polar->Measuring());
  EXPECT_EQ(polar->OperationText(), "Finished");
  polar->Calibrate();
  polar->close();
  EXPECT_EQ(TPolarCalibFrm::Instance(), nullptr);
  EXPECT_EQ(events, (std::vector<std::string>{"SPL:22.5", "EPL:Aborted", "SPL:22.5", "EPL:Finished", "SPL:22.5",
                                              "EPL:Close"}));

  // An afterpulse measurement closed before its end.
  events.clear();
  window->Action("actAfterPulseCalib")->trigger();
  Child<QLineEdit>(TAFValidFrm::Instance(), "integrationTime")->setText("10");
  TAFValidFrm::Instance()->Calibrate();
  TAFValidFrm::Instance()->close();
  EXPECT_EQ(events, (std::vector<std::string>{"SAP:", "EAP:Aborted"}));
  EXPECT_FALSE(window->Display()->CalibrationOpen());

  // Replays are not the instrument: no polarisation, no events.
  window->Action("actPower")->trigger();
  Run(1000);
  ASSERT_TRUE(window->SwitchMode(false));
  window->Action("actPolarCalib")->trigger();
  EXPECT_EQ(TPolarCalibFrm::Instance()->OperationText(), "Can't be done in replay mode");
  window->Action("actAfterPulseCalib")->trigger();
  EXPECT_EQ(TAFValidFrm::Instance()->OperationText(),
            "Select integration time, click on Calibrate and select instant in QL");
  TPolarCalibFrm::Instance()->close();
  TAFValidFrm::Instance()->close();
}

}  // namespace
}  // namespace OrlaqLidar
