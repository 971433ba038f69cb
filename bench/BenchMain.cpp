// skyvane-bench [NAME...]: runs the named benchmarks (all without a name) and
// prints one line per figure: "<name>.<figure> = <value> <unit>".
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/Bench.h"

using namespace OrlaqLidar::Bench;

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::printf("usage: skyvane-bench [NAME...]\nbenchmarks:");
    for (const auto& b : Registry()) std::printf(" %s", b.Name.c_str());
    std::printf("\n");
    return 0;
  }
  // One offscreen GUI application for the whole run: the quicklook draws
  // text, the live benchmarks need an event loop, and a core application
  // made first by one of those would leave the quicklook without fonts.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QGuiApplication app(qtArgc, qtArgv);

  std::vector<std::string> wanted(argv + 1, argv + argc);
  int failures = 0;
  for (const auto& b : Registry()) {
    bool run = wanted.empty();
    for (const auto& w : wanted) run = run || w == b.Name;
    if (!run) continue;
    if (!b.Run()) ++failures;
  }
  for (const auto& w : wanted) {
    bool known = false;
    for (const auto& b : Registry()) known = known || w == b.Name;
    if (!known) {
      std::fprintf(stderr, "skyvane-bench: unknown benchmark '%s'\n", w.c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}
