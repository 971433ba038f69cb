// The file inspection tool, run as a separate process on real files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "Config/ApplicationConfig.h"
#include "kernel/files/LidFileAccess.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;
namespace fs = std::filesystem;

namespace {

class Skv2InfoTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  void SetUp() override {
    tool_ = OrlaqLidar::Test::BinDir() / "skv2-info";
    ASSERT_TRUE(fs::exists(tool_)) << tool_ << " not built";
  }

  void WriteFile(const fs::path& path) {
    TApplicationConfig settings;
    settings.LidarConfig.Code = "ORLAQT";
    settings.DefinitionText = std::string(200, 'd');
    TLidFileAccess::TInstrumentInfo info;
    info.SerialNumber = "SN7";
    info.LidarChannels = {{1, "FW 100abc"}};
    TLidFileAccess file(path, settings);
    ASSERT_EQ(file.OpenForWriting(&info), 0);
    const uint8_t shot[32] = {};
    for (int i = 0; i < 3; ++i) file.WriteShoot(1, EncodeDateTime(2026, 6, 15, 12, 0, i), shot, sizeof shot);
    file.WriteEvent(0, EncodeDateTime(2026, 6, 15, 12, 0, 5), "USN", "note");
  }

  // Exit status and standard output of the tool.
  std::pair<int, std::string> Run(const std::string& args) {
    const std::string command = "'" + tool_.string() + "' " + args + " 2>/dev/null";
    FILE* p = ::popen(command.c_str(), "r");
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
  }

  TTempDir Dir;
  fs::path tool_;
};

TEST_F(Skv2InfoTest, WholeFileIsDescribedAndPassesTheCheck) {
  const fs::path f = Dir / "a.skv2";
  WriteFile(f);
  const auto [status, out] = Run("--check '" + f.string() + "'");
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("serial number: SN7"), std::string::npos);
  EXPECT_NE(out.find("model code: ORLAQT"), std::string::npos);
  EXPECT_NE(out.find("created: 2026-06-15 12:00:00"), std::string::npos);
  EXPECT_NE(out.find("SHT2 channel   1: 3"), std::string::npos);
  EXPECT_NE(out.find("EVT1 channel   0: 1"), std::string::npos);
  EXPECT_NE(out.find("first block: 2026-06-15 12:00:00.000"), std::string::npos);
  EXPECT_NE(out.find("last block: 2026-06-15 12:00:05.000"), std::string::npos);
  EXPECT_NE(out.find("end mark: present"), std::string::npos);
  EXPECT_NE(out.find("bytes after the last whole block: 0"), std::string::npos);
}

TEST_F(Skv2InfoTest, CutFileFailsTheCheckAndShowsWhatIsLeft) {
  const fs::path whole = Dir / "a.skv2";
  const fs::path cut = Dir / "b.skv2";
  WriteFile(whole);
  WriteFile(cut);
  fs::resize_file(cut, fs::file_size(cut) - 16 - 10);  // end mark and 10 bytes of the event gone
  auto [status, out] = Run("--check '" + whole.string() + "' '" + cut.string() + "'");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("end mark: missing"), std::string::npos);
  EXPECT_NE(out.find("bytes after the last whole block: 14"), std::string::npos);
  EXPECT_NE(out.find("SHT2 channel   1: 3"), std::string::npos);
  // Without --check a damaged but readable file is only described.
  EXPECT_EQ(Run("'" + cut.string() + "'").first, 0);
  // Not a recorded file at all.
  std::ofstream(Dir / "c.skv2") << "plain text";
  EXPECT_EQ(Run("'" + (Dir / "c.skv2").string() + "'").first, 1);
  EXPECT_EQ(Run("").first, 2);
}

TEST_F(Skv2InfoTest, FieldsNoWriterProducesFailTheCheck) {
  const fs::path good = Dir / "a.skv2";
  WriteFile(good);
  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  // Header: "SKV2HEA2", 14 digits of time from 8, serial from 22, code length at 30.
  auto with = [&](size_t at, const std::string& part) { return std::string(bytes).replace(at, part.size(), part); };
  const struct {
    std::string bytes, fault;
  } cases[] = {
      {with(bytes.size() - 12, std::string("\x11\0\0\0", 4)), "end mark length is 17, not 16"},
      {with(8, "20261315"), "creation time is not a valid date and time"},
      {with(8, "20250229"), "creation time is not a valid date and time"},
      {with(8 + 12, "6x"), "creation time is not a valid date and time"},
      {with(31 + 2, "\x07"), "model code holds bytes that are not letters or digits"},
      {with(31 + 2, "-"), "model code holds bytes that are not letters or digits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    const fs::path f = Dir / "b.skv2";
    std::ofstream(f, std::ios::binary | std::ios::trunc) << c.bytes;
    const auto [status, out] = Run("--check '" + f.string() + "'");
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("  damaged: " + c.fault), std::string::npos) << out;
    EXPECT_NE(out.find("state: damaged"), std::string::npos) << out;
  }
  // A leap day is a date.
  const fs::path leap = Dir / "c.skv2";
  std::ofstream(leap, std::ios::binary) << with(8, "20280229");
  EXPECT_EQ(Run("--check '" + leap.string() + "'").first, 0);
}

}  // namespace
