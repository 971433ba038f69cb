#pragma once
// Names that come from outside (the serial number an instrument reports)
// and become part of a path.
#include <string>

namespace OrlaqLidar {

// The name with every character other than letters, digits, "-", "_" and
// "." replaced by "_"; a name of dots only becomes as many "_". The result
// can never name another folder ("/", "\", ".." or a drive prefix).
std::string PathSafeName(const std::string& name);

}  // namespace OrlaqLidar
