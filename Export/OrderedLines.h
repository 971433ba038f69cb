#pragma once
// Lines of an export file made on a second thread and handed back in the
// order they were queued, so that the caller appends them as if it had
// made them itself. Making a profile's line (thousands of numbers) then
// overlaps the reading and processing of the next records.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace OrlaqExport {

class TOrderedLines {
 public:
  TOrderedLines() = default;
  // Waits for the line being made; lines not taken are dropped.
  ~TOrderedLines();
  TOrderedLines(const TOrderedLines&) = delete;
  TOrderedLines& operator=(const TOrderedLines&) = delete;

  // Queues a line made on the worker thread; make must use only what it holds.
  void Make(std::function<std::string()> make);
  // Queues a line made already.
  void Add(std::string line);
  bool Empty() const { return lines_.empty(); }
  size_t Count() const { return lines_.size(); }

  // Hands the lines at the front to sink, in order, until at most keep
  // are queued; waits for those not made yet.
  void Take(size_t keep, const std::function<void(std::string&&)>& sink);

 private:
  void Work();

  std::deque<std::future<std::string>> lines_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::packaged_task<std::string()>> jobs_;
  bool stopping_ = false;
  bool inPlace_ = false;
  std::thread worker_;
};

}  // namespace OrlaqExport
