#include "Export/OrderedWork.h"

#include <system_error>

namespace OrlaqExport {

TOrderedWork::~TOrderedWork() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  wake_.notify_one();
  if (worker_.joinable()) worker_.join();
}

void TOrderedWork::Make(std::function<std::string()> make) {
  // Started with the first line: an export that never queues one costs no thread.
  if (!worker_.joinable() && !inPlace_) {
    try {
      worker_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      inPlace_ = true;  // no thread to be had: jobs run here
    }
  }
  std::packaged_task<std::string()> job(std::move(make));
  lines_.push_back(job.get_future());
  if (inPlace_) {
    job();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void TOrderedWork::Add(std::string line) {
  std::promise<std::string> made;
  made.set_value(std::move(line));
  lines_.push_back(made.get_future());
}

void TOrderedWork::Take(size_t keep, const std::function<void(std::string&&)>& sink) {
  while (lines_.size() > keep) {
    std::string line = lines_.front().get();
    lines_.pop_front();
    sink(std::move(line));
  }
}

void TOrderedWork::Work() {
  for (;;) {
    std::packaged_task<std::string()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace OrlaqExport
