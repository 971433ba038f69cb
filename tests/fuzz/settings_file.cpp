// libFuzzer target: the settings file, read as the program reads it (the
// application, setup and display settings) and written back. The input is
// the text of the file. Written out and read again, the store holds the
// same sections, keys and values, and writing it once more gives the same
// text; the settings saved into an empty store load back to the same
// values (by value: "-0" may come back as 0), and from the second save on
// the saved file no longer changes.
// fuzz-sources:
#include <string>
#include <vector>

#include "Common/IniFile.h"
#include "Common/StringUtils.h"
#include "Config/ApplicationConfig.h"
#include "Config/GUIConfig.h"
#include "tests/fuzz/FuzzSupport.h"

namespace OrlaqLidar::Fuzz::SettingsFile {

struct TSettings {
  TApplicationConfig Application;
  TGUIConfig Display;

  void Load(const TCustomIniFile& store) {
    Application.Load(store);
    Application.Setup.Load(store, TApplicationConfig::SetupSection);
    Display.Load(store);
  }
  std::string SavedText() const {
    TIniFile store;
    Application.Save(store);
    Display.Save(store);
    return store.ToText();
  }
};

// Numbers compare by value: an angle stored as "-0" reads back as the
// integer 0.
bool SameNumber(double a, double b) { return a == b || (a != a && b != b); }

bool SameSettings(const TSettings& x, const TSettings& y) {
  const TApplicationConfig& a = x.Application;
  const TApplicationConfig& b = y.Application;
  const TLidarSetup& s = a.Setup;
  const TLidarSetup& t = b.Setup;
  const TGUIConfig& g = x.Display;
  const TGUIConfig& h = y.Display;
  return a.LogToFile == b.LogToFile && a.DebugMode == b.DebugMode && a.FullRange == b.FullRange &&
         a.AutoConnect == b.AutoConnect && a.LogFolder == b.LogFolder && a.ConfigFolder == b.ConfigFolder &&
         a.DataFolder == b.DataFolder && a.CurrentInstrument == b.CurrentInstrument &&
         a.AutoExport == b.AutoExport && a.AutoPower == b.AutoPower && a.EnableAirins == b.EnableAirins &&
         a.Export.Folder == b.Export.Folder && a.Export.FilePattern == b.Export.FilePattern && SameNumber(s.RollBase, t.RollBase) &&
         SameNumber(s.PitchBase, t.PitchBase) && SameNumber(s.AltitudeBase, t.AltitudeBase) &&
         SameNumber(s.LongitudeBase, t.LongitudeBase) && SameNumber(s.LatitudeBase, t.LatitudeBase) &&
         s.AirinsAddr == t.AirinsAddr && s.AirinsPort == t.AirinsPort && s.UseSNCalFolder == t.UseSNCalFolder &&
         s.UseEmbeddedCalib == t.UseEmbeddedCalib && g.MidLowEndPC == h.MidLowEndPC &&
         g.ShowAltitude == h.ShowAltitude && g.ShowRayleighSlope == h.ShowRayleighSlope &&
         g.ProfileProcessing == h.ProfileProcessing && g.ProfileTime == h.ProfileTime &&
         g.LogFileName == h.LogFileName && g.HQProfile == h.HQProfile && g.QLTimeSpanMin == h.QLTimeSpanMin &&
         g.ShowQLMinMaxLabel == h.ShowQLMinMaxLabel && SameNumber(g.RaylSlope10, h.RaylSlope10) &&
         SameNumber(g.RaylSlope20, h.RaylSlope20) && SameNumber(g.MinDist, h.MinDist) &&
         SameNumber(g.MaxDist, h.MaxDist) && g.AutDist == h.AutDist && SameNumber(g.MinCount, h.MinCount) &&
         SameNumber(g.MaxCount, h.MaxCount) && g.AutCount == h.AutCount && g.ShowEvents == h.ShowEvents;
}

// Same sections in the same order, each key reading the same value.
void CheckSameStore(const TIniFile& a, const TIniFile& b) {
  const std::vector<std::string> sections = a.ReadSections();
  FUZZ_CHECK(sections == b.ReadSections());
  for (const std::string& section : sections) {
    const std::vector<std::string> keys = a.ReadSectionKeys(section);
    FUZZ_CHECK(keys == b.ReadSectionKeys(section));
    for (const std::string& key : keys) FUZZ_CHECK(a.Read(section, key) == b.Read(section, key));
  }
}

int Run(const uint8_t* data, size_t size) {
  TIniFile store;
  store.LoadFromText(AsString(data, size));
  const std::string text = store.ToText();
  TIniFile reread;
  reread.LoadFromText(text);
  CheckSameStore(store, reread);
  FUZZ_CHECK(reread.ToText() == text);

  TSettings first;
  first.Load(store);
  const std::string saved = first.SavedText();
  TIniFile savedStore;
  savedStore.LoadFromText(saved);
  TSettings second;
  second.Load(savedStore);
  FUZZ_CHECK(SameSettings(first, second));
  // From the second save on, the file no longer changes.
  const std::string savedAgain = second.SavedText();
  TIniFile savedAgainStore;
  savedAgainStore.LoadFromText(savedAgain);
  TSettings third;
  third.Load(savedAgainStore);
  FUZZ_CHECK(third.SavedText() == savedAgain);
  return 0;
}

// A settings file as the program writes it, one from an older installation
// (integer base angles, other spellings of the booleans) and a damaged one.
TSeeds Seeds() {
  TSeeds seeds;
  TSettings defaults;
  defaults.Load(TIniFile());
  seeds.emplace_back("written.ini", defaults.SavedText());
  seeds.emplace_back("older.ini",
                     "[Skyvane]\nLogToFile=1\nDebugMode=yes\nFullRange=on\nAutoConnect=0\n"
                     "ConfigFolder=/srv/lidar/conf\nDataFolder=D:\\LidData\nCurrentInstrument=OrlaqDemo2W.ini\n"
                     "[Skyvane\\Setup]\nRollBase=2\nPitchBase=-1\nAltitudeBase=160\nLongitudeBase=2\n"
                     "LatitudeBase=48\nAirinsAddr=192.168.0.10\nAirinsPort=1234\nUseSNCalFolder=false\n"
                     "[Skyvane\\Export]\nFolder=\n[Skyvane\\GUI]\nProfileTime=+30\nRaylSlope10=-1,1e-4\n"
                     "HQProfile=true\nMinDist=-0\nMaxDist=INF\nMaxCount=nan\n");
  seeds.emplace_back("damaged.ini",
                     "\xEF\xBB\xBF; comment\r\n  [ skyvane ]  junk\r\nlogtofile = TRUE \r\n[Skyvane\\Setup\r\n"
                     "=empty key\r\n[Skyvane\\Setup]\r\nRollBase=1.5\r\nRollBase=7\r\n#x=y\r\n[Skyvane]\r\n"
                     "DebugMode=2\r\n[]\r\nkey\r\n");
  return seeds;
}

}  // namespace OrlaqLidar::Fuzz::SettingsFile

SKYVANE_FUZZ_TARGET(SettingsFile, Seeds())
