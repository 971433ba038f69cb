#include "Config/GUIConfig.h"

#include <thread>

namespace OrlaqLidar {

TGUIConfig::TGUIConfig() : MidLowEndPC(IsSlowMachine()) {}

bool TGUIConfig::IsSlowMachine() { return std::thread::hardware_concurrency() == 1; }

bool TGUIConfig::Load(const TCustomIniFile& s) {
  MidLowEndPC = s.ReadBool(Section, "MidLowEndPC", MidLowEndPC);
  ShowAltitude = s.ReadBool(Section, "ShowAltitude", ShowAltitude);
  ShowRayleighSlope = s.ReadBool(Section, "ShowRayleighSlope", ShowRayleighSlope);
  ProfileProcessing = s.ReadInteger(Section, "ProfileProcessing", ProfileProcessing);
  ProfileTime = s.ReadInteger(Section, "ProfileTime", ProfileTime);
  LogFileName = s.ReadString(Section, "LogFileName", LogFileName);
  HQProfile = s.ReadBool(Section, "HQProfile", HQProfile);
  QLTimeSpanMin = s.ReadInteger(Section, "QLTimeSpanMin", QLTimeSpanMin);
  ShowQLMinMaxLabel = s.ReadBool(Section, "ShowQLMinMaxLabel", ShowQLMinMaxLabel);
  RaylSlope10 = s.ReadFloat(Section, "RaylSlope10", RaylSlope10);
  RaylSlope20 = s.ReadFloat(Section, "RaylSlope20", RaylSlope20);
  // A weak machine never draws anti-aliased profiles.
  if (MidLowEndPC) HQProfile = false;
  MinDist = s.ReadFloat(Section, "MinDist", MinDist);
  MaxDist = s.ReadFloat(Section, "MaxDist", MaxDist);
  AutDist = s.ReadBool(Section, "AutDist", AutDist);
  MinCount = s.ReadFloat(Section, "MinCount", MinCount);
  MaxCount = s.ReadFloat(Section, "MaxCount", MaxCount);
  AutCount = s.ReadBool(Section, "AutCount", AutCount);
  ShowEvents = s.ReadBool(Section, "ShowEvents", ShowEvents);
  return true;
}

bool TGUIConfig::Save(TCustomIniFile& s) const {
  s.WriteBool(Section, "MidLowEndPC", MidLowEndPC);
  s.WriteBool(Section, "ShowAltitude", ShowAltitude);
  s.WriteBool(Section, "ShowRayleighSlope", ShowRayleighSlope);
  s.WriteInteger(Section, "ProfileProcessing", ProfileProcessing);
  s.WriteInteger(Section, "ProfileTime", ProfileTime);
  s.WriteString(Section, "LogFileName", LogFileName);
  s.WriteBool(Section, "HQProfile", HQProfile);
  s.WriteInteger(Section, "QLTimeSpanMin", QLTimeSpanMin);
  s.WriteBool(Section, "ShowQLMinMaxLabel", ShowQLMinMaxLabel);
  s.WriteFloat(Section, "RaylSlope10", RaylSlope10);
  s.WriteFloat(Section, "RaylSlope20", RaylSlope20);
  s.WriteFloat(Section, "MinDist", MinDist);
  s.WriteFloat(Section, "MaxDist", MaxDist);
  s.WriteBool(Section, "AutDist", AutDist);
  s.WriteFloat(Section, "MinCount", MinCount);
  s.WriteFloat(Section, "MaxCount", MaxCount);
  s.WriteBool(Section, "AutCount", AutCount);
  s.WriteBool(Section, "ShowEvents", ShowEvents);
  s.UpdateFile();
  return true;
}

}  // namespace OrlaqLidar
