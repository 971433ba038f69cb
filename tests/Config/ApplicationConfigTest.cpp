#include "Config/ApplicationConfig.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "Common/IniFile.h"
#include "Common/RegistryIniFile.h"
#include "Config/GUIConfig.h"
#include "tests/TestSupport.h"

using namespace OrlaqLidar;
using OrlaqLidar::Test::TTempDir;

TEST(ApplicationConfig, AnEmptyStoreGivesTheFirstStartDefaults) {
  TIniFile store;
  TApplicationConfig c;
  ASSERT_TRUE(c.Load(store));
  // The folders lie below the working folder.
  const auto cwd = std::filesystem::current_path();
  EXPECT_TRUE(c.AutoConnect);
  EXPECT_EQ(c.ConfigFolder, (cwd / "LidConf").string());
  EXPECT_EQ(c.DataFolder, (cwd / "LidData").string());
  EXPECT_FALSE(c.ApplicationFolder.empty());
}

TEST(ApplicationConfig, DebugModeGatesFullRangeAndAutoConnect) {
  TIniFile store;
  store.LoadFromText("[Skyvane]\nDebugMode=false\nFullRange=true\nAutoConnect=false\n");
  TApplicationConfig c;
  c.Load(store);
  EXPECT_FALSE(c.FullRange);
  EXPECT_TRUE(c.AutoConnect);
  store.WriteBool("Skyvane", "DebugMode", true);
  c.Load(store);
  EXPECT_TRUE(c.FullRange);
  EXPECT_FALSE(c.AutoConnect);
}

TEST(ApplicationConfig, SaveLeavesNoAutoConnectValueWhenItIsOn) {
  TIniFile store;
  TApplicationConfig c;
  c.Load(store);
  c.AutoConnect = false;
  c.Save(store);
  EXPECT_EQ(store.ReadString("Skyvane", "AutoConnect", ""), "false");
  c.AutoConnect = true;
  c.FullRange = true;  // without debug mode it is stored as false
  c.Save(store);
  EXPECT_FALSE(store.ValueExists("Skyvane", "AutoConnect"));
  EXPECT_EQ(store.ReadString("Skyvane", "FullRange", ""), "false");
}

TEST(ApplicationConfig, SettingsRoundTripThroughARealFile) {
  TTempDir dir;
  const std::string path = (dir / "s.ini").string();
  {
    TIniFile store(path);
    TApplicationConfig c;
    c.Load(store);
    c.AutoPower = true;
    c.EnableAirins = true;
    c.DataFolder = "/srv/lidar data";
    c.CurrentInstrument = "Demo.ini";
    c.Save(store);
  }
  TIniFile store(path);
  TApplicationConfig c;
  c.Load(store);
  EXPECT_TRUE(c.AutoPower);
  EXPECT_TRUE(c.EnableAirins);
  EXPECT_FALSE(c.AutoExport);
  EXPECT_EQ(c.DataFolder, "/srv/lidar data");
  EXPECT_EQ(c.CurrentInstrument, "Demo.ini");
}

TEST(GUIConfig, ASlowMachineDisablesAntialiasedProfiles) {
  TIniFile base;
  TRegistryIniFile store(base, "Skyvane");
  base.LoadFromText("[Skyvane\\Skyvane\\GUI]\nMidLowEndPC=true\nHQProfile=true\nRaylSlope10=-0,0002\n");
  TGUIConfig g;
  g.Load(store);
  EXPECT_TRUE(g.MidLowEndPC);
  EXPECT_FALSE(g.HQProfile);
  EXPECT_DOUBLE_EQ(g.RaylSlope10, -0.0002);
  EXPECT_DOUBLE_EQ(g.MaxDist, 30000);
  g.HQProfile = true;
  g.Save(store);  // saved without the coupling
  EXPECT_EQ(base.ReadString("Skyvane\\Skyvane\\GUI", "HQProfile", ""), "true");
  EXPECT_EQ(base.ReadString("Skyvane\\Skyvane\\GUI", "RaylSlope10", ""), "-0.0002");
  TGUIConfig fresh;
  EXPECT_EQ(fresh.MidLowEndPC, TGUIConfig::IsSlowMachine());
}
