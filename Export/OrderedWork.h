#pragma once
// Work of an export done on a second thread in the order it was queued:
// each job gives back a text (a line for the file, or what went wrong),
// which the caller takes in that same order. Making a profile's line or
// compressing its NetCDF row then overlaps the reading and processing of
// the next records.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace OrlaqExport {

class TOrderedWork {
 public:
  TOrderedWork() = default;
  // Waits for the job running; jobs not run and texts not taken are dropped.
  ~TOrderedWork();
  TOrderedWork(const TOrderedWork&) = delete;
  TOrderedWork& operator=(const TOrderedWork&) = delete;

  // Queues a job for the worker thread; it must use only what it holds or
  // what the caller leaves alone until the job's text is taken.
  void Make(std::function<std::string()> make);
  // Queues a text made already.
  void Add(std::string line);
  bool Empty() const { return lines_.empty(); }
  size_t Count() const { return lines_.size(); }

  // Hands the texts at the front to sink, in order, until at most keep
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
