#include "Display/StatusRows.h"

#include <map>
#include <set>

#include "kernel/Status.h"

namespace OrlaqLidar {

namespace {

// Deep enough for any instrument; a list that loops back stops here.
constexpr int MaxDepth = 16;

TStatusRow RowOf(const TStatus& s, std::string key, std::string parentKey) {
  TStatusRow row;
  row.Key = std::move(key);
  row.ParentKey = std::move(parentKey);
  row.Name = s.Name;
  row.Text = s.Text;
  if (s.ChangeMask & TState::Connect) row.Connect = TStatusRows::ConnectImage(s.ConnectState());
  if (s.ChangeMask & TState::Power) row.Power = TStatusRows::PowerImage(s.PowerState());
  if (s.ChangeMask & TState::Error) {
    row.Error = s.Error() != 0 ? TStatusRows::Off : TStatusRows::Good;
    row.ErrorText = TStatusRows::ErrorText(s.Error());
  }
  if (s.ChangeMask & TState::AcqState) row.AcqState = TStatusRows::AcqImage(s.AcqState());
  return row;
}

void Add(const TStatus& s, const std::string& key, const std::string& parentKey, int depth,
         std::set<const TStatus*>& seen, std::vector<TStatusRow>& rows) {
  if (!seen.insert(&s).second) return;
  rows.push_back(RowOf(s, key, parentKey));
  if (!s.Children || depth >= MaxDepth) return;
  std::map<std::string, int> ranks;
  for (const TStatus* child : *s.Children) {
    if (!child) continue;
    const int rank = ranks[child->Name]++;
    std::string childKey = key + "/" + child->Name;
    if (rank > 0) childKey += "#" + std::to_string(rank);
    Add(*child, childKey, key, depth + 1, seen, rows);
  }
}

}  // namespace

std::vector<TStatusRow> TStatusRows::Walk(const TStatus* root) {
  std::vector<TStatusRow> rows;
  if (!root) return rows;
  std::set<const TStatus*> seen;
  Add(*root, root->Name, "", 0, seen, rows);
  return rows;
}

int TStatusRows::ConnectImage(uint8_t connectState) {
  if (connectState == TState::Connected) return Good;
  if (connectState == TState::Disconnected) return Off;
  return Transitional;
}

int TStatusRows::PowerImage(uint8_t powerState) {
  if (powerState == TState::LaserOn) return Good;
  if (powerState == TState::LaserOff) return Off;
  return Transitional;
}

int TStatusRows::AcqImage(uint8_t acqState) {
  if (acqState < 2) return Off;
  if (acqState == 3 || acqState == 8 || acqState == 9) return Good;
  return Transitional;
}

std::string TStatusRows::ErrorText(uint32_t error) {
  return error == 0 ? std::string() : std::to_string(error & 0x7FFFFFFFu);
}

}  // namespace OrlaqLidar
