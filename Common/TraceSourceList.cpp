#include "Common/TraceSourceList.h"

namespace OrlaqLidar {

void TTraceSourceList::SetCheckAll(bool on) {
  checkAll_ = on;
  for (TItem& item : items_) item.Checked = on;
}

bool TTraceSourceList::Admit(const std::string& name, bool& added) {
  const int index = IndexOf(name);
  added = index < 0;
  if (!added) return items_[static_cast<size_t>(index)].Checked;
  items_.push_back(TItem{name, checkAll_});
  return checkAll_;
}

int TTraceSourceList::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].Name == name) return static_cast<int>(i);
  return -1;
}

void TTraceSourceList::SetChecked(size_t index, bool on) {
  if (index < items_.size()) items_[index].Checked = on;
}

}  // namespace OrlaqLidar
