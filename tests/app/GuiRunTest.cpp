// Whether a run opens windows.
#include "app/GuiRun.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "kernel/LidarApplication.h"

namespace OrlaqLidar {
namespace {

TEST(GuiRun, WindowsOnlyWithADisplayAndNeitherHeadlessNorBatch) {
  std::map<std::string, std::string> env;
  const TGuiRun::TEnvironment get = [&env](const char* name) -> const char* {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  TCommandLineOptions options;
  EXPECT_FALSE(TGuiRun::Wanted(options, false, get));
  env["DISPLAY"] = "";
  EXPECT_FALSE(TGuiRun::Wanted(options, false, get)) << "an empty variable is no display";
  env["WAYLAND_DISPLAY"] = "wayland-0";
  EXPECT_TRUE(TGuiRun::Wanted(options, false, get));
  env = {{"QT_QPA_PLATFORM", "offscreen"}};
  EXPECT_TRUE(TGuiRun::Wanted(options, false, get));
  EXPECT_FALSE(TGuiRun::Wanted(options, true, get));
  options.Headless = true;
  EXPECT_FALSE(TGuiRun::Wanted(options, false, get));
}

}  // namespace
}  // namespace OrlaqLidar
