// The status window: its rows from a status tree, then offscreen on a fake
// instrument in simulated time, opened from the main window, through a
// device unplugged and plugged in again.
#include "Display/StatusFrm.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QTreeWidget>
#include <functional>
#include <map>
#include <memory>

#include "Common/IniFile.h"
#include "Display/MainFrm.h"
#include "Display/StatusRows.h"
#include "kernel/LidarApplication.h"
#include "tests/Display/MainWindowFixture.h"
#include "tests/TestSupport.h"

namespace OrlaqLidar {
namespace {

TEST(StatusRows, StatusesSharingANameKeepTheirOwnRowsAndErrorsLoseTheTopBit) {
  TStatus root("Source", "Connected");
  root.ChangeMask = TState::Connect | TState::Power;
  TStatus a("Channel A", "OK"), b("Channel B", "OK"), protocolA("Lidar Protocol", "Ready"),
      protocolB("Lidar Protocol", "Bad frame"), twin1("Twin", "1"), twin2("Twin", "2");
  protocolA.ChangeMask = protocolB.ChangeMask = TState::Error;
  protocolB.SetError(0x80000011);
  a.SetConnectState(TState::Connected);
  TListStatus rootChildren{&a, &b, &twin1, &twin2}, aChildren{&protocolA}, bChildren{&protocolB};
  root.Children = &rootChildren;
  a.Children = &aChildren;
  b.Children = &bChildren;

  const auto rows = TStatusRows::Walk(&root);
  ASSERT_EQ(rows.size(), 7u);
  std::vector<std::string> names;
  for (const auto& r : rows) names.push_back(r.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Source", "Channel A", "Lidar Protocol", "Channel B", "Lidar Protocol",
                                             "Twin", "Twin"}))
      << "depth first, the source first";
  EXPECT_NE(rows[2].Key, rows[4].Key);
  EXPECT_EQ(rows[4].ParentKey, rows[3].Key);
  EXPECT_NE(rows[5].Key, rows[6].Key) << "siblings of one name";
  EXPECT_EQ(rows[6].Text, "2");

  // Only the columns the change mask reports are filled.
  EXPECT_EQ(rows[0].Error, TStatusRows::NoImage);
  EXPECT_EQ(rows[0].AcqState, TStatusRows::NoImage);
  EXPECT_EQ(rows[0].Connect, TStatusRows::Off);
  EXPECT_EQ(rows[0].Power, TStatusRows::Off);
  EXPECT_EQ(rows[1].Connect, TStatusRows::Good);
  EXPECT_EQ(rows[1].AcqState, TStatusRows::Off) << "acquisition state 1 is below 2";
  EXPECT_EQ(rows[4].ErrorText, "17");
  EXPECT_EQ(rows[4].Error, TStatusRows::Off);
  EXPECT_EQ(rows[4].Connect, TStatusRows::NoImage);
  EXPECT_EQ(rows[2].ErrorText, "");
  EXPECT_EQ(rows[2].Error, TStatusRows::Good);
}

using namespace OrlaqLidar::Test;

// The two lidar channels and a housekeeping monitor, each on its own device.
class StatusFrmTest : public TMainWindowFixture {
 protected:
  StatusFrmTest()
      : TMainWindowFixture({.Definition = kMiniDefinition +
                                         "[Channel3]\nRecordID=10\nGroupID=1\nName=Housekeeping\nUSB=DEV M\n"
                                         "Protocol=LIDAR_MONITOR\nCH1=NAME:T1,U:C\n"}) {
    p = usb.AddDevice("DEV P", "A1");
    instrument.shotBytes[p] = 64;
    instrument.shotBytes[usb.AddDevice("DEV S", "A2")] = 64;
    instrument.monitors.insert(usb.AddDevice("DEV M", "A3"));
  }
  // Each row by its path of names ("Lidar Acquisition/Lidar/Channel DEV P").
  std::map<std::string, QTreeWidgetItem*> Rows() const {
    std::map<std::string, QTreeWidgetItem*> rows;
    std::function<void(QTreeWidgetItem*, const std::string&)> add = [&](QTreeWidgetItem* item,
                                                                          const std::string& parent) {
      const std::string path = (parent.empty() ? "" : parent + "/") + item->text(0).toStdString();
      EXPECT_FALSE(rows.count(path)) << path;
      rows[path] = item;
      for (int i = 0; i < item->childCount(); ++i) add(item->child(i), path);
    };
    QTreeWidget* tree = window->StatusWindow()->Tree();
    for (int i = 0; i < tree->topLevelItemCount(); ++i) add(tree->topLevelItem(i), "");
    return rows;
  }
  static int Image(QTreeWidgetItem* item, int column) { return TStatusFrm::ImageOf(item, column); }

  int p = 0;  // the device unplugged and plugged in again
};

TEST_F(StatusFrmTest, ListsEveryChannelLinkAndProtocolAndFollowsAnUnpluggedDevice) {
  app->Init(true);
  window = std::make_unique<TMainFrm>(*app);
  window->SetAcquisitionAllowed(true);
  window->StartUp();
  Run(5000);
  ASSERT_EQ(app->Source()->Status.ConnectState(), TState::Connected);

  window->Action("actCommStatus")->trigger();
  TStatusFrm* frm = window->StatusWindow();
  ASSERT_TRUE(frm);
  EXPECT_TRUE(frm->isVisible());
  EXPECT_EQ(frm->windowTitle(), "Status");
  const std::string lidar = "Lidar Acquisition/Lidar/";
  const std::map<std::string, int> expected = {
      {"Lidar Acquisition", TStatusFrm::ColConnect},
      {"Lidar Acquisition/Lidar", TStatusFrm::ColConnect},
      {lidar + "Channel DEV P", TStatusFrm::ColConnect},
      {lidar + "Channel DEV P/DEV P", TStatusFrm::ColConnect},
      {lidar + "Channel DEV P/Lidar Protocol", TStatusFrm::ColError},
      {lidar + "Channel DEV S", TStatusFrm::ColConnect},
      {lidar + "Channel DEV S/DEV S", TStatusFrm::ColConnect},
      {lidar + "Channel DEV S/Lidar Protocol", TStatusFrm::ColError},
      {lidar + "Channel DEV M", TStatusFrm::ColConnect},
      {lidar + "Channel DEV M/DEV M", TStatusFrm::ColConnect},
      {lidar + "Channel DEV M/Monitor Protocol", TStatusFrm::ColError}};
  auto rows = Rows();
  EXPECT_EQ(rows.size(), expected.size());
  for (const auto& [path, column] : expected) {
    ASSERT_TRUE(rows.count(path)) << path;
    EXPECT_EQ(Image(rows[path], column), TStatusRows::Good) << path;
  }
  EXPECT_EQ(Image(rows["Lidar Acquisition"], TStatusFrm::ColError), TStatusRows::NoImage);
  EXPECT_EQ(Image(rows[lidar + "Channel DEV P"], TStatusFrm::ColPower), TStatusRows::Off) << "laser off";
  EXPECT_EQ(Image(rows[lidar + "Channel DEV S"], TStatusFrm::ColPower), TStatusRows::NoImage) << "no laser command";

  usb.Unplug(p);
  Run(3000);
  rows = Rows();
  QTreeWidgetItem* channel = rows[lidar + "Channel DEV P"];
  ASSERT_TRUE(channel);
  EXPECT_EQ(Image(channel, TStatusFrm::ColConnect), TStatusRows::Transitional);
  QTreeWidgetItem* link = rows[lidar + "Channel DEV P/DEV P"];
  EXPECT_EQ(Image(link, TStatusFrm::ColError), TStatusRows::Off);
  EXPECT_FALSE(link->text(TStatusFrm::ColError).isEmpty());
  EXPECT_EQ(Image(rows["Lidar Acquisition/Lidar"], TStatusFrm::ColConnect), TStatusRows::Transitional);
  EXPECT_EQ(Image(rows[lidar + "Channel DEV S"], TStatusFrm::ColConnect), TStatusRows::Good);

  // A second command brings the same window back.
  frm->close();
  EXPECT_FALSE(frm->isVisible());
  EXPECT_GT(app->Store().ReadInteger(TStatusFrm::Section, "StatusFrm_Width", 0), 0);
  window->Action("actCommStatus")->trigger();
  EXPECT_EQ(window->StatusWindow(), frm);
  EXPECT_TRUE(frm->isVisible());

  p = usb.AddDevice("DEV P", "A1");
  instrument.shotBytes[p] = 64;
  Run(5000);
  ASSERT_EQ(app->Source()->Status.ConnectState(), TState::Connected);
  rows = Rows();
  for (const auto& [path, column] : expected) {
    ASSERT_TRUE(rows.count(path)) << path;
    EXPECT_EQ(Image(rows[path], column), TStatusRows::Good) << path;
    EXPECT_EQ(rows[path]->text(TStatusFrm::ColError), "") << path;
  }
}

}  // namespace
}  // namespace OrlaqLidar
