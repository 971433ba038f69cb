// Runs the fuzz target's reading and repair paths over a few hundred
// deterministic mutations of well-formed files, so that a crash or a
// sanitizer report shows up in the ordinary test run.
#include <gtest/gtest.h>

#include <random>

#include "tests/TestSupport.h"
#include "tests/fuzz/skv2_reader.cpp"

namespace {

using OrlaqLidar::Test::TTempDir;

class LidFileFuzzCorpusTest : public OrlaqLidar::Test::TSimulatedTime {
 protected:
  void Run(const std::string& bytes) {
    OrlaqLidar::Fuzz::Skv2Reader::Run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }

  std::vector<std::string> Seeds() {
    std::vector<std::string> seeds;
    for (int v = 0; v < OrlaqLidar::Fuzz::kSkv2Seeds; ++v) {
      const auto path = Dir / ("seed" + std::to_string(v) + ".skv2");
      OrlaqLidar::Fuzz::WriteSkv2Seed(path, v);
      seeds.push_back(ReadBack(path));
    }
    return seeds;
  }

  TTempDir Dir;
};

TEST_F(LidFileFuzzCorpusTest, SeedsAreReadableFiles) {
  for (const std::string& seed : Seeds()) {
    ASSERT_GT(seed.size(), 200u);
    EXPECT_EQ(seed.substr(0, 8), "SKV2HEA2");
    Run(seed);
  }
}

TEST_F(LidFileFuzzCorpusTest, DamageThatReadersPassOverIsFoundByTheStrictCheck) {
  const char* expected[OrlaqLidar::Fuzz::kSkv2Seeds] = {"", "", "", "", "end mark length is 17, not 16",
                                  "creation time is not a valid date and time",
                                  "model code holds bytes that are not letters or digits"};
  for (int v = 0; v < OrlaqLidar::Fuzz::kSkv2Seeds; ++v) {
    SCOPED_TRACE(v);
    const auto path = Dir / ("seed" + std::to_string(v) + ".skv2");
    OrlaqLidar::Fuzz::WriteSkv2Seed(path, v);
    OrlaqLidar::TApplicationConfig settings;
    OrlaqLidar::TLidFileAccess file(path, settings);
    ASSERT_EQ(file.OpenForReading(), 0);
    while (file.ReadBlocks(100) > 0) {
    }
    const std::vector<std::string> faults = file.Faults();
    if (*expected[v] == '\0')
      EXPECT_TRUE(faults.empty()) << faults.front();
    else
      EXPECT_EQ(faults, std::vector<std::string>{expected[v]});
  }
}

TEST_F(LidFileFuzzCorpusTest, MutatedFilesNeverCrashTheReader) {
  const std::vector<std::string> seeds = Seeds();
  std::mt19937 rng(20260615);
  auto pick = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
  for (int i = 0; i < 400; ++i) {
    std::string b = seeds[pick(seeds.size())];
    const int mutations = 1 + static_cast<int>(pick(4));
    for (int m = 0; m < mutations && !b.empty(); ++m) {
      switch (pick(6)) {
        case 0:  // flip a bit
          b[pick(b.size())] ^= static_cast<char>(1 << pick(8));
          break;
        case 1:  // cut the file
          b.resize(pick(b.size()));
          break;
        case 2: {  // a hostile 32-bit value where a length may sit
          static const uint32_t values[] = {0, 8, 15, 16, 17, 65536, 65537, 0x7FFFFFFF, 0xFFFFFFFF};
          const uint32_t v = values[pick(std::size(values))];
          const size_t at = pick(b.size());
          for (size_t k = 0; k < 4 && at + k < b.size(); ++k) b[at + k] = static_cast<char>(v >> (8 * k));
          break;
        }
        case 3:  // garbage in the middle
          b.insert(pick(b.size()), std::string(1 + pick(40), static_cast<char>(rng())));
          break;
        case 4:  // a tag where data was
          b.replace(pick(b.size()), 4, i % 2 ? "EOF1" : "CAL2");
          break;
        default:  // random bytes after the magic
          for (size_t k = 8; k < b.size(); k += 1 + pick(64)) b[k] = static_cast<char>(rng());
          break;
      }
    }
    Run(b);
  }
  // Inputs that are not recorded files at all.
  for (int i = 0; i < 50; ++i) {
    std::string b(pick(300), '\0');
    for (char& c : b) c = static_cast<char>(rng());
    if (i % 5 == 0) b = "SKV2" + b;
    Run(b);
  }
  Run("");
}

}  // namespace
