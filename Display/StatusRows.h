#pragma once
// The rows of the status window: every status of a tree, depth first, with
// the state images of the columns its change mask reports. No widgets here.
#include <cstdint>
#include <string>
#include <vector>

namespace OrlaqLidar {

class TStatus;

struct TStatusRow {
  // Identifies the row from one walk to the next: the parent's key, the
  // status name and, for statuses sharing a name under one parent, their
  // rank. Several channels each carry a protocol of the same name; each
  // keeps its own row.
  std::string Key;
  std::string ParentKey;  // empty for the root
  std::string Name;
  std::string Text;
  // Image of each state column, NoImage when the status does not report it.
  int Connect = -1;
  int Power = -1;
  int Error = -1;
  int AcqState = -1;
  std::string ErrorText;
};

class TStatusRows {
 public:
  enum TImage : int { NoImage = -1, Off = 0, Transitional = 1, Good = 2 };

  static std::vector<TStatusRow> Walk(const TStatus* root);

  static int ConnectImage(uint8_t connectState);
  static int PowerImage(uint8_t powerState);
  static int AcqImage(uint8_t acqState);
  // The error without its top bit, in decimal; empty for no error.
  static std::string ErrorText(uint32_t error);
};

}  // namespace OrlaqLidar
