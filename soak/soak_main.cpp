// The field station's soak test: a simulated span (a week by default) of
// the whole acquisition on the simulated instrument, compressed into
// minutes, with the figures it ends with. Exit code 0 when they pass.
#include <iostream>
#include <string>

#include "Common/StringUtils.h"
#include "soak/SoakCheck.h"
#include "soak/SoakRun.h"

using namespace OrlaqLidar;

namespace {
int Usage() {
  std::cerr << "usage: skyvane-soak [--days N] [--model <definition.ini>] [--folder <dir>] [--ins-rate <Hz>] "
               "[--seed N] [--log]\n"
               "  --folder keeps the recorded files there; by default a temporary folder is used and removed.\n"
               "  --log prints the program's message log on standard error.\n";
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  TSoakOptions options;
  options.Progress = &std::cout;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--days" && hasValue) {
      const auto days = TryParseDouble(argv[++i]);
      if (!days || *days <= 0) return Usage();
      options.Days = *days;
    } else if (arg == "--model" && hasValue) {
      options.Definition = argv[++i];
    } else if (arg == "--folder" && hasValue) {
      options.Folder = argv[++i];
    } else if (arg == "--ins-rate" && hasValue) {
      options.InsRateHz = std::stoi(argv[++i]);
    } else if (arg == "--log") {
      options.Log = &std::cerr;
    } else if (arg == "--seed" && hasValue) {
      options.Seed = std::stoull(argv[++i]);
    } else {
      return Usage();
    }
  }
  TSoakRun run(options);
  if (!run.Run()) {
    std::cerr << "skyvane-soak: " << run.Error() << std::endl;
    return 1;
  }
  run.Figures().Print(std::cout);
  const auto failures = TSoakCheck::Failures(run.Figures());
  for (const auto& f : failures) std::cout << "FAIL: " << f << "\n";
  std::cout << (failures.empty() ? "soak: PASS" : "soak: FAIL") << std::endl;
  return failures.empty() ? 0 : 1;
}
