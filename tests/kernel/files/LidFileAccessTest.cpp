#include "kernel/files/LidFileAccess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>

#include "Config/ApplicationConfig.h"
#include "kernel/ErrorLogger.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;

// Largest single allocation while g_trackAllocations is set: a damaged
// length field must never turn into a buffer beyond the fixed read buffer.
namespace {
bool g_trackAllocations = false;
size_t g_largestAllocation = 0;
}  // namespace

void* operator new(size_t size) {
  if (g_trackAllocations && size > g_largestAllocation) g_largestAllocation = size;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Little-endian fields, as the file holds them (and as this machine does).
template <class T>
T At(const std::string& b, size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);
  return v;
}
void PutU32At(std::string& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
std::string Le32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string LeDouble(double d) { return std::string(reinterpret_cast<const char*>(&d), 8); }
const uint8_t* U8(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

struct TBlockSeen {
  int Channel;
  std::string Payload;
  TDateTime Time;
};

class LidFileAccessTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  LidFileAccessTest() {
    Settings.DefinitionText = "[General]\nName=Orlaq Test\nCode=ORLAQT\n";
    Settings.LidarConfig.Code = "ORLAQT";
    Info.SerialNumber = "SN000042";
    Info.LidarChannels = {{1, "LIDARFW 102abc"}, {2, "LIDARFW 103"}};
    Info.MonitorChannels = {{10, "MonitorLid001000001"}};
    Info.HasAirins = true;
    Info.AirinsRecordID = 99;
    Path = Dir / "DIR_SN000042" / "202606" / "LID_SN000042_20260615_1200.skv2";
  }

  TDateTime T(int second) const { return EncodeDateTime(2026, 6, 15, 12, 0, second); }

  // A file with the given number of shots, one second apart, on channel 1.
  void WriteShots(int count, size_t payloadSize = 40) {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    for (int i = 0; i < count; ++i) {
      const std::string payload(payloadSize, static_cast<char>('a' + i % 26));
      ASSERT_EQ(file.WriteShoot(1, T(i), U8(payload), payload.size()), static_cast<int>(payloadSize + 17));
    }
  }
  // Opens the file for writing (creating or repairing it) and closes it.
  void Reopen() {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
  }

  uint64_t DataStartOf() {
    TLidFileAccess file(Path, Settings);
    EXPECT_EQ(file.OpenForReading(), 0);
    return file.DataStart();
  }

  std::vector<TBlockSeen> ReadAllBlocks(TLidFileAccess& file, int max = 100000, TDateTime stop = 0) {
    std::vector<TBlockSeen> seen;
    file.OnData = [&](int ch, const uint8_t* d, size_t n, TDateTime t) {
      seen.push_back({ch, std::string(reinterpret_cast<const char*>(d), n), t});
    };
    file.OnEvent = [&](int ch, const std::string& code, const std::string& text, TDateTime t) {
      seen.push_back({ch, "EVENT:" + code + "|" + text, t});
    };
    file.ReadBlocks(max, stop);
    return seen;
  }

  bool LogEndsWith(size_t i, const std::string& text) const {
    if (i >= LogLines.size()) return false;
    const std::string& l = LogLines[i];
    return l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0;
  }

  TTempDir Dir;
  TApplicationConfig Settings;
  TLidFileAccess::TInstrumentInfo Info;
  fs::path Path;
};

TEST_F(LidFileAccessTest, NewFileGetsHeaderDefinitionCalibrationAndEndMarkByteForByte) {
  Settings.LidarConfig.Code = "Orlaq T-1";
  Info.MonitorChannels.push_back({11, "Mon       002000003"});
  Reopen();
  EXPECT_TRUE(LogLines.empty());

  std::string expected = "SKV2HEA2" "20260615120000" "SN000042";
  expected += '\x09';
  expected += "Orlaq T-1";
  expected += '\x02';
  expected += std::string("\x01LIDARFW   ", 11) + Le32(102) + "abc000";
  expected += std::string("\x02LIDARFW   ", 11) + Le32(103) + "000000";
  expected += '\x02';
  expected += std::string("\x0aMonitorLid", 11) + Le32(1) + "000001";
  expected += std::string("\x0bMon\0\0\0\0\0\0\0", 11) + Le32(2) + "000003";
  expected += std::string("\x01\x63", 2);
  const std::string& def = Settings.DefinitionText;
  expected += "DEF1" + Le32(static_cast<uint32_t>(def.size() + 16)) + LeDouble(T(0)) + def;
  expected += "CAL2" + Le32(20) + LeDouble(T(0)) + Le32(0);
  expected += "EOF1" + Le32(16) + LeDouble(T(0));
  EXPECT_EQ(ReadBytes(Path), expected);

  // Found complete when opened again: nothing rewritten, nothing logged.
  Clock.AdvanceMs(5000);
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    EXPECT_EQ(file.EndOfData(), expected.size() - 16);
    EXPECT_EQ(file.DataStart(), expected.size() - 16);
  }
  EXPECT_TRUE(LogLines.empty());
  EXPECT_EQ(ReadBytes(Path), expected);

  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(reader.ModelCode(), "ORLAQT1");
  EXPECT_EQ(reader.SerialNumber(), "SN000042");
  EXPECT_EQ(reader.CreationTime(), T(0));
  EXPECT_EQ(reader.LidarChannelCount(), 2);
  EXPECT_EQ(reader.MonitorChannelCount(), 2);
  EXPECT_TRUE(reader.HasOption());
  EXPECT_EQ(reader.OptionRecordID(), 99);
  EXPECT_EQ(reader.DefinitionText(), def);
  ASSERT_EQ(reader.HeaderChannels().size(), 4u);
  EXPECT_EQ(reader.HeaderChannels()[3].FirmwareName, std::string("Mon\0\0\0\0\0\0\0", 10));
}

TEST_F(LidFileAccessTest, VersionTextsAreCutIntoNameNumberAndSuffix) {
  // Name, number and suffix as one text: "7x9" is not a number.
  const std::pair<std::string, std::string> cases[] = {
      {"  ABCDEFGHIJKL 7x9123456789  ", "ABCDEFGHIJ|0|123456"},
      {"NOBLANK", "NONAME    |0|000000"},
      {"FW 12", "FW        |12|000000"},
  };
  for (const auto& [version, expected] : cases) {
    const auto e = TLidFileAccess::LidarChannelEntry({3, version});
    EXPECT_EQ(e.FirmwareName + "|" + std::to_string(e.FirmwareNumber) + "|" + e.FirmwareSuffix, expected);
  }
  const auto m = TLidFileAccess::MonitorChannelEntry({4, "Short"});
  EXPECT_EQ(m.FirmwareName, std::string("Short\0\0\0\0\0", 10));
  EXPECT_EQ(m.FirmwareSuffix, "000000");
}

TEST_F(LidFileAccessTest, ShortSerialAndModelCodeWithPunctuationReadBack) {
  Info.SerialNumber = "AB12";
  Settings.LidarConfig.Code = " orl-aq 7.b/x ";
  Reopen();
  const std::string bytes = ReadBytes(Path);
  EXPECT_EQ(bytes.substr(22, 8), std::string("AB12\0\0\0\0", 8));
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(reader.SerialNumber(), "AB12");
  EXPECT_EQ(reader.ModelCode(), "ORLAQ7BX");

  Info.SerialNumber = "123456789";
  fs::remove(Path);
  Reopen();
  TLidFileAccess again(Path, Settings);
  ASSERT_EQ(again.OpenForReading(), 0);
  EXPECT_EQ(again.SerialNumber(), "12345678");
}

TEST_F(LidFileAccessTest, DataBlocksRoundTripInOrderWithTheirLayout) {
  const std::string shot = "shot-bytes";
  const double mon[2] = {1.5, -2.25};
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    EXPECT_EQ(file.WriteShoot(1, T(1), U8(shot), shot.size()), 27);
    EXPECT_EQ(file.WriteMonitor(10, T(2), reinterpret_cast<const uint8_t*>(mon), sizeof mon), 33);
    EXPECT_EQ(file.WriteEvent(0, T(3), "USNX", "a note"), 17 + 9);
    EXPECT_EQ(file.WriteEvent(0, T(4), "S", ""), 20);
    EXPECT_EQ(file.WriteOption(99, T(5), U8("ins"), 3), 20);
    EXPECT_TRUE(file.Flush());
  }
  const std::string bytes = ReadBytes(Path);
  const size_t start = DataStartOf();
  EXPECT_EQ(bytes.substr(start, 4), "SHT2");
  EXPECT_EQ(At<uint32_t>(bytes, start + 4), 27u);
  EXPECT_EQ(At<double>(bytes, start + 8), T(1));
  EXPECT_EQ(bytes[start + 16], '\x01');
  EXPECT_EQ(bytes.substr(start + 17, shot.size()), shot);
  EXPECT_EQ(bytes.substr(start + 27 + 33 + 17, 9), "USNa note");
  EXPECT_EQ(bytes.substr(bytes.size() - 16, 8), "EOF1" + Le32(16));

  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  const auto seen = ReadAllBlocks(reader);
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].Payload, shot);
  EXPECT_EQ(seen[0].Time, T(1));
  EXPECT_EQ(seen[1].Channel, 10);
  EXPECT_EQ(seen[1].Payload, std::string(reinterpret_cast<const char*>(mon), sizeof mon));
  EXPECT_EQ(seen[2].Payload, "EVENT:USN|a note");
  EXPECT_EQ(seen[3].Payload, "EVENT:S  |");
  EXPECT_EQ(seen[4].Channel, 99);
  EXPECT_TRUE(reader.EndMarkReached());
  EXPECT_TRUE(reader.IndexComplete());
  ASSERT_EQ(reader.IndexCount(), 5u);
  EXPECT_EQ(reader.Index()[0].Position, start);
  EXPECT_EQ(std::string(reader.Index()[4].Tag.data(), 4), "OPT1");

  // Rewind reads the same blocks again.
  reader.Rewind();
  EXPECT_EQ(ReadAllBlocks(reader).size(), 5u);
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidFileAccessTest, ReopeningAppendsOverTheOldEndMarkAndCloseRestoresIt) {
  WriteShots(2);
  const size_t sizeBefore = ReadBytes(Path).size();
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    ASSERT_EQ(file.WriteShoot(1, T(9), U8("x"), 1), 18);
    // Between blocks the file holds no end mark: the new block took its place.
    EXPECT_EQ(ReadBytes(Path).size(), sizeBefore - 16 + 18);
  }
  EXPECT_EQ(ReadBytes(Path).size(), sizeBefore + 18);
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  const auto seen = ReadAllBlocks(reader);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].Payload, "x");
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidFileAccessTest, WritesWithoutAnOpenForWritingAreRefusedReadOnly) {
  WriteShots(1);
  const std::string before = ReadBytes(Path);
  TLidFileAccess idle(Path, Settings);
  EXPECT_EQ(idle.WriteShoot(1, T(1), U8("x"), 1), -8);
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(reader.WriteEvent(0, T(1), "USN", "n"), -8);
  EXPECT_EQ(reader.WriteMonitor(1, T(1), U8("x"), 1), -8);
  reader.Close();
  EXPECT_EQ(ReadBytes(Path), before);

  // A folder that cannot be made fails the open; later writes are read-only too.
  WriteBytes(Dir / "blocker", "x");
  TLidFileAccess file(Dir / "blocker" / "sub" / "f.skv2", Settings);
  EXPECT_EQ(file.OpenForWriting(&Info), -3);
  EXPECT_EQ(file.WriteShoot(1, T(0), U8("x"), 1), -8);
  EXPECT_EQ(TLidFileAccess(Dir.Path(), Settings).OpenForReading(), -3);  // a folder is no file
}

TEST_F(LidFileAccessTest, FileCutInsideABlockIsRepairedAfterTheLastWholeBlock) {
  WriteShots(3);
  std::string bytes = ReadBytes(Path);
  const size_t start = DataStartOf();
  const size_t cut = start + 2 * 57 + 20;  // 20 bytes into the third block
  WriteBytes(Path, bytes.substr(0, cut));

  // Reading a damaged file leaves it alone and stops at the last whole block.
  {
    TLidFileAccess reader(Path, Settings);
    ASSERT_EQ(reader.OpenForReading(), 0);
    EXPECT_EQ(reader.EndOfData(), start + 2 * 57);
    EXPECT_EQ(ReadAllBlocks(reader).size(), 2u);
  }
  EXPECT_TRUE(LogLines.empty());
  EXPECT_EQ(ReadBytes(Path).size(), cut);

  Clock.AdvanceMs(60000);
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    EXPECT_EQ(file.EndOfData(), start + 2 * 57);
  }
  ASSERT_EQ(LogLines.size(), 2u);
  EXPECT_TRUE(LogEndsWith(0, "> File seems to be damaged, try to correct it..."));
  EXPECT_TRUE(LogEndsWith(1, "> Recovery: File got new end of file mark after 2 data block (lost 20 bytes)"));
  bytes = ReadBytes(Path);
  ASSERT_EQ(bytes.size(), start + 2 * 57 + 16);
  EXPECT_EQ(bytes.substr(start + 2 * 57, 8), "EOF1" + Le32(16));
  EXPECT_EQ(At<double>(bytes, start + 2 * 57 + 8), T(60));
}

TEST_F(LidFileAccessTest, RepairReportsTheBytesLostEvenWhenTheyMatchTheEndMarkSize) {
  WriteShots(2);
  const std::string bytes = ReadBytes(Path);
  const size_t end = bytes.size() - 16;

  WriteBytes(Path, bytes.substr(0, end));  // ends exactly after a whole block
  Reopen();
  ASSERT_EQ(LogLines.size(), 2u);
  EXPECT_TRUE(LogEndsWith(1, "after 2 data block (lost 0 bytes)"));

  WriteBytes(Path, bytes.substr(0, end) + std::string("SHT2\x40\0\0\0", 8) + std::string(8, '\0'));
  Reopen();
  ASSERT_EQ(LogLines.size(), 4u);
  EXPECT_TRUE(LogEndsWith(3, "after 2 data block (lost 16 bytes)"));
  EXPECT_EQ(ReadBytes(Path).size(), end + 16);
}

TEST_F(LidFileAccessTest, DamagedFilesAreRefusedForWritingAndLeftByteForByte) {
  WriteShots(3);
  const std::string whole = ReadBytes(Path);
  const size_t start = DataStartOf();
  const size_t def = whole.find("DEF1"), cal = whole.find("CAL2");
  const std::string unsealed = whole.substr(0, whole.size() - 16);  // the header blocks are checked
  auto with = [](std::string b, size_t at, const std::string& bytes) { return b.replace(at, bytes.size(), bytes); };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"header tag", with(whole, 4, "HEX2")},
      {"header tag, no end mark", with(unsealed, 4, "HEX2")},
      {"header cut short", whole.substr(0, 20)},
      {"definition length", with(whole, def + 4, Le32(65537))},
      {"definition length, no end mark", with(unsealed, def + 4, Le32(65537))},
      {"calibration tag", with(unsealed, cal, "CAX2")},
      {"calibration items overrun", with(whole, cal + 16, Le32(3))},
      // Readers stop at the damage: blocks appended behind it would be lost.
      {"unknown tag in the middle", with(whole, start + 57, "XYZ9")},
      {"length in the middle", with(whole, start + 57 + 4, Le32(12))},
      {"end mark in the middle", with(whole, start + 57, "EOF1" + Le32(16))},
      // Without an end mark: whole blocks stand behind the damage, so it is
      // no torn end that a repair may cut.
      {"unknown tag in the middle, no end mark", with(unsealed, start + 57, "XYZ9")},
      {"length in the middle, no end mark", with(unsealed, start + 57 + 4, Le32(0x7FFFFFFF))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(Path, c.bytes);
    LogLines.clear();
    {
      TLidFileAccess file(Path, Settings);
      EXPECT_NE(file.OpenForWriting(&Info), 0);
      EXPECT_TRUE(file.Damaged());
      EXPECT_EQ(file.WriteShoot(1, T(9), U8("x"), 1), -8);
    }
    EXPECT_EQ(ReadBytes(Path), c.bytes);
    for (const auto& line : LogLines) {
      EXPECT_EQ(line.find("new header"), std::string::npos) << line;
      EXPECT_EQ(line.find("no data remaning"), std::string::npos) << line;
      EXPECT_EQ(line.find("Recovery"), std::string::npos) << line;
    }
  }

  // Reopened where this program closed it, a file is not walked again.
  WriteBytes(Path, with(whole, start + 57, "XYZ9"));
  EXPECT_EQ(TLidFileAccess(Path, Settings).OpenForWriting(&Info, whole.size() - 16), 0);

  // The readers go on as before: damaged header blocks make a file unreadable.
  WriteBytes(Path, with(unsealed, def + 4, Le32(65537)));
  TErrorLogger::Instance().Reset();
  LogLines.clear();
  TLidFileAccess reader(Path, Settings);
  EXPECT_EQ(reader.OpenForReading(), -1);
  EXPECT_EQ(reader.MakeIndex(), -1);
  ASSERT_EQ(LogLines.size(), 1u) << LogLines.front();
  EXPECT_TRUE(LogEndsWith(0, "> Error making index of skv2 file!"));

  // An empty file is no damage; without a source it cannot be given a header.
  WriteBytes(Path, "");
  TLidFileAccess sourceless(Path, Settings);
  EXPECT_EQ(sourceless.OpenForWriting(nullptr), -1);
  EXPECT_FALSE(sourceless.Damaged());
}

TEST_F(LidFileAccessTest, ATornEndIsCutEvenWhenZerosFollowIt) {
  // A power cut may leave the end of a file as zeros instead of its data.
  WriteShots(3);
  const std::string unsealed = ReadBytes(Path).substr(0, ReadBytes(Path).size() - 16);
  const size_t start = DataStartOf();
  for (const std::string& tail : {std::string(300, '\0'), unsealed.substr(start, 30) + std::string(20, '\0')}) {
    WriteBytes(Path, unsealed + tail);
    LogLines.clear();
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    EXPECT_FALSE(file.Damaged());
    EXPECT_EQ(file.EndOfData(), unsealed.size());
    ASSERT_EQ(LogLines.size(), 2u);
    EXPECT_TRUE(LogEndsWith(1, "after 3 data block (lost " + std::to_string(tail.size()) + " bytes)"));
  }
}

TEST_F(LidFileAccessTest, FailingWritesSyncsAndCutsAreReportedAndLeaveTheFileConsistent) {
  WriteShots(2);
  std::map<TLidFileStream::TCall, int> failures;  // errno per call kind
  TLidFileStream::SetFaultHook([&](TLidFileStream::TCall call, const fs::path&) {
    return failures.count(call) ? failures[call] : 0;
  });
  struct TUnhook {
    ~TUnhook() { TLidFileStream::SetFaultHook(nullptr); }
  } unhook;

  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    failures[TLidFileStream::TCall::Write] = ENOSPC;
    EXPECT_EQ(file.WriteShoot(1, T(5), U8("lost"), 4), -9);
    ASSERT_EQ(LogLines.size(), 1u);
    EXPECT_TRUE(LogEndsWith(0, "> Error writing shoot in skv2 file!"));
    failures[TLidFileStream::TCall::Sync] = EIO;
    EXPECT_FALSE(file.Flush());
    failures.clear();
    EXPECT_TRUE(file.Flush());
    EXPECT_EQ(file.WriteShoot(1, T(6), U8("kept"), 4), 21);
  }
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  auto seen = ReadAllBlocks(reader);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].Payload, "kept");
  reader.Close();

  // The cut of a repair fails: reported as a failing disk, not as damage;
  // every whole block stays readable and the next open finishes the repair.
  const std::string torn = ReadBytes(Path).substr(0, ReadBytes(Path).size() - 18);  // 19 bytes of "kept" left
  WriteBytes(Path, torn);
  LogLines.clear();
  failures[TLidFileStream::TCall::Truncate] = EIO;
  {
    TLidFileAccess file(Path, Settings);
    EXPECT_EQ(file.OpenForWriting(&Info), -9);
    EXPECT_FALSE(file.Damaged());
  }
  ASSERT_EQ(LogLines.size(), 2u);
  EXPECT_NE(LogLines[1].find("Error cutting the damaged end of skv2 file! "), std::string::npos) << LogLines[1];
  TLidFileAccess damaged(Path, Settings);
  ASSERT_EQ(damaged.OpenForReading(), 0);
  EXPECT_EQ(ReadAllBlocks(damaged).size(), 2u);
  damaged.Close();
  failures.clear();
  Reopen();
  EXPECT_TRUE(LogEndsWith(LogLines.size() - 1, "after 2 data block (lost 19 bytes)"));

  // A new file whose header cannot be written is left empty, not half made:
  // a half header would be taken for damage next time.
  WriteBytes(Path, "");
  failures[TLidFileStream::TCall::Write] = ENOSPC;
  {
    TLidFileAccess file(Path, Settings);
    EXPECT_EQ(file.OpenForWriting(&Info), -9);
    EXPECT_FALSE(file.Damaged());
  }
  EXPECT_EQ(ReadBytes(Path), "");
}

TEST_F(LidFileAccessTest, DefinitionOfTheLargestReadableSizeIsAcceptedAndLongerTextsAreCut) {
  Settings.DefinitionText = std::string(70000, 'd');
  Reopen();
  // 65536 is the largest length field read (one more is refused, as above).
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(reader.DefinitionText().size(), 65536u - 16);
}

TEST_F(LidFileAccessTest, FileNotStartingWithTheMagicIsRefusedAndLeftUntouched) {
  const std::string foreign = "NOTASKV2 file with some text in it, long enough to have an end...EOF1............";
  fs::create_directories(Path.parent_path());
  for (const std::string& content : {foreign, std::string("ab")}) {
    WriteBytes(Path, content);
    TLidFileAccess reader(Path, Settings);
    EXPECT_EQ(reader.OpenForReading(), -1);
    TLidFileAccess writer(Path, Settings);
    EXPECT_EQ(writer.OpenForWriting(&Info), -1);
    EXPECT_TRUE(writer.Damaged());
    EXPECT_EQ(writer.WriteShoot(1, T(0), U8("x"), 1), -8);
    writer.Close();
    EXPECT_EQ(ReadBytes(Path), content);
  }
  // An empty file cannot be read either, and a missing one is not created.
  WriteBytes(Path, "");
  EXPECT_EQ(TLidFileAccess(Path, Settings).OpenForReading(), -1);
  EXPECT_EQ(TLidFileAccess(Dir / "missing.skv2", Settings).OpenForReading(), -3);
  EXPECT_FALSE(fs::exists(Dir / "missing.skv2"));
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidFileAccessTest, UnknownTagStopsReadingAtItsStart) {
  WriteShots(3);
  std::string bytes = ReadBytes(Path);
  const size_t start = DataStartOf();
  bytes.replace(start + 57, 4, "XYZ9");
  WriteBytes(Path, bytes);

  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(ReadAllBlocks(reader).size(), 1u);
  EXPECT_EQ(reader.Position(), start + 57);
  ASSERT_EQ(LogLines.size(), 1u);
  EXPECT_TRUE(LogEndsWith(0, "> Error reading the skv2 file: Invalid tag!"));
  EXPECT_FALSE(reader.EndMarkReached());
}

TEST_F(LidFileAccessTest, StopTimeLeavesTheFirstLaterBlockForTheNextCall) {
  WriteShots(5);
  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  auto seen = ReadAllBlocks(reader, 100, T(1) + 0.5 / SecondsPerDay);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].Time, T(1));
  seen = ReadAllBlocks(reader, 100, T(3));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Time, T(2));
  // A stop time without a day part does not count; the maximum does.
  seen = ReadAllBlocks(reader, 0, 0.9);
  EXPECT_TRUE(seen.empty());
  seen = ReadAllBlocks(reader, 100, 0.9);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Time, T(4));
}

TEST_F(LidFileAccessTest, ShortEventPayloadIsReadAndIndexedButNotHandedOut) {
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    file.WriteOption(0, T(1), U8("ab"), 2);
    file.WriteEvent(0, T(2), "USN", "after");
  }
  std::string bytes = ReadBytes(Path);
  bytes.replace(DataStartOf(), 4, "EVT1");
  WriteBytes(Path, bytes);

  TLidFileAccess reader(Path, Settings);
  ASSERT_EQ(reader.OpenForReading(), 0);
  const auto seen = ReadAllBlocks(reader);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].Payload, "EVENT:USN|after");
  EXPECT_EQ(reader.IndexCount(), 2u);

  TLidFileAccess indexed(Path, Settings);
  ASSERT_EQ(indexed.MakeIndex(), 0);
  EXPECT_EQ(indexed.IndexCount(), 2u);
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidFileAccessTest, HostileDataBlockLengthsEndTheReadWithoutLargeAllocations) {
  WriteShots(3, 4096);
  const std::string original = ReadBytes(Path);
  const size_t start = DataStartOf();
  const size_t second = start + 4096 + 17;
  const uint32_t beyondEnd = static_cast<uint32_t>(original.size() - second + 1);
  for (uint32_t length : {0u, 8u, 16u, 0xFFFFFFFFu, beyondEnd, 17u + 16u * 1024u * 1024u + 1u}) {
    SCOPED_TRACE(length);
    std::string bytes = original;
    PutU32At(bytes, second + 4, length);
    WriteBytes(Path, bytes);
    // Each damage is read afresh: the log must not take the same message of
    // the previous round for a repetition.
    LogLines.clear();
    TErrorLogger::Instance().Reset();

    TLidFileAccess reader(Path, Settings);
    ASSERT_EQ(reader.OpenForReading(), 0);
    g_largestAllocation = 0;
    g_trackAllocations = true;
    const auto seen = ReadAllBlocks(reader);
    g_trackAllocations = false;
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(reader.Position(), second);
    EXPECT_LE(g_largestAllocation, TLidFileStream::DefaultBufferSize);
    ASSERT_EQ(LogLines.size(), 1u);
    EXPECT_NE(LogLines[0].find("> Error reading the skv2 file! "), std::string::npos);
    // A later call does not read past the damage either.
    EXPECT_EQ(reader.ReadBlocks(10), 0);

    TLidFileAccess indexed(Path, Settings);
    g_largestAllocation = 0;
    g_trackAllocations = true;
    EXPECT_EQ(indexed.MakeIndex(), 0);
    g_trackAllocations = false;
    EXPECT_EQ(indexed.IndexCount(), 1u);
    EXPECT_LE(g_largestAllocation, TLidFileStream::DefaultBufferSize);

    // Without the end mark: the third block stands whole behind the
    // damage, so no repair may cut it off; the file is left alone.
    bytes.resize(bytes.size() - 16);
    WriteBytes(Path, bytes);
    TLidFileAccess writer(Path, Settings);
    EXPECT_EQ(writer.OpenForWriting(&Info), -1);
    EXPECT_TRUE(writer.Damaged());
    writer.Close();
    EXPECT_EQ(ReadBytes(Path), bytes);
  }
}

TEST_F(LidFileAccessTest, CalibrationItemsRoundTripInSetupOrder) {
  auto& cals = Settings.Setup.Calibrations;
  cals.push_back(std::make_unique<TCalibration>(3, TChannelType::Lidar, 4));
  cals.push_back(std::make_unique<TCalibration>(1, TChannelType::Lidar, 2));
  TCalibration& a = *cals[0];
  a.AfterPulse = {0.1, 0.2, 0.3, 0.4};
  a.AfterPulseState = TCalibration::StatePresent;
  a.OverlapInverse = {2, 1, 1, 0.5};
  a.OverlapState = TCalibration::StatePresent;
  a.ApdFlag = 1;
  a.DeadTime = 3e-9;
  a.ApdOffset = 12.5;
  a.ApdScale = 0.75;
  a.ApdState = TCalibration::StatePresent;
  TCalibration& b = *cals[1];
  b.OverlapInverse = {4, 3};
  b.OverlapState = TCalibration::StatePresent;
  b.ApdState = TCalibration::StateAttempted;  // defaults only: not written
  Reopen();
  const std::string bytes = ReadBytes(Path);
  const size_t cal = bytes.find("CAL2");
  EXPECT_EQ(At<uint32_t>(bytes, cal + 4), 16u + 4 + (6 + 32) + (6 + 32) + (6 + 25) + (6 + 16));
  EXPECT_EQ(At<uint32_t>(bytes, cal + 16), 4u);
  EXPECT_EQ(bytes.substr(cal + 20, 2), std::string("\x03\x00", 2));
  EXPECT_EQ(At<uint32_t>(bytes, cal + 22), 32u);
  EXPECT_EQ(At<double>(bytes, cal + 26), 0.1);

  // Channel, kind and size of each item as handed out, in setup order.
  std::vector<std::string> items;
  TApplicationConfig other;
  other.Setup.UseEmbeddedCalib = true;
  TLidFileAccess reader(Path, other);
  reader.OnCalibration = [&](int ch, int kind, const uint8_t* d, size_t n) {
    items.push_back(std::to_string(ch) + "/" + std::to_string(kind) + "/" + std::to_string(n));
    other.Setup.EmbedCalibration(ch, kind, d, n);
  };
  ASSERT_EQ(reader.OpenForReading(), 0);
  EXPECT_EQ(items, (std::vector<std::string>{"3/0/32", "3/1/32", "3/2/25", "1/1/16"}));
  const TCalibration* a2 = other.Setup.FindCalibration(3);
  const TCalibration* b2 = other.Setup.FindCalibration(1);
  ASSERT_TRUE(a2 && b2);
  EXPECT_EQ(a2->AfterPulse, a.AfterPulse);
  EXPECT_EQ(a2->OverlapInverse, a.OverlapInverse);
  EXPECT_EQ(std::vector<double>({a2->DeadTime, a2->ApdOffset, a2->ApdScale}), std::vector<double>({3e-9, 12.5, 0.75}));
  EXPECT_EQ(a2->ApdFlag, 1);
  EXPECT_EQ(b2->OverlapInverse, b.OverlapInverse);

  // Indexing hands the header's items out too.
  int indexedItems = 0;
  TLidFileAccess indexed(Path, other);
  indexed.OnCalibration = [&](int, int, const uint8_t*, size_t) { ++indexedItems; };
  ASSERT_EQ(indexed.MakeIndex(), 0);
  EXPECT_EQ(indexedItems, 4);
}

TEST_F(LidFileAccessTest, CalibrationItemsOverrunningTheBlockAreRefused) {
  Reopen();
  const std::string good = ReadBytes(Path);
  const size_t cal = good.find("CAL2");
  const std::string tail = good.substr(cal + 20);
  // Count 1 with no item; one item claiming more bytes than the block has;
  // a count of 4 billion.
  const std::vector<std::string> contents = {Le32(1), Le32(1) + std::string("\x01\x00", 2) + Le32(9) + "12345678",
                                             Le32(0xFFFFFFFFu) + std::string(12, '\0')};
  for (const std::string& content : contents) {
    std::string bytes = good.substr(0, cal) + "CAL2" + Le32(static_cast<uint32_t>(16 + content.size())) +
                        LeDouble(T(0)) + content + tail;
    WriteBytes(Path, bytes);
    int handed = 0;
    TLidFileAccess reader(Path, Settings);
    reader.OnCalibration = [&](int, int, const uint8_t*, size_t) { ++handed; };
    g_largestAllocation = 0;
    g_trackAllocations = true;
    EXPECT_EQ(reader.OpenForReading(), -1);
    g_trackAllocations = false;
    EXPECT_EQ(handed, 0);
    EXPECT_LE(g_largestAllocation, TLidFileStream::DefaultBufferSize);
  }
}

TEST_F(LidFileAccessTest, IndexCoversEveryBlockAndSeekTimePositionsASearchingOpen) {
  WriteShots(2500, 8);
  int handed = 0;
  TLidFileAccess file(Path, Settings);
  file.OnData = [&](int, const uint8_t*, size_t, TDateTime) { ++handed; };
  ASSERT_EQ(file.MakeIndex(), 0);
  EXPECT_EQ(handed, 0);  // payloads are skipped while indexing
  EXPECT_FALSE(file.IsOpen());
  EXPECT_TRUE(file.IndexComplete());
  ASSERT_EQ(file.IndexCount(), 2500u);
  EXPECT_EQ(file.FirstIndexTime(), T(0));
  EXPECT_EQ(file.LastIndexTime(), T(2499));
  EXPECT_EQ(file.Index()[1].Position - file.Index()[0].Position, 25u);

  // Outside the index (with its tolerance) nothing is found.
  EXPECT_FALSE(file.SeekTime(T(0) - 3.0 / SecondsPerDay, 2));
  EXPECT_FALSE(file.SeekTime(T(2499) + 3.0 / SecondsPerDay, 2));
  EXPECT_TRUE(file.SeekTime(T(0) - 2.5 / SecondsPerDay, 3));

  ASSERT_EQ(file.OpenForSearching(), 0);
  ASSERT_TRUE(file.SeekTime(T(1000) + 0.4 / SecondsPerDay, 0));
  std::vector<TDateTime> times;
  file.OnData = [&](int, const uint8_t*, size_t, TDateTime t) { times.push_back(t); };
  EXPECT_EQ(file.ReadBlocks(60, T(1004)), 5);
  ASSERT_EQ(times.size(), 5u);
  EXPECT_EQ(times[0], T(1000));
  EXPECT_EQ(file.IndexCount(), 2500u);  // a complete index does not grow
  EXPECT_TRUE(LogLines.empty());
}

TEST_F(LidFileAccessTest, PayloadsLargerThanTheReadBufferAreReadWhole) {
  std::string big(5000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  {
    TLidFileAccess file(Path, Settings);
    ASSERT_EQ(file.OpenForWriting(&Info), 0);
    file.WriteShoot(1, T(0), U8("small"), 5);
    file.WriteShoot(2, T(1), U8(big), big.size());
    file.WriteEvent(0, T(2), "USN", big);
  }
  TLidFileAccess reader(Path, Settings, 256);
  ASSERT_EQ(reader.OpenForReading(), 0);
  const auto seen = ReadAllBlocks(reader);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].Payload, "small");
  EXPECT_EQ(seen[1].Payload, big);
  EXPECT_EQ(seen[2].Payload, "EVENT:USN|" + big);
  EXPECT_TRUE(reader.EndMarkReached());

  TLidFileAccess indexed(Path, Settings, 256);
  ASSERT_EQ(indexed.MakeIndex(), 0);
  EXPECT_EQ(indexed.IndexCount(), 3u);
}

}  // namespace
