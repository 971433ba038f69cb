#pragma once
// The instrument the simulator tests run: a 532 nm pair sharing one laser
// (parallel with laser commands and status, perpendicular without any), a
// 1064 nm channel of the older command set with packed information bits,
// and a housekeeping board with measures on scattered command indices.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "Common/IniFile.h"
#include "Config/LidarConfig.h"

namespace OrlaqLidar::Test {

inline const char* SimTestDefinitionText() {
  return R"([General]
Name=Sim Test
[Instruments]
MonitorTimeData=800
[ChannelGroup1]
GroupID=1
[ChannelGroup2]
GroupID=2
[Channel1]
RecordID=1
GroupID=1
Name=532 parallel
WaveLength=532
Polarization=/
USB=SIM LIDAR 532P
HasLaserCmd=2
DoorsCount=2048
DoorsByte=4
DoorsTime=100
LaserPulse=1000
InfoBytes=16
CH1=NAME:Shots,O:0,B:32,S:0,CODE:SHOOT
CH2=NAME:Detector temp.,U:degC,O:4,B:16,DIV:100,MIN:-5,WARNMIN:10,WARNMAX:30,MAX:40
CH3=NAME:Detector HV,U:V,O:6,B:16,DIV:10,WARNMIN:600,WARNMAX:950,MAX:1000
CH4=NAME:Overload,O:8,B:1,S:0,MAX:0.5,CODE:OVL
CH5=NAME:Board status,O:8,B:7,S:1,HIDE
[Channel2]
RecordID=2
GroupID=1
Name=532 perpendicular
WaveLength=532
Polarization=X
USB=SIM LIDAR 532S
HasLaserCmd=0
DoorsCount=2048
DoorsByte=4
DoorsTime=100
InfoBytes=16
CH1=NAME:Shots,O:0,B:32,S:0,CODE:SHOOT
CH2=NAME:Detector temp.,U:degC,O:4,B:16,DIV:100,MIN:-5,WARNMIN:10,WARNMAX:30,MAX:40
[Channel3]
RecordID=3
GroupID=2
Name=1064
WaveLength=1064
Polarization=O
USB=SIM LIDAR 1064
HasLaserCmd=1
DoorsCount=1024
DoorsByte=2
DoorsTime=200
OffsetTime=20
LaserPulse=500
InfoBytes=6
CH1=NAME:APD temp.,U:degC,O:0,B:12,S:4,MUL:0.05,DIV:1,MIN:-5,WARNMIN:10,WARNMAX:35,MAX:45
CH2=NAME:Overload,O:1,B:1,S:0,MAX:0.5,CODE:OVL
CH3=NAME:APD bias,U:V,O:2,B:16,PERCENT:50,DIV:10,WARNMIN:100,WARNMAX:300
CH4=NAME:Rate,U:kHz,O:4,B:16,INV,DIV:100000,WARNMIN:5,WARNMAX:15
[Channel4]
RecordID=10
GroupID=1
Name=Housekeeping
USB=SIM MONITOR
Protocol=LIDAR_MONITOR
TimeOut=1000
CH1=NAME:Laser temp.,U:degC,MIN:5,WARNMIN:15,WARNMAX:35,MAX:45
CH5=NAME:Energy,U:mJ,MIN:5,WARNMIN:15,WARNMAX:45,MAX:50
CH8=NAME:Humidity,U:%,WARNMAX:60,MAX:80
CH9=NAME:Supply,U:V,MUL:0.01,MIN:10,WARNMIN:11,WARNMAX:13,MAX:14
)";
}

inline std::unique_ptr<TLidarConfig> LoadSimTestDefinition() {
  TIniFile ini;
  ini.LoadFromText(SimTestDefinitionText());
  auto config = std::make_unique<TLidarConfig>();
  EXPECT_TRUE(config->Load(ini));
  return config;
}

}  // namespace OrlaqLidar::Test
