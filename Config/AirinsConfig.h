#pragma once
// The inertial navigation unit of an instrument that carries one.
#include "Common/CustomIniFile.h"

namespace OrlaqLidar {

class TAirinsConfig {
 public:
  bool Load(const TCustomIniFile& ini);

  int RecordID = 99;
  int TimeOut = 5000;  // milliseconds
};

}  // namespace OrlaqLidar
