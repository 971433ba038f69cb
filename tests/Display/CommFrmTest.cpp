// The two trace windows in the main window's hands, offscreen, on a fake
// instrument in simulated time: the instrument's traces reach the
// communication details once the operator checks "Check all", are logged to
// "CommLog.txt", and a logged message pops up the message trace.
#include "Display/CommFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <filesystem>
#include <memory>

#include "Common/FileUtils.h"
#include "Common/IniFile.h"
#include "Display/MainFrm.h"
#include "Display/MessageTraceFrm.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarApplication.h"
#include "tests/Display/MainWindowFixture.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

namespace fs = std::filesystem;

using namespace OrlaqLidar::Test;

// A single channel, and a log folder of its own to find "CommLog.txt" in.
class CommFrmTest : public TMainWindowFixture {
 protected:
  CommFrmTest() : TMainWindowFixture({.Definition = kMiniGroup + kMiniChannelP}) {
    instrument.shotBytes[usb.AddDevice("DEV P", "A1")] = 64;
    app->Store().WriteString("Skyvane", "LogFolder", (dir / "Logs/Station").string());
  }
};

TEST_F(CommFrmTest, InstrumentTracesAreShownOnceCheckedAndLoggedAndMessagesPopUpTheirWindow) {
  app->Init(true);
  window = std::make_unique<TMainFrm>(*app);
  TMessageTraceFrm trace;
  window->SetMessageTrace(&trace);
  window->StartUp();
  TCommFrm& comm = *window->CommDetails();
  EXPECT_EQ(comm.windowTitle(), "Communication details");
  EXPECT_EQ(comm.Log().LogFile(), dir / "Logs/Station/CommLog.txt");
  EXPECT_TRUE(fs::is_directory(dir / "Logs/Station"));

  Run(5000);  // the channel's first open waits 3 s
  ASSERT_EQ(app->Source()->Status.ConnectState(), TState::Connected);
  ASSERT_GE(comm.SourceItemCount(), 2) << "\"Check all\" and the sources that traced";
  EXPECT_EQ(comm.RowCount(), 0) << "\"Check all\" starts unchecked, and so do the sources";
  for (int i = 0; i < comm.SourceItemCount(); ++i) EXPECT_FALSE(comm.SourceItemChecked(i)) << i;

  comm.SetCheckAll(true);
  comm.SetLogToFile(true);
  for (int i = 0; i < comm.SourceItemCount(); ++i) EXPECT_TRUE(comm.SourceItemChecked(i)) << i;
  window->Action("actPower")->trigger();
  Run(3000);
  ASSERT_GT(comm.RowCount(), 0);
  bool sent = false, received = false;
  for (int row = 0; row < comm.RowCount(); ++row) {
    sent |= comm.CellText(row, 1) == "DEV P" && comm.CellText(row, 2) == ">";
    received |= comm.CellText(row, 2) == "<";
  }
  EXPECT_TRUE(sent && received);
  const std::string logged = ReadTextFile(comm.Log().LogFile()).value_or("");
  EXPECT_NE(logged.find(",DEV P >["), std::string::npos) << logged.substr(0, 400);

  window->Action("actCommDetail")->trigger();
  EXPECT_TRUE(comm.isVisible());

  // The message log as the interactive run wires it.
  EXPECT_TRUE(window->Action("actMessageTrace")->isEnabled());
  EXPECT_EQ(trace.windowTitle(), "Messages trace");
  TErrorLogger::Instance().SetSink([&trace](const std::string& line) { trace.AddLine(line); });
  EXPECT_FALSE(trace.isVisible());
  Log("Laser Watchdog triggered !(PC was too busy ?)");
  EXPECT_TRUE(trace.isVisible()) << "automatic popup";
  ASSERT_EQ(trace.ShownLineCount(), 1);
  EXPECT_TRUE(trace.StatusText().endsWith(" > Laser Watchdog triggered !(PC was too busy ?)"));
  TErrorLogger::Instance().SetSink(nullptr);
}

}  // namespace
}  // namespace OrlaqLidar
