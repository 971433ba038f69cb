#include "Config/LidarConfig.h"

#include <cmath>

#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;

namespace {

// Two groups and two lidar channels that load cleanly; tests append to it.
const char* const kBase = R"(
[General]
Name=Test Lidar-2/b
[Instruments]
MonitorTimeData=500
[ChannelGroup1]
GroupID=1
HeatingTime=7
PeriodMin=40
LidarTimeOut=1500
[ChannelGroup2]
GroupID=4
[Channel1]
RecordID=1
GroupID=1
Name=A
USB=DEV A
HasLaserCmd=2
[Channel2]
RecordID=2
GroupID=4
Name=B
USB=DEV B
)";

class LidarConfigTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  bool Load(const std::string& text) {
    ini = std::make_unique<TIniFile>((dir / "Model.ini").string());
    ini->LoadFromText(text);
    return config.Load(*ini);
  }
  // One channel section [Channel3] added to the base file.
  bool LoadWithChannel3(const std::string& keys) { return Load(std::string(kBase) + "[Channel3]\n" + keys); }
  static std::string WithAirins(std::string text) {
    return text.replace(text.find("MonitorTimeData=500"), 19, "Airins=1");
  }
  const TChannelConfig& Last() const { return *config.Channels.back(); }

  std::string Message(const std::string& text) const {
    return "Error in file <" + (dir / "Model.ini").string() + ">\n" + text;
  }
  void ExpectOnlyWarning(const std::string& text) const {
    ASSERT_EQ(Prompt.Warnings.size(), 1u);
    EXPECT_EQ(Prompt.Warnings[0], Message(text));
  }
  bool Logged(const std::string& part) const {
    for (const auto& l : LogLines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  OrlaqLidar::Test::TTempDir dir;
  std::unique_ptr<TIniFile> ini;
  TLidarConfig config;
};

TEST_F(LidarConfigTest, TheBaseFileLoadsWithItsValuesAndDefaults) {
  ASSERT_TRUE(Load(kBase));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_TRUE(LogLines.empty());
  EXPECT_EQ(config.Name, "Test Lidar-2/b");
  EXPECT_EQ(config.Code, "TESTLIDAR2B");
  EXPECT_FALSE(config.Airins);
  EXPECT_EQ(config.MonitorTimeData, 500);

  ASSERT_EQ(config.Groups.size(), 2u);
  const TGroupConfig& g1 = *config.Groups.at(1);
  EXPECT_EQ(g1.GroupID, 1);
  EXPECT_EQ(g1.HeatingTime, 7);
  EXPECT_EQ(g1.PeriodMin, 40);
  EXPECT_EQ(g1.LidarTimeOut, 1500);
  // Defaults of a group that names only its identifier.
  EXPECT_EQ(config.Groups.at(4)->LidarTimeOut, 2000);
  EXPECT_EQ(config.Groups.at(4)->HeatingTime, 3);
  EXPECT_EQ(config.Groups.at(4)->PeriodMin, 0);

  ASSERT_EQ(config.Channels.size(), 2u);
  EXPECT_EQ(config.Channels[0]->HasLaserCmd, 2);
  const TChannelConfig& c = *config.Channels[1];
  EXPECT_EQ(c.RecordID, 2);
  EXPECT_EQ(c.GroupID, 4);
  EXPECT_EQ(c.Name, "B");
  EXPECT_EQ(c.USBDescriptor, "DEV B");
  EXPECT_EQ(c.Type(), TChannelType::Lidar);
  EXPECT_EQ(c.HasLaserCmd, 0);
  EXPECT_EQ(c.DoorsUsed, c.DoorsCount);
}

TEST_F(LidarConfigTest, AnEmptyFileGivesTheModelDefaultsAndGroupsStopAtTheFirstGap) {
  ASSERT_TRUE(Load(""));
  EXPECT_EQ(config.Code, "UNKNOWN");
  EXPECT_TRUE(config.Groups.empty());
  EXPECT_TRUE(config.Channels.empty());
  config.Clear();
  ASSERT_TRUE(Load("[ChannelGroup1]\nGroupID=1\n[ChannelGroup3]\nGroupID=3\n"));
  ASSERT_EQ(config.Groups.size(), 1u);
  EXPECT_TRUE(config.Groups.count(1));
}

TEST_F(LidarConfigTest, EachInvalidDefinitionIsRefusedWithItsMessage) {
  const std::string with3 = std::string(kBase) + "[Channel3]\n";
  const struct {
    std::string Text, Message;
    size_t Groups, Channels;  // kept: those read before the error
  } cases[] = {
      // A repeated section fails before anything is read.
      {with3 + "RecordID=3\n[Channel1]\nRecordID=9\n", "Two sections have the same name [Channel1]", 0, 0},
      // A first group with a negative identifier ends the groups at once.
      {"[ChannelGroup1]\nGroupID=-1\n[ChannelGroup2]\nGroupID=2\n[Channel1]\nGroupID=2\n",
       "[Channel1] have a unknown GroupeID=2", 0, 0},
      {"[ChannelGroup1]\nGroupID=5\n[ChannelGroup2]\nGroupID=6\n[ChannelGroup3]\nGroupID=5\n",
       "Two groups have the same GroupID=5 : ChannelGroup3 and a previous one", 2, 0},
      {"[ChannelGroup1]\nGroupID=0\n[Channel1]\nRecordID=1\nUSB=X1\n[Channel2]\nRecordID=2\nUSB=X2\n",
       "[Channel2] have same Name <> than channel with RecordID=1 !", 1, 1},
      // Names and descriptors compare without case.
      {with3 + "RecordID=3\nGroupID=1\nName=b\nUSB=DEV C\n",
       "[Channel3] have same Name <B> than channel with RecordID=2 !", 2, 2},
      {with3 + "RecordID=3\nGroupID=1\nName=C\nUSB=dev a\n",
       "[Channel3] have same USBDescriptor <DEV A> than channel with RecordID=1 !", 2, 2},
      // Same name as Channel1, same descriptor as Channel2: Channel1 is compared first.
      {with3 + "RecordID=3\nGroupID=1\nName=A\nUSB=DEV B\n",
       "[Channel3] have same Name <A> than channel with RecordID=1 !", 2, 2},
      {with3 + "RecordID=2\nGroupID=1\nName=C\nUSB=DEV C\n",
       "[Channel3] have same RecordID=2 than a previous channel!", 2, 2},
      // A monitoring channel owns its identifier as a lidar channel does.
      {with3 + "RecordID=9\nGroupID=1\nName=M\nUSB=MON\nProtocol=LIDAR_MONITOR\n[Channel4]\nRecordID=9\nGroupID=1\n"
               "Name=D\nUSB=DEV D\n",
       "[Channel4] have same RecordID=9 than a previous channel!", 2, 3},
      // The identifier check comes before the group check.
      {with3 + "RecordID=1\nGroupID=77\n", "[Channel3] have same RecordID=1 than a previous channel!", 2, 2},
      // The INS identifier hides channels from FindChannel; repeats must not slip through.
      {"[Instruments]\nAirins=1\n[ChannelGroup1]\nGroupID=1\n[Channel1]\nRecordID=99\nGroupID=1\nName=A\nUSB=U1\n"
       "[Channel2]\nRecordID=99\nGroupID=1\nName=B\nUSB=U2\n",
       "[Channel2] have same RecordID=99 than a previous channel!", 1, 1},
      {"[Electronic]\nGroupID=3\n[ChannelGroup1]\nGroupID=2\n", "[Electronic] have a unknown GroupeID=3", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    config.Clear();
    Prompt.Warnings.clear();
    EXPECT_FALSE(Load(c.Text));
    ExpectOnlyWarning(c.Message);
    EXPECT_EQ(config.Groups.size(), c.Groups);
    EXPECT_EQ(config.Channels.size(), c.Channels);
  }
}

// What a recorded file or the link cannot carry is refused at load.
TEST_F(LidarConfigTest, DefinitionsBeyondTheLimitsOfTheFilesAndTheLinkAreRefused) {
  const std::string c3 = "RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\n";
  const struct {
    std::string Keys, Message;
  } cases[] = {
      {"RecordID=256\nGroupID=1\nName=C\nUSB=DEV C\n",
       "[Channel3] RecordID=256 is out of range: a recorded file holds record identifiers 0 to 255"},
      {"RecordID=-1\nGroupID=1\nName=C\nUSB=DEV C\nProtocol=LIDAR_MONITOR\n",
       "[Channel3] RecordID=-1 is out of range: a recorded file holds record identifiers 0 to 255"},
      {c3 + "DoorsCount=100000000\n", "[Channel3] DoorsCount=100000000 is out of range: 1 to 65536 gates"},
      {c3 + "DoorsCount=0\n", "[Channel3] DoorsCount=0 is out of range: 1 to 65536 gates"},
      {c3 + "BufferLength=0\n", "[Channel3] BufferLength=0 is not a buffer size"},
      {c3 + "BufferLength=-5\nProtocol=LIDAR_MONITOR\n", "[Channel3] BufferLength=-5 is not a buffer size"},
      // 2048 x 4 + 16 + 10 framing bytes.
      {c3 + "DoorsCount=2048\nDoorsByte=4\nInfoBytes=16\nBufferLength=8217\n",
       "[Channel3] BufferLength=8217 cannot hold one shot: 8218 bytes needed (2048 gates of 4 bytes, 16 "
       "information bytes and 10 bytes of framing)"},
      {c3 + "DoorsCount=65536\nDoorsByte=4\nBufferLength=16464\n",
       "[Channel3] BufferLength=16464 cannot hold one shot: 262154 bytes needed (65536 gates of 4 bytes, 0 "
       "information bytes and 10 bytes of framing)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Message);
    config.Clear();
    Prompt.Warnings.clear();
    EXPECT_FALSE(LoadWithChannel3(c.Keys));
    ExpectOnlyWarning(c.Message);
    EXPECT_EQ(config.LoadError, c.Message);
    EXPECT_EQ(config.Channels.size(), 2u);
  }

  // The edges themselves load; a channel of another protocol is not checked.
  Prompt.Warnings.clear();
  for (const std::string keys :
       {"RecordID=255\nGroupID=1\nName=C\nUSB=DEV C\nDoorsCount=2048\nDoorsByte=4\nInfoBytes=16\nBufferLength=8218\n",
        "RecordID=0\nGroupID=1\nName=C\nUSB=DEV C\nDoorsCount=65536\nDoorsByte=4\nBufferLength=262154\n",
        "RecordID=900\nGroupID=1\nName=C\nUSB=DEV C\nProtocol=serial\nBufferLength=0\nDoorsCount=0\n"}) {
    config.Clear();
    EXPECT_TRUE(LoadWithChannel3(keys)) << keys;
    EXPECT_TRUE(config.LoadError.empty());
  }
  EXPECT_TRUE(Prompt.Warnings.empty());

  // The INS tags its records like a channel.
  config.Clear();
  EXPECT_FALSE(Load(WithAirins(std::string(kBase) + "[Airins]\nRecordID=300\n")));
  ExpectOnlyWarning("[Airins] RecordID=300 is out of range: a recorded file holds record identifiers 0 to 255");
}

TEST_F(LidarConfigTest, AFileHoldsAtMost255ChannelsOfAKindAndADefinitionTextThatFitsItsBlock) {
  std::string text = "[ChannelGroup1]\nGroupID=1\n";
  for (int n = 1; n <= 256; ++n) {
    const std::string id = std::to_string(n - 1);
    text += "[Channel" + std::to_string(n) + "]\nRecordID=" + id + "\nGroupID=1\nName=C" + id + "\nUSB=D" + id +
            "X\nDoorsCount=8\n";
  }
  // A monitoring channel still fits beside 255 lidar channels.
  const std::string monitor = "[Channel257]\nRecordID=255\nGroupID=1\nName=M\nUSB=MON\nProtocol=LIDAR_MONITOR\n";
  EXPECT_FALSE(Load(text + monitor));
  ExpectOnlyWarning("[Channel256] is one lidar channel too many: a recorded file holds at most 255 of them");
  EXPECT_EQ(config.LidarChannelCount(), 255);

  EXPECT_TRUE(config.CheckTextSize("Model.ini", 65520));
  EXPECT_FALSE(config.CheckTextSize((dir / "Model.ini").string(), 65521));
  EXPECT_EQ(Prompt.Warnings.back(),
            Message("The definition is 65521 bytes long; a recorded file holds at most 65520 bytes of it"));
  EXPECT_FALSE(config.LoadError.empty());
}

TEST_F(LidarConfigTest, EmptyUsbDescriptorsAreNotCompared) {
  ASSERT_TRUE(Load("[ChannelGroup1]\nGroupID=1\n[Channel1]\nRecordID=1\nGroupID=1\nName=A\nUSB=\n"
                   "[Channel2]\nRecordID=2\nGroupID=1\nName=B\nUSB=\n"));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_EQ(config.Channels[1]->USBDescriptor, "");
}

TEST_F(LidarConfigTest, ARecordIdOfAnEarlierUnknownProtocolChannelIsAccepted) {
  ASSERT_TRUE(Load("[ChannelGroup1]\nGroupID=1\n"
                   "[Channel1]\nRecordID=5\nGroupID=1\nName=A\nUSB=U1\nProtocol=serial\n"
                   "[Channel2]\nRecordID=5\nGroupID=1\nName=B\nUSB=U2\nProtocol=lidar\n"));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_EQ(config.Channels[0]->Protocol, "SERIAL");
  EXPECT_EQ(config.Channels[1]->Protocol, "LIDAR");
  // The first channel with the identifier decides its type.
  EXPECT_EQ(config.ChannelType(5), TChannelType::Unknown);
  EXPECT_EQ(config.FindChannel(5), nullptr);
}

TEST_F(LidarConfigTest, TwoDataChannelsBehindAnUnknownProtocolChannelCannotShareItsRecordId) {
  EXPECT_FALSE(Load("[ChannelGroup1]\nGroupID=1\n"
                    "[Channel1]\nRecordID=5\nGroupID=1\nName=A\nUSB=U1\nProtocol=serial\n"
                    "[Channel2]\nRecordID=5\nGroupID=1\nName=B\nUSB=U2\n"
                    "[Channel3]\nRecordID=5\nGroupID=1\nName=C\nUSB=U3\nProtocol=LIDAR_MONITOR\n"));
  ExpectOnlyWarning("[Channel3] have same RecordID=5 than a previous channel!");
  EXPECT_EQ(config.Channels.size(), 2u);
}

TEST_F(LidarConfigTest, GateTimesAreReadInNanosecondsWithEitherSeparator) {
  ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nDoorsTime=12,5\nOffsetTime=-20.5\n"));
  EXPECT_DOUBLE_EQ(Last().DoorsTime, 12.5e-9);
  EXPECT_DOUBLE_EQ(Last().OffsetTime, -20.5e-9);
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidarConfigTest, MalformedNumbersTakeTheirDefaultAndGateTimesSayWhere) {
  ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nDoorsTime=fast\nOffsetTime=1.2.3\n"
                               "DoorsCount=many\nDoorsByte=4.0\nWaveLength=1064.5\nTimeOut=\n"));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_DOUBLE_EQ(Last().DoorsTime, 1e-7);
  EXPECT_EQ(Last().OffsetTime, 0);
  EXPECT_EQ(Last().DoorsCount, 2048);
  EXPECT_EQ(Last().DoorsByte, 2);
  EXPECT_EQ(Last().WaveLength, 532);
  EXPECT_EQ(Last().TimeOut, 2000);
  ASSERT_EQ(LogLines.size(), 2u);
  EXPECT_TRUE(Logged("[Channel3] DoorsTime=fast is not valid, 100 used"));
  EXPECT_TRUE(Logged("[Channel3] OffsetTime=1.2.3 is not valid, 0 used"));
  EXPECT_TRUE(Logged("Model.ini"));
}

TEST_F(LidarConfigTest, GatesUsedDefaultToTheGateCountAndNeverExceedIt) {
  ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nDoorsCount=1000\n"));
  EXPECT_EQ(Last().DoorsUsed, 1000);
  EXPECT_TRUE(LogLines.empty());
  config.Clear();
  ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nDoorsCount=1000\nDoorsUsed=1200\n"));
  EXPECT_EQ(Last().DoorsUsed, 1000);
  EXPECT_TRUE(Logged("[Channel3] DoorsUsed=1200 is not valid, 1000 used"));
}

TEST_F(LidarConfigTest, PolarizationCodes) {
  const std::pair<const char*, char> cases[] = {
      {"Polarization=i\n", '/'}, {"Polarization=\n", 'U'},   {"", 'U'},
      {"Polarization=x\n", 'X'}, {"Polarization=/\n", '/'},  {"Polarization=o\n", 'O'},
      {"Polarization=*\n", 'O'}, {"Polarization=Q\n", 'U'},  {"Polarization=Xtra\n", 'X'},
  };
  for (const auto& [keys, code] : cases) {
    config.Clear();
    ASSERT_TRUE(LoadWithChannel3(std::string("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\n") + keys));
    EXPECT_EQ(Last().Polarization, code) << keys;
  }
}

TEST_F(LidarConfigTest, ColorsAreTripletsOrHexAndMalformedTripletsAreLogged) {
  const int cyan = 256 * 255 + 65536 * 255;  // the default
  const std::pair<std::string, int> cases[] = {
      {"255,0,0", 255},         {"0,0,255", 255 * 65536}, {"1, 2 ,3,99", 1 + 512 + 3 * 65536},
      {"#FF8000", 255 + 128 * 256}, {"#0000ff", 255 * 65536}, {"#12345", 65535},
      {"#GG0000", 65535},       {"#", 65535},             {"255,0", cyan},
      {"a,b,c", cyan},          {"1.5,0,0", cyan},        {"0,0,100000", cyan},
      {"-1,0,0", cyan},         {"", cyan},
  };
  for (const auto& [value, color] : cases) {
    config.Clear();
    LogLines.clear();
    ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nColor=" + value + "\n"));
    EXPECT_EQ(Last().Color, color) << value;
    // Only a malformed triplet is logged; a malformed hex value gives yellow quietly.
    if (color == cyan) {
      EXPECT_TRUE(Logged("[Channel3] Color=" + value + " is not valid, 0,255,255 used"));
    }
    EXPECT_EQ(LogLines.size(), color == cyan ? 1u : 0u) << value;
  }
}

TEST_F(LidarConfigTest, InformationKeysBecomeDescriptionsByIndex) {
  ASSERT_TRUE(LoadWithChannel3("RecordID=3\nGroupID=1\nName=C\nUSB=DEV C\nInfoBytes=8\n"
                               "ch14=NAME:Last\nCH3=NAME:Temp,U:C,MIN:-10,WARNMAX:40,HIDE\nCH15=NAME:Ignored\n"));
  const TChannelConfig& c = Last();
  EXPECT_EQ(c.InfoBytes, 8);
  ASSERT_EQ(c.InfoDescriptions.size(), 2u);
  const TInfoDescription& d = *c.InfoDescriptions[0];
  EXPECT_EQ(d.Index, 2);
  EXPECT_EQ(d.Name, "Temp");
  EXPECT_EQ(d.Unit, "C");
  EXPECT_EQ(d.Min, -10);
  EXPECT_EQ(d.WarningMax, 40);
  EXPECT_FALSE(d.Visible);
  EXPECT_TRUE(std::isinf(d.WarningMin) && d.WarningMin < 0);
  EXPECT_TRUE(std::isinf(d.Max) && d.Max > 0);
  EXPECT_EQ(c.InfoDescriptions[1]->Index, 13);
  EXPECT_EQ(c.InfoDescriptions[1]->Name, "Last");
}

TEST_F(LidarConfigTest, ChannelQueries) {
  ASSERT_TRUE(Load(std::string(kBase) +
                   "[Channel3]\nRecordID=10\nGroupID=4\nName=M\nUSB=MON\nProtocol=lidar_monitor\n"
                   "[Channel4]\nRecordID=11\nGroupID=4\nName=N\nUSB=OTHER\nProtocol=other\n"));
  EXPECT_EQ(config.LidarChannelCount(), 2);
  EXPECT_EQ(config.MonitorChannelCount(), 1);
  EXPECT_EQ(config.ChannelType(1), TChannelType::Lidar);
  EXPECT_EQ(config.ChannelType(10), TChannelType::Monitor);
  EXPECT_EQ(config.ChannelType(11), TChannelType::Unknown);
  EXPECT_EQ(config.ChannelType(99), TChannelType::Unknown);
  EXPECT_EQ(config.FindChannel(10), config.Channels[2].get());
  EXPECT_EQ(config.FindChannel(11), nullptr);
  EXPECT_EQ(config.FindChannel(12), nullptr);
  EXPECT_TRUE(config.GroupHasLaserCmd(0));
  EXPECT_TRUE(config.GroupHasLaserCmd(1));
  EXPECT_FALSE(config.GroupHasLaserCmd(4));
  EXPECT_FALSE(config.GroupHasLaserCmd(3));
}

TEST_F(LidarConfigTest, TheInsIsReadOnlyWhenPresentAndOwnsItsRecordId) {
  const std::string airins = "[Airins]\nRecordID=2\nTimeOut=700\n";
  ASSERT_TRUE(Load(std::string(kBase) + airins));
  EXPECT_EQ(config.AirinsConfig.RecordID, 99);
  EXPECT_EQ(config.AirinsConfig.TimeOut, 5000);
  EXPECT_EQ(config.ChannelType(2), TChannelType::Lidar);

  config.Clear();
  ASSERT_TRUE(Load(WithAirins(std::string(kBase) + airins)));
  EXPECT_TRUE(config.Airins);
  EXPECT_EQ(config.AirinsConfig.RecordID, 2);
  EXPECT_EQ(config.AirinsConfig.TimeOut, 700);
  EXPECT_EQ(config.ChannelType(2), TChannelType::Ins);
  EXPECT_EQ(config.FindChannel(2), nullptr);
}

TEST_F(LidarConfigTest, ClearEmptiesEverythingIncludingTheInsOfThePreviousFile) {
  ASSERT_TRUE(Load(WithAirins(std::string(kBase) + "[Airins]\nRecordID=50\n")));
  ASSERT_EQ(config.AirinsConfig.RecordID, 50);
  config.Clear();
  EXPECT_TRUE(config.Channels.empty() && config.Groups.empty());
  EXPECT_FALSE(config.Airins);
  EXPECT_EQ(config.AirinsConfig.RecordID, 99);
}

TEST_F(LidarConfigTest, BoardLayoutReadsOneChannelFromElectronic) {
  ASSERT_TRUE(Load(R"(
[General]
Name=Board
Code=B1
[Electronic]
Airins=1
MonitorTimeData=300
RecordID=7
GroupID=2
Name=Only
HasLaserCmd=0
Doors_Count=1024
DoorsCount=99
Byte_Per_Data=3
Time_Per_Door=50
Info_Bytes=4
[ChannelGroup1]
GroupID=2
[Channel1]
RecordID=8
GroupID=2
[InfoBytes]
LaserFrequ.=U:Hz,O:0,B:16,S:0,CODE:FREQ
)"));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_TRUE(config.Airins);
  EXPECT_EQ(config.MonitorTimeData, 300);
  ASSERT_EQ(config.Channels.size(), 1u);  // [Channel1] is not read
  const TChannelConfig& c = *config.Channels[0];
  EXPECT_EQ(c.RecordID, 7);
  EXPECT_EQ(c.HasLaserCmd, 1);
  EXPECT_EQ(c.DoorsCount, 1024);
  EXPECT_EQ(c.DoorsUsed, 1024);
  EXPECT_EQ(c.DoorsByte, 3);
  EXPECT_DOUBLE_EQ(c.DoorsTime, 50e-9);
  EXPECT_EQ(c.InfoBytes, 4);
  ASSERT_EQ(c.InfoDescriptions.size(), 1u);
  EXPECT_EQ(c.InfoDescriptions[0]->Text, "NAME:LaserFrequ.,U:Hz,O:0,B:16,S:0,CODE:FREQ");
  EXPECT_EQ(c.InfoDescriptions[0]->B, 16);
  EXPECT_TRUE(config.GroupHasLaserCmd(2));
}

// The instrument shipped with the program must load cleanly and be usable
// by the acquisition as it stands.
TEST_F(LidarConfigTest, TheShippedDemoInstrumentLoadsCleanly) {
  const auto path = OrlaqLidar::Test::SourceDir() / "share" / "instruments" / "OrlaqDemo2W.ini";
  ASSERT_TRUE(std::filesystem::exists(path)) << path;
  TIniFile file(path.string());
  ASSERT_TRUE(config.Load(file));
  EXPECT_TRUE(Prompt.Warnings.empty());
  EXPECT_TRUE(LogLines.empty());
  EXPECT_TRUE(config.Airins);
  EXPECT_EQ(config.AirinsConfig.RecordID, 99);
  EXPECT_EQ(config.Groups.size(), 2u);
  EXPECT_EQ(config.LidarChannelCount(), 3);
  EXPECT_EQ(config.MonitorChannelCount(), 1);
  EXPECT_TRUE(config.GroupHasLaserCmd(1));
  EXPECT_TRUE(config.GroupHasLaserCmd(2));

  for (const auto& c : config.Channels) {
    EXPECT_NE(config.ChannelType(c->RecordID), TChannelType::Ins) << c->Name;
    // Devices are found by a substring of their description.
    for (const auto& other : config.Channels)
      if (other != c) {
        EXPECT_EQ(UpperCase(other->USBDescriptor).find(UpperCase(c->USBDescriptor)), std::string::npos);
      }
    if (c->Type() == TChannelType::Lidar) {
      EXPECT_EQ(c->DoorsTime, 1e-7);
      EXPECT_LE(c->DoorsUsed, c->DoorsCount);
      EXPECT_GE(c->BufferLength, c->DoorsCount * c->DoorsByte + c->InfoBytes);
      bool hasShots = false;
      for (const auto& d : c->InfoDescriptions) {
        EXPECT_LE(d->O + (d->B + d->S + 7) / 8, c->InfoBytes) << c->Name << " " << d->Name;
        EXPECT_GT(d->B, 0);
        hasShots = hasShots || d->GetOption("CODE") == "SHOOT";
      }
      EXPECT_TRUE(hasShots) << c->Name;
    } else {
      ASSERT_EQ(c->Type(), TChannelType::Monitor);
      EXPECT_GE(c->InfoDescriptions.size(), 5u);
      for (const auto& d : c->InfoDescriptions) {
        EXPECT_FALSE(d->Name.empty());
        EXPECT_FALSE(d->GetOption("CODE").empty());
        EXPECT_LT(d->WarningMax, d->Max);
      }
    }
  }
}

}  // namespace
