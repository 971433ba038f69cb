#include "Config/Calibration.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include <gtest/gtest.h>

#include "Common/FileUtils.h"
#include "Common/StringUtils.h"
#include "Config/CalibrationError.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
namespace fs = std::filesystem;

namespace {

class CalibrationTest : public Test::TSimulatedTime {
 protected:
  // A lidar calibration of channel 3 with `gates` gates below dir.
  std::unique_ptr<TCalibration> Lidar(unsigned gates) {
    auto c = std::make_unique<TCalibration>(3, TChannelType::Lidar, gates);
    c->SetFilenames(dir.Path().string());
    return c;
  }
  void Write(const std::string& file, const std::string& text) const { dir.WriteFile("Channel3/" + file, text); }
  bool Logged(const std::string& part) const {
    for (const auto& l : LogLines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  OrlaqLidar::Test::TTempDir dir;
};

std::vector<uint8_t> LittleEndianDoubles(std::initializer_list<double> values) {
  std::vector<uint8_t> out;
  for (double v : values) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
  }
  return out;
}

TEST_F(CalibrationTest, OtherChannelTypesCarryNothingAndDoNothing) {
  TCalibration c(5, TChannelType::Monitor, 2048);
  EXPECT_TRUE(c.AfterPulse.empty() && c.OverlapInverse.empty());
  c.SetFilenames(dir.Path().string());
  EXPECT_TRUE(c.ApdFile.empty());
  EXPECT_FALSE(c.Load());
  EXPECT_EQ(c.ApdState, 0);
  const auto block = LittleEndianDoubles({1, 2});
  c.UpdateCalibration(TCalibration::KindAfterPulse, block.data(), block.size());
  EXPECT_EQ(c.AfterPulseState, 0);
  c.Save();
  EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(CalibrationTest, AMissingFolderLeavesTheDefaults) {
  auto c = Lidar(3);
  EXPECT_TRUE(c->Load());
  EXPECT_EQ(c->ApdState, TCalibration::StateAttempted);
  EXPECT_EQ(c->AfterPulseState + c->OverlapState, 0);
  EXPECT_EQ(c->AfterPulse, std::vector<double>(3, 0.0));
  EXPECT_EQ(c->OverlapInverse, std::vector<double>(3, 1.0));
}

TEST_F(CalibrationTest, LoadReadsTheThreeFilesPastTheirComments) {
  Write("APDCoefs.txt", "# detector\r\n1\r\n3e-8\r\n; offset\r\n250,5\r\n0.6\r\n99\r\n");
  Write("AfterPulse.txt", "# AfterPulse\n\n  ! x\n'a\n\"b\n*c\n/d\n\t\n0.25\n1,5\n2 # trailing comment\n7\n");
  Write("Overlap.txt", "#\n0\n2\nabc\n");
  auto c = Lidar(3);
  ASSERT_TRUE(c->Load());
  EXPECT_EQ(c->ApdState, TCalibration::StatePresent);
  EXPECT_EQ(c->ApdFlag, 1);
  EXPECT_DOUBLE_EQ(c->DeadTime, 3e-8);
  EXPECT_DOUBLE_EQ(c->ApdOffset, 250.5);
  EXPECT_DOUBLE_EQ(c->ApdScale, 0.6);  // the fifth useful line is ignored
  EXPECT_EQ(c->AfterPulseState, TCalibration::StatePresent);
  // A number with a trailing comment is no number: the default 0.0.
  EXPECT_EQ(c->AfterPulse, (std::vector<double>{0.25, 1.5, 0.0}));
  EXPECT_EQ(c->OverlapState, TCalibration::StatePresent);
  EXPECT_EQ(c->OverlapInverse[0], std::numeric_limits<double>::infinity());
  EXPECT_EQ(c->OverlapInverse[1], 0.5);
  EXPECT_EQ(c->OverlapInverse[2], 1.0);  // not a number: overlap 1
}

TEST_F(CalibrationTest, ValuesThatDoNotConvertTakeTheirPositionDefaults) {
  Write("APDCoefs.txt", "yes\nx\ny\nz\n");
  auto c = Lidar(0);
  c->DeadTime = 1;
  c->ApdOffset = 2;
  c->ApdScale = 3;
  ASSERT_TRUE(c->Load());
  EXPECT_EQ(c->ApdFlag, 0);
  EXPECT_EQ(c->DeadTime, 2.5e-08);
  EXPECT_EQ(c->ApdOffset, 300.0);
  EXPECT_EQ(c->ApdScale, 0.55);
}

TEST_F(CalibrationTest, TooFewUsefulLinesStopLoadAtThatFile) {
  Write("APDCoefs.txt", "0\n1e-8\n# comment\n100\n");
  auto c = Lidar(2);
  try {
    c->Load();
    FAIL() << "no error";
  } catch (const ECalibrationError& e) {
    EXPECT_EQ(e.FileName, c->ApdFile);
    EXPECT_NE(std::string(e.what()).find(c->ApdFile), std::string::npos);
  }
  EXPECT_EQ(c->ApdState, TCalibration::StateAttempted);
  EXPECT_EQ(c->DeadTime, 2.5e-08);

  // An afterpulse file one value short: the detector values read before stay.
  Write("APDCoefs.txt", "0\n1e-8\n100\n0.5\n");
  Write("AfterPulse.txt", "1\n");
  Write("Overlap.txt", "2\n2\n");
  auto d = Lidar(2);
  EXPECT_THROW(d->Load(), ECalibrationError);
  EXPECT_EQ(d->ApdState, TCalibration::StatePresent);
  EXPECT_EQ(d->DeadTime, 1e-8);
  EXPECT_EQ(d->AfterPulseState, 0);
  EXPECT_EQ(d->AfterPulse, std::vector<double>(2, 0.0));
  EXPECT_EQ(d->OverlapState, 0);  // never reached
}

TEST_F(CalibrationTest, EmbeddedTablesReplaceTheFileValues) {
  auto c = Lidar(4);
  const auto ap = LittleEndianDoubles({1.5, -2, 3});
  c->UpdateCalibration(TCalibration::KindAfterPulse, ap.data(), ap.size());
  EXPECT_EQ(c->AfterPulseCount, 3u);
  EXPECT_EQ(c->AfterPulse, (std::vector<double>{1.5, -2, 3}));
  EXPECT_EQ(c->AfterPulseState, TCalibration::StatePresent);

  // Overlap items already hold reciprocals; a trailing partial double is dropped.
  auto ov = LittleEndianDoubles({0.5, std::numeric_limits<double>::infinity()});
  ov.push_back(0xAA);
  c->UpdateCalibration(TCalibration::KindOverlap, ov.data(), ov.size());
  EXPECT_EQ(c->OverlapCount, 2u);
  EXPECT_EQ(c->OverlapInverse[0], 0.5);
  EXPECT_TRUE(std::isinf(c->OverlapInverse[1]));
  EXPECT_EQ(c->OverlapState, TCalibration::StatePresent);

  EXPECT_EQ(c->BuildEmbeddedBlock(TCalibration::KindAfterPulse), ap);
  ov.pop_back();
  EXPECT_EQ(c->BuildEmbeddedBlock(TCalibration::KindOverlap), ov);
}

TEST_F(CalibrationTest, OnlyA25ByteDetectorBlockChangesTheDetectorValues) {
  std::vector<uint8_t> block = {7};
  const auto values = LittleEndianDoubles({3e-8, 123.0, 0.75});
  block.insert(block.end(), values.begin(), values.end());
  ASSERT_EQ(block.size(), 25u);

  auto c = Lidar(1);
  std::vector<uint8_t> longer = block;
  longer.push_back(0);
  c->UpdateCalibration(TCalibration::KindDetector, block.data(), 24);
  c->UpdateCalibration(TCalibration::KindDetector, longer.data(), 26);
  c->UpdateCalibration(5, block.data(), 25);
  EXPECT_EQ(c->ApdState, 0);
  EXPECT_EQ(c->ApdFlag, 0);
  EXPECT_EQ(c->DeadTime, 2.5e-08);

  c->UpdateCalibration(TCalibration::KindDetector, block.data(), 25);
  EXPECT_EQ(c->ApdState, TCalibration::StatePresent);
  EXPECT_EQ(c->ApdFlag, 7);
  EXPECT_EQ(c->DeadTime, 3e-8);
  EXPECT_EQ(c->ApdOffset, 123.0);
  EXPECT_EQ(c->ApdScale, 0.75);
  EXPECT_EQ(c->BuildEmbeddedBlock(TCalibration::KindDetector), block);
}

TEST_F(CalibrationTest, SaveWritesTheAfterPulseFileWithItsHeader) {
  auto c = Lidar(3);
  c->Save();  // values never loaded: nothing written
  EXPECT_FALSE(fs::exists(c->AfterPulseFile));

  const auto ap = LittleEndianDoubles({0.5, 1e-7, -12});
  c->UpdateCalibration(TCalibration::KindAfterPulse, ap.data(), ap.size());
  c->Save({"# Channel3", "# Integration sec: 60"});
  const auto text = ReadTextFile(c->AfterPulseFile);
  ASSERT_TRUE(text.has_value());
  const std::vector<std::string> lines = SplitString(*text, '\n');
  // The date is the simulated clock's; the last item follows the final line feed.
  EXPECT_EQ(lines, (std::vector<std::string>{"# File generated by Skyvane", "# AfterPulse",
                                             "# Date: 15/06/2026,12:00:00", "# Channel3", "# Integration sec: 60",
                                             "0.5", "1e-07", "-12", "# End", ""}));

  // What was saved loads back unchanged.
  auto d = Lidar(3);
  ASSERT_TRUE(d->Load());
  EXPECT_EQ(d->AfterPulseState, TCalibration::StatePresent);
  EXPECT_EQ(d->AfterPulse, c->AfterPulse);
}

TEST_F(CalibrationTest, SavingTwiceKeepsThePreviousFileAsBak) {
  auto c = Lidar(2);
  const auto first = LittleEndianDoubles({1, 2});
  c->UpdateCalibration(TCalibration::KindAfterPulse, first.data(), first.size());
  c->Save();
  const auto firstText = ReadTextFile(c->AfterPulseFile);
  const auto second = LittleEndianDoubles({3, 4});
  c->UpdateCalibration(TCalibration::KindAfterPulse, second.data(), second.size());
  c->Save();
  const fs::path bak = dir.Path() / "Channel3" / "AfterPulse.bak";
  ASSERT_TRUE(fs::exists(bak));
  EXPECT_EQ(ReadTextFile(bak), firstText);

  auto d = Lidar(2);
  ASSERT_TRUE(d->Load());
  EXPECT_EQ(d->AfterPulse, (std::vector<double>{3, 4}));
}

TEST_F(CalibrationTest, SaveLogsAFolderThatCannotBeCreated) {
  dir.WriteFile("blocker", "a file where the folder should be");
  auto c = std::make_unique<TCalibration>(1, TChannelType::Lidar, 1);
  c->SetFilenames((dir.Path() / "blocker").string());
  const auto v = LittleEndianDoubles({1});
  c->UpdateCalibration(TCalibration::KindAfterPulse, v.data(), v.size());
  c->Save();
  EXPECT_TRUE(Logged("Error: Can't create folder <" + (dir.Path() / "blocker" / "Channel1").string() + ">"));
}

TEST_F(CalibrationTest, IntegrityMarksAreCheckedAndLogged) {
  EXPECT_FALSE(TCalibration::CheckIntegrity(nullptr, "Where()"));
  EXPECT_TRUE(Logged("Where():I'm NULL !!!!"));

  TCalibration c(1, TChannelType::Lidar, 1);
  EXPECT_TRUE(TCalibration::CheckIntegrity(&c, "X"));
  EXPECT_EQ(LogLines.size(), 1u);
  // A deleted or overwritten object is logged by the member it reaches.
  c.HeadGuard = TCalibration::HeadDeleted;
  c.SetFilenames(dir.Path().string());
  EXPECT_TRUE(Logged("TCalibration::SetFilenames():TCalibration deleted !!! (hdr)"));
  c.HeadGuard = TCalibration::HeadAlive;
  c.TailGuard = 0x0001;
  c.Load();
  EXPECT_TRUE(Logged("TCalibration::Load() : TCalibration corrupted or never allocated !!! (tail)[0x0001]"));
  c.TailGuard = TCalibration::TailAlive;
}

}  // namespace
