#include "kernel/LidarManager.h"

#include <algorithm>
#include <exception>

#include "kernel/Assert.h"
#include "kernel/ErrorLogger.h"
#include "kernel/LidarError.h"

namespace OrlaqLidar {

namespace {
// Keeps the dispatch depth right whatever a consumer does.
struct TDispatchScope {
  explicit TDispatchScope(int& depth) : depth_(depth) { ++depth_; }
  ~TDispatchScope() { --depth_; }
  int& depth_;
};

}  // namespace

TLidarManager::TLidarManager(TApplicationConfig* settings, const std::string& name, bool replay)
    : Status(name, "Disconnect"), settings_(settings), replay_(replay) {
  // A recording error reaches the consumers too: nothing is lost unseen.
  Status.ChangeMask = TState::Connect | TState::Power | TState::Recording;
  Status.OnChange = [this](TStatus* s, TState::ChangeRaison r) { DispatchStatus(s, r); };
}

TLidarManager::~TLidarManager() { Status.OnChange = nullptr; }

template <class Fn>
void TLidarManager::AddTo(TList<Fn>& list, const void* owner, Fn fn) {
  for (const auto& e : list)
    if (e.Owner == owner && e.Callback) return;
  list.push_back(TEntry<Fn>{owner, std::move(fn), 0});
}

template <class Fn>
bool TLidarManager::RemoveFrom(TList<Fn>& list, const void* owner) {
  for (auto& e : list)
    if (e.Owner == owner && e.Callback) {
      // Inside a dispatch the entry is only emptied, so indices stay valid.
      e.Callback = nullptr;
      if (dispatchDepth_ > 0)
        needsCompaction_ = true;
      else
        std::erase_if(list, [](const TEntry<Fn>& x) { return !x.Callback; });
      return true;
    }
  return false;
}

void TLidarManager::Compact() {
  if (!needsCompaction_ || dispatchDepth_ > 0) return;
  needsCompaction_ = false;
  auto empty = [](const auto& x) { return !x.Callback; };
  std::erase_if(statusConsumers_, empty);
  std::erase_if(dataConsumers_, empty);
  std::erase_if(traceConsumers_, empty);
  std::erase_if(eventConsumers_, empty);
}

void TLidarManager::AddStatusConsumer(const void* owner, TStatusConsumer fn, int priority) {
  for (const auto& e : statusConsumers_)
    if (e.Owner == owner && e.Callback) return;
  auto pos = std::find_if(statusConsumers_.begin(), statusConsumers_.end(),
                          [&](const auto& e) { return e.Priority >= priority; });
  statusConsumers_.insert(pos, TEntry<TStatusConsumer>{owner, std::move(fn), priority});
}

void TLidarManager::RemoveStatusConsumer(const void* owner) {
  // Removing what was never added is a programming error; its report keeps
  // the wording field logs have always shown.
  if (!RemoveFrom(statusConsumers_, owner))
    AssertionFailed("m_listConsumerStatus->Remove(pfunc) >= 0", "kernel\\LidarManager", 59);
}

void TLidarManager::AddDataConsumer(const void* owner, TDataConsumer fn) { AddTo(dataConsumers_, owner, std::move(fn)); }
void TLidarManager::RemoveDataConsumer(const void* owner) { RemoveFrom(dataConsumers_, owner); }
void TLidarManager::AddTraceConsumer(const void* owner, TTraceConsumer fn) {
  AddTo(traceConsumers_, owner, std::move(fn));
}
void TLidarManager::RemoveTraceConsumer(const void* owner) { RemoveFrom(traceConsumers_, owner); }
void TLidarManager::AddEventConsumer(const void* owner, TEventConsumer fn) {
  AddTo(eventConsumers_, owner, std::move(fn));
}
void TLidarManager::RemoveEventConsumer(const void* owner) { RemoveFrom(eventConsumers_, owner); }

size_t TLidarManager::DataConsumerCount() const {
  return static_cast<size_t>(
      std::count_if(dataConsumers_.begin(), dataConsumers_.end(), [](const auto& e) { return bool(e.Callback); }));
}

// A consumer that throws is logged and the others still get the notice: one
// faulty view must not keep a record from the recorder or the export.
void TLidarManager::DispatchStatus(TStatus* status, TState::ChangeRaison reason) {
  {
    TDispatchScope scope(dispatchDepth_);
    for (size_t i = statusConsumers_.size(); i-- > 0;) {
      if (i >= statusConsumers_.size() || !statusConsumers_[i].Callback) continue;
      try {
        statusConsumers_[i].Callback(status, reason);
      } catch (...) {
        SKV_LOG("Error on Statsu_OnChange()");
      }
    }
  }
  Compact();
}

void TLidarManager::DispatchRecord(int recordId, const uint8_t* data, int length, TDateTime time) {
  {
    TDispatchScope scope(dispatchDepth_);
    for (size_t i = 0; i < dataConsumers_.size(); ++i) {
      if (!dataConsumers_[i].Callback) continue;
      try {
        dataConsumers_[i].Callback(recordId, data, length, time);
      } catch (...) {
        SKV_LOG("Error on OnReceiveData(" + std::to_string(recordId) + "):" + ExceptionText(std::current_exception()));
      }
    }
  }
  Compact();
}

void TLidarManager::DispatchTrace(const std::string& source, int kind, const uint8_t* data, int length,
                                  TDateTime time) {
  {
    TDispatchScope scope(dispatchDepth_);
    for (size_t i = 0; i < traceConsumers_.size(); ++i) {
      if (!traceConsumers_[i].Callback) continue;
      try {
        traceConsumers_[i].Callback(source, kind, data, length, time);
      } catch (...) {
        SKV_LOG("Error on OnReceiveTrace(" + source + "):" + ExceptionText(std::current_exception()));
      }
    }
  }
  Compact();
}

void TLidarManager::DispatchEvent(int sourceId, const std::string& code, TDateTime time,
                                  const std::string& comment) {
  {
    TDispatchScope scope(dispatchDepth_);
    for (size_t i = 0; i < eventConsumers_.size(); ++i) {
      if (!eventConsumers_[i].Callback) continue;
      try {
        eventConsumers_[i].Callback(sourceId, code, time, comment);
      } catch (...) {
        SKV_LOG("Error on OnReceiveEvent(" + std::to_string(sourceId) + ":" + code +
                ") : " + ExceptionText(std::current_exception()));
      }
    }
  }
  Compact();
}

void TLidarManager::SendEvent(int sourceId, TDateTime time, const std::string& code,
                              const std::string& comment) {
  DispatchEvent(sourceId, code, time, comment);
}

}  // namespace OrlaqLidar
