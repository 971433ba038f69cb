// libFuzzer target: the calibration archive installer. The input is the ZIP
// archive. Every input gets a fresh folder tree: the configuration folder
// with a calibration folder per serial number, files already installed,
// symbolic links planted inside that point outside, a file outside and a
// working folder of its own. After the install the whole tree is walked
// again: whatever is new must be a channel folder or a channel file inside
// a calibration folder, nothing outside them may have changed, no link may
// have been replaced or written through, and the answer is one of the
// installer's texts. The calibrations are then rebuilt from what was
// installed, as the program does.
// fuzz-sources:
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <deque>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "Config/ChannelConfig.h"
#include "Config/LidarSetup.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::CalibrationArchive {

namespace fs = std::filesystem;

const char* const kSerial = "LS261001";

// Kind and contents of every path below root, links not followed.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string rel = p.lexically_relative(root).generic_string();
    const fs::file_status st = fs::symlink_status(p, ec);
    if (fs::is_symlink(st))
      tree[rel] = "link:" + fs::read_symlink(p, ec).string();
    else if (fs::is_directory(st))
      tree[rel] = "folder";
    else
      tree[rel] = "file:" + ReadFileBytes(p);
  }
  return tree;
}

// What an install may create or replace, relative to the scratch root: the
// calibration folders ("CAL_" anything, or the configuration folder itself
// when no serial-number folder is used), their channel folders and the
// files inside those, backups included.
bool MayChange(const std::string& rel, bool serialFolders) {
  static const std::regex inCalFolder(R"(^conf/[Cc][Aa][Ll]_[^/]+(/Channel\d{1,3}(/[\w.!,-]{1,36})?)?$)");
  static const std::regex inBaseFolder(R"(^conf/Channel\d{1,3}(/[\w.!,-]{1,36})?$)");
  return std::regex_match(rel, inCalFolder) || (!serialFolders && std::regex_match(rel, inBaseFolder));
}

bool KnownAnswer(const std::string& text) {
  // What was refused, when anything was: "N entries refused: <reasons>".
  static const std::regex extracted(
      R"(^(No file extracted !|[1-9]\d* file\(s\) extracted)(\n[1-9]\d* entr(y|ies) refused: [a-z0-9 ,]+)?$)");
  return text == "Error while extracting calibrations file archive !" ||
         text == "No file extracted !\nNot a calibration archive ???" || text == "Can't open file !" ||
         std::regex_match(text, extracted);
}

// The installed folders as an earlier install and the user left them.
void Plant(const fs::path& root) {
  const fs::path conf = root / "conf";
  const fs::path cal = conf / (std::string("CAL_") + kSerial);
  fs::create_directories(cal / "Channel1");
  fs::create_directories(conf / "Channel2");
  fs::create_directories(root / "outside");
  fs::create_directories(root / "cwd");
  WriteFileBytes(cal / "Channel1" / "AfterPulse.txt", "1\n2\n3\n4\n");
  WriteFileBytes(cal / "Channel1" / "Overlap.txt", "");
  WriteFileBytes(conf / "Channel2" / "APDCoefs.txt", "0\n2.5e-8\n300\n0.55\n");
  WriteFileBytes(conf / "Instrument.ini", "[General]\nName=Fuzz\n");
  WriteFileBytes(root / "outside" / "secret.txt", "keep me\n");
  std::error_code ec;
  fs::create_directory_symlink(root / "outside", cal / "Channel9", ec);
  fs::create_directory_symlink(root / "outside", conf / "Channel9", ec);
  fs::create_directory_symlink(root / "outside", conf / "CAL_LINK", ec);
  fs::create_symlink(root / "outside" / "secret.txt", cal / "Channel1" / "Link.txt", ec);
}

// The working folder is the scratch one while the installer runs, so that
// a relative path would show up in the walk.
class TWorkingFolder {
 public:
  explicit TWorkingFolder(const fs::path& folder) : saved_(fs::current_path()) { fs::current_path(folder); }
  ~TWorkingFolder() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }
  TWorkingFolder(const TWorkingFolder&) = delete;
  TWorkingFolder& operator=(const TWorkingFolder&) = delete;

 private:
  fs::path saved_;
};

int Run(const uint8_t* data, size_t size) {
  TScratchDir dir("archive");
  const fs::path& root = dir.Path();
  Plant(root);
  const fs::path archive = root / "archive.zip";
  WriteFileBytes(archive, AsString(data, size));

  TLidarSetup setup;
  setup.SerialNumber = kSerial;
  // Both folder layouts, chosen by something every mutation changes.
  setup.UseSNCalFolder = size % 2 == 0;
  TListChannelConfig channels;
  for (int id : {1, 2}) {
    channels.push_back(std::make_unique<TChannelConfig>());
    channels.back()->RecordID = id;
    channels.back()->DoorsCount = 4;
  }
  setup.BuildCalibrations((root / "conf").string(), channels);

  const std::map<std::string, std::string> before = Snapshot(root);
  std::string answer;
  {
    TWorkingFolder cwd(root / "cwd");
    answer = setup.UnzipCalibrations(archive.string());
  }
  const std::map<std::string, std::string> after = Snapshot(root);

  FUZZ_CHECK(KnownAnswer(answer));
  for (const auto& [rel, was] : before) {
    if (MayChange(rel, setup.UseSNCalFolder) && was.rfind("link:", 0) != 0) continue;
    const auto now = after.find(rel);
    FUZZ_CHECK(now != after.end() && now->second == was);
  }
  for (const auto& [rel, is] : after) {
    if (before.count(rel)) continue;
    FUZZ_CHECK(MayChange(rel, setup.UseSNCalFolder));
    FUZZ_CHECK(is.rfind("link:", 0) != 0);
  }

  // What the program does next: the calibrations from the installed files.
  setup.BuildCalibrations((root / "conf").string(), channels);
  FUZZ_CHECK(setup.Calibrations.size() == 2);
  return 0;
}

// Archives built with the ZIP library: a proper calibration archive, one
// without top folder, and the hostile kinds (climbing names, absolute and
// drive names, links, hidden entries, two instruments, entries aimed at the
// planted links).
struct TEntry {
  std::string Name;
  std::string Data;  // a folder when Name ends with "/"
  uint8_t OpSys = ZIP_OPSYS_DOS;
  uint32_t Attributes = 0;
  bool Deflate = false;
};

std::string BuildArchive(const std::vector<TEntry>& entries) {
  TScratchDir dir("archive-seed");
  const fs::path path = dir.Path() / "seed.zip";
  int error = 0;
  zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!za) return {};
  std::deque<std::string> keep;  // the library reads the data at close
  for (const TEntry& e : entries) {
    zip_int64_t index;
    if (!e.Name.empty() && e.Name.back() == '/') {
      index = zip_dir_add(za, e.Name.c_str(), ZIP_FL_ENC_RAW);
    } else {
      keep.push_back(e.Data);
      zip_source_t* src = zip_source_buffer(za, keep.back().data(), keep.back().size(), 0);
      index = src ? zip_file_add(za, e.Name.c_str(), src, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE) : -1;
      if (index < 0 && src) zip_source_free(src);
      if (index >= 0)
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), e.Deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 0);
    }
    if (index >= 0 && (e.OpSys != ZIP_OPSYS_DOS || e.Attributes != 0))
      zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(index), 0, e.OpSys, e.Attributes);
  }
  if (zip_close(za) != 0) {
    zip_discard(za);
    return {};
  }
  return ReadFileBytes(path);
}

TSeeds Seeds() {
  const std::string afterPulse = "# AfterPulse\n0.5\n0.25\n0.125\n0\n";
  const uint32_t unixLink = static_cast<uint32_t>(S_IFLNK | 0777) << 16;
  TSeeds seeds;
  seeds.emplace_back("instrument.zip", BuildArchive({{"CAL_LS261001/", ""},
                                                     {"CAL_LS261001/Channel1/", ""},
                                                     {"CAL_LS261001/Channel1/AfterPulse.txt", afterPulse},
                                                     {"CAL_LS261001/Channel1/APDCoefs.txt", "1\n3e-8\n250\n0.6\n"},
                                                     {"Channel2/Overlap.txt", "1\n1\n1\n1\n", ZIP_OPSYS_DOS, 0, true}}));
  seeds.emplace_back("channels.zip", BuildArchive({{"Channel1/AfterPulse.txt", afterPulse, ZIP_OPSYS_DOS, 0x01},
                                                   {"Channel2/", ""},
                                                   {"Channel2/Overlap.txt", "2\n2\n2\n2\n"},
                                                   {"Channel1000/x.txt", "x"},
                                                   {"Readme.txt", "not a channel"}}));
  seeds.emplace_back("climbing.zip", BuildArchive({{"../evil.txt", "x"},
                                                   {"Channel1/../../evil.txt", "x"},
                                                   {"/Channel1/abs.txt", "x"},
                                                   {"C:Channel1/drive.txt", "x"},
                                                   {"Channel1\\..\\..\\evil.txt", "x"},
                                                   {"./.Channel1/dots.txt", "x"},
                                                   {"Channel1/..", "x"}}));
  seeds.emplace_back("links.zip", BuildArchive({{"Channel3/link", "../../outside/secret.txt", ZIP_OPSYS_UNIX, unixLink},
                                                {"Channel9/AfterPulse.txt", "through a link"},
                                                {"Channel1/Link.txt", "through a link"},
                                                {"CAL_LINK/Channel1/x.txt", "through a link"},
                                                {"Channel4", "", ZIP_OPSYS_DOS, 0x10},
                                                {"Channel5/hidden.txt", "x", ZIP_OPSYS_DOS, 0x02}}));
  seeds.emplace_back("two-instruments.zip", BuildArchive({{"CAL_A/Channel1/a.txt", "a"},
                                                          {"Channel2/b.txt", "b"},
                                                          {"cal_B/Channel1/c.txt", "c"}}));
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::CalibrationArchive

SKYVANE_FUZZ_TARGET(CalibrationArchive, Seeds())
