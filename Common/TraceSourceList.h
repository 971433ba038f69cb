#pragma once
// The sources of trace lines the operator chooses to see: one item per
// source name, added the first time the source traces, and a "Check all"
// state that every new item takes and that sets every item when changed.
#include <string>
#include <vector>

namespace OrlaqLidar {

class TTraceSourceList {
 public:
  struct TItem {
    std::string Name;
    bool Checked = false;
  };

  bool CheckAll() const { return checkAll_; }
  void SetCheckAll(bool on);

  // Whether traces of the source are shown; an unknown source is added,
  // checked like "Check all", and added is set.
  bool Admit(const std::string& name, bool& added);
  // -1 when unknown.
  int IndexOf(const std::string& name) const;
  void SetChecked(size_t index, bool on);

  const std::vector<TItem>& Items() const { return items_; }

 private:
  bool checkAll_ = false;
  std::vector<TItem> items_;  // in order of first trace
};

}  // namespace OrlaqLidar
