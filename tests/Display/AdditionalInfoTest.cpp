// The texts, alarm levels and items of the housekeeping panel, without
// widgets.
#include "Display/AdditionalInfoModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

#include "Common/IniFile.h"
#include "Config/ApplicationConfig.h"

namespace OrlaqLidar {
namespace {

class AdditionalInfoTest : public ::testing::Test {
 protected:
  AdditionalInfoTest() {
    TIniFile def;
    def.LoadFromText(
        "[General]\nName=T\n[Instruments]\nAirins=1\n[Airins]\nRecordID=99\n[ChannelGroup1]\nGroupID=1\n"
        "[Channel1]\nRecordID=1\nGroupID=1\nName=P\nUSB=DEV P\nDoorsCount=2\nDoorsByte=2\nInfoBytes=2\n"
        "CH1=NAME:HV,U:V,B:16,FMT:0.0\n"
        "[Channel2]\nRecordID=10\nGroupID=1\nName=M\nUSB=DEV M\nProtocol=LIDAR_MONITOR\n"
        "CH1=NAME:T1,U:C,WARNMAX:20,MAX:30\nCH2=NAME:Fan,HIDE\nCH3=NAME:T2,MIN:0\n");
    EXPECT_TRUE(config.LidarConfig.Load(def));
  }
  std::vector<TAdditionalInfoItem> Monitor(std::vector<double> values) const {
    return model.Items(10, reinterpret_cast<const uint8_t*>(values.data()),
                       static_cast<int>(values.size() * sizeof(double)));
  }

  TApplicationConfig config;
  TAdditionalInfoModel model{config};
};

TEST_F(AdditionalInfoTest, FieldsWithTheirFormatUnitAndLevelHiddenOnesOnlyInDebugMode) {
  auto items = Monitor({21.5, 1, NAN});
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Key, "M**T1");
  EXPECT_EQ(items[0].Text, "21.50 C");
  EXPECT_EQ(items[0].Level, 2);
  EXPECT_EQ(items[1].Key, "M**T2");
  EXPECT_EQ(items[1].Text, "Invalid");
  EXPECT_EQ(items[1].Level, 3);

  config.DebugMode = true;
  items = Monitor({21.5, 1, 4});
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].Key, "M**Fan");
  EXPECT_EQ(items[1].Text, "1.00");

  // A shot: two gates of two bytes, then the information bytes.
  const uint8_t shot[] = {0, 1, 0, 2, 0x01, 0x2C};
  items = model.Items(1, shot, sizeof shot);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].Key, "P**HV");
  EXPECT_EQ(items[0].Text, "300.0 V");
  EXPECT_TRUE(model.Items(1, shot, sizeof shot - 1).empty()) << "a shot of the wrong length shows nothing";
  EXPECT_TRUE(model.Items(5, shot, sizeof shot).empty()) << "no such channel";
}

TEST_F(AdditionalInfoTest, NavigationRecordHeadingRuleAndSectionFormats) {
  EXPECT_EQ(TAdditionalInfoModel::HeadingText(-10), "350.0");
  EXPECT_EQ(TAdditionalInfoModel::HeadingText(0), "360.0");
  EXPECT_EQ(TAdditionalInfoModel::HeadingText(360), "360.0");
  EXPECT_EQ(TAdditionalInfoModel::HeadingText(0.5), "0.5");

  // North 2.36 m/s, east -1.26 m/s, vertical 0; heading 90 degrees.
  std::vector<uint8_t> ins(35, 0);
  ins[0] = 0;
  ins[1] = 0x01;
  ins[2] = 0x51;
  ins[3] = 0x80;  // 86400 s: midnight
  ins[4] = 25;
  ins[17] = 0;
  ins[18] = 236;
  const int16_t east = -126;
  ins[19] = static_cast<uint8_t>(static_cast<uint16_t>(east) >> 8);
  ins[20] = static_cast<uint8_t>(east & 0xFF);
  ins[27] = 0x40;  // 16384 * 180 / 32768
  const auto items = model.Items(99, ins.data(), 35);
  ASSERT_EQ(items.size(), 10u);
  std::map<std::string, std::string> text;
  for (const auto& i : items) text[i.Key] = i.Text;
  EXPECT_EQ(text["Airins**Time"], "00:00:00.25");
  EXPECT_EQ(text["Airins**N.Velocity"], "N* 2.4");
  EXPECT_EQ(text["Airins**E.Velocity"], "E* 1.3");
  EXPECT_EQ(text["Airins**V.Velocity"], "0.0");
  EXPECT_EQ(text["Airins**Heading"], "90.0");

  const auto reset = model.Items(99, ins.data(), 34);
  ASSERT_EQ(reset.size(), 10u) << "every navigation item is reset";
  for (const auto& i : reset) {
    EXPECT_TRUE(i.Reset);
    EXPECT_EQ(i.Text, "--- ");
  }
}

TEST_F(AdditionalInfoTest, ValueLabelsOnlyWidenAndAlarmColours) {
  int width = TAdditionalInfoModel::WidenedWidth(0, 50);
  EXPECT_EQ(width, 55);
  EXPECT_EQ(TAdditionalInfoModel::WidenedWidth(width, 20), 55) << "never shrinks";
  EXPECT_EQ(TAdditionalInfoModel::WidenedWidth(width, 55), 55);
  EXPECT_EQ(TAdditionalInfoModel::WidenedWidth(width, 60), 66);

  EXPECT_FALSE(TAdditionalInfoModel::AlarmColour(0));
  for (int level : {1, 2}) {
    const auto c = TAdditionalInfoModel::AlarmColour(level);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Red, 255);
    EXPECT_EQ(c->Green, 127);
    EXPECT_EQ(c->Blue, 0);
  }
  EXPECT_EQ(TAdditionalInfoModel::AlarmColour(3)->Green, 0);
}

}  // namespace
}  // namespace OrlaqLidar
