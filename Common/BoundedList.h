#pragma once
// A list that keeps its newest items: beyond the maximum the oldest go.
// A maximum of 0 or less keeps everything.
#include <cstddef>
#include <deque>

namespace OrlaqLidar {

template <class T>
class TBoundedList {
 public:
  explicit TBoundedList(int maximum) : maximum_(maximum) {}

  // Returns how many of the oldest items were removed to make room.
  size_t Add(T item) {
    items_.push_back(std::move(item));
    return Trim();
  }
  // A lower maximum removes the oldest items at once; returns how many.
  size_t SetMaximum(int maximum) {
    maximum_ = maximum;
    return Trim();
  }
  int Maximum() const { return maximum_; }
  void Clear() { items_.clear(); }

  const std::deque<T>& Items() const { return items_; }
  size_t Size() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  const T& operator[](size_t i) const { return items_[i]; }
  const T& Back() const { return items_.back(); }

 private:
  size_t Trim() {
    size_t removed = 0;
    while (maximum_ > 0 && items_.size() > static_cast<size_t>(maximum_)) {
      items_.pop_front();
      ++removed;
    }
    return removed;
  }

  int maximum_;
  std::deque<T> items_;
};

}  // namespace OrlaqLidar
