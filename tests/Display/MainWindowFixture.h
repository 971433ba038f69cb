#pragma once
// The main window offscreen on a fake instrument in simulated time: one Qt
// application for the whole run, the fake USB devices and sockets
// installed, an instrument definition written to "LidConf/", and the
// application given its folders. Each test adds its own devices and
// settings, then starts the window itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>
#include <string>

#include "Common/IniFile.h"
#include "Display/MainFrm.h"
#include "Platform/FakeSocketFactory.h"
#include "Platform/FakeUsbDriver.h"
#include "kernel/LidarApplication.h"
#include "tests/TestSupport.h"
#include "tests/kernel/FakeInstrument.h"

namespace OrlaqLidar::Test {

// The definition's head: one group of channels, no heating to wait for.
inline const std::string kMiniGroup =
    "[General]\nName=Mini\n[Instruments]\n[ChannelGroup1]\nGroupID=1\nHeatingTime=0\n";
// The channel that commands the laser, on "DEV P".
inline const std::string kMiniChannelP =
    "[Channel1]\nRecordID=1\nGroupID=1\nName=532 P\nUSB=DEV P\nHasLaserCmd=2\nDoorsCount=16\nDoorsByte=4\n";
inline const std::string kMiniChannelS =
    "[Channel2]\nRecordID=2\nGroupID=1\nName=532 S\nUSB=DEV S\nDoorsCount=16\nDoorsByte=4\n";
inline const std::string kMiniDefinition = kMiniGroup + kMiniChannelP + kMiniChannelS;
// One channel and no laser command, for the dialogs that need no instrument.
inline const std::string kMiniReaderDefinition =
    kMiniGroup + "[Channel1]\nRecordID=1\nGroupID=1\nName=532 P\nUSB=DEV P\nDoorsCount=16\nDoorsByte=4\n";

struct TMainWindowSetup {
  std::string Definition = kMiniDefinition;  // written as "LidConf/Mini.ini"
  // The settings kept in "Skyvane.ini", for a test that reads back what was
  // saved; otherwise in memory only.
  bool SettingsFile = false;
};

class TMainWindowFixture : public TSimulatedTime {
 protected:
  // Qt wants its application object to the end of the process: made once.
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static std::string name = ::testing::UnitTest::GetInstance()->current_test_suite()->name();
    static int argc = 1;
    static char* argv[] = {name.data(), nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }

  explicit TMainWindowFixture(const TMainWindowSetup& setup = {})
      : services_(TServices{&Clock, &Loop, &Prompt, &usb, &sockets}) {
    dir.WriteFile("LidConf/Mini.ini", setup.Definition);
    auto store = setup.SettingsFile ? std::make_unique<TIniFile>(settings) : std::make_unique<TIniFile>();
    store->WriteString("Skyvane", "ConfigFolder", (dir / "LidConf").string());
    store->WriteString("Skyvane", "DataFolder", (dir / "LidData").string());
    store->WriteString("Skyvane", "CurrentInstrument", "Mini.ini");
    app = TLidarApplication::GetInstance();
    app->SetStore(std::move(store));
  }
  ~TMainWindowFixture() override {
    if (window) window->CloseDown();
    window.reset();
    app->Exit();
    TLidarApplication::DestroyInstance();
    Loop.ProcessPosted();
  }

  // Simulated time 100 ms at a time, so that every timer on the way fires.
  void Run(int ms) {
    for (int t = 0; t < ms; t += 100) Loop.AdvanceMs(100);
  }

  TTempDir dir;
  std::string settings = (dir / "Skyvane.ini").string();
  TFakeUsbDriver usb;
  TFakeSocketFactory sockets;
  TScopedServices services_;
  TFakeInstrument instrument{usb};
  TLidarApplication* app = nullptr;
  std::unique_ptr<TMainFrm> window;
};

}  // namespace OrlaqLidar::Test
