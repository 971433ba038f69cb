#pragma once
// The acquisition source the rest of the program sees: records, events,
// traces and status changes flow through it to the registered consumers.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Common/DateTime.h"
#include "kernel/Status.h"

namespace OrlaqLidar {

class TApplicationConfig;

using TDataConsumer = std::function<void(int recordId, const uint8_t* data, int length, TDateTime time)>;
// Event codes are three letters ("NOT", ...).
using TEventConsumer =
    std::function<void(int sourceId, const std::string& code, TDateTime time, const std::string& comment)>;
using TTraceConsumer =
    std::function<void(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time)>;
using TStatusConsumer = std::function<void(TStatus* status, TState::ChangeRaison reason)>;

class TLidarManager {
 public:
  TLidarManager(TApplicationConfig* settings, const std::string& name, bool replay);
  virtual ~TLidarManager();
  TLidarManager(const TLidarManager&) = delete;
  TLidarManager& operator=(const TLidarManager&) = delete;

  virtual bool Open() = 0;
  virtual bool Close() = 0;
  virtual bool Start() = 0;
  virtual bool Stop() = 0;
  virtual bool SetPower(bool on) = 0;
  virtual void OnTimer(TDateTime /*now*/) {}
  virtual std::string GetSerialNumber() { return {}; }

  // A registration is identified by its owner object: one per owner and list.
  void AddStatusConsumer(const void* owner, TStatusConsumer fn, int priority);
  void RemoveStatusConsumer(const void* owner);
  void AddDataConsumer(const void* owner, TDataConsumer fn);
  void RemoveDataConsumer(const void* owner);
  void AddTraceConsumer(const void* owner, TTraceConsumer fn);
  void RemoveTraceConsumer(const void* owner);
  void AddEventConsumer(const void* owner, TEventConsumer fn);
  void RemoveEventConsumer(const void* owner);

  // Delivers an event to the event consumers as if the instrument sent it.
  void SendEvent(int sourceId, TDateTime time, const std::string& code, const std::string& comment);

  // Entries the sources and files call.
  void DispatchRecord(int recordId, const uint8_t* data, int length, TDateTime time);
  void DispatchTrace(const std::string& source, int kind, const uint8_t* data, int length, TDateTime time);
  void DispatchEvent(int sourceId, const std::string& code, TDateTime time, const std::string& comment);

  TStatus Status;
  bool IsReplay() const { return replay_; }
  TApplicationConfig* Settings() const { return settings_; }
  size_t DataConsumerCount() const;

 protected:
  void DispatchStatus(TStatus* status, TState::ChangeRaison reason);

 private:
  template <class Fn>
  struct TEntry {
    const void* Owner;
    Fn Callback;
    int Priority;
  };
  template <class Fn>
  using TList = std::vector<TEntry<Fn>>;
  template <class Fn>
  static void AddTo(TList<Fn>& list, const void* owner, Fn fn);
  template <class Fn>
  bool RemoveFrom(TList<Fn>& list, const void* owner);
  void Compact();

  TApplicationConfig* settings_;
  bool replay_;
  TList<TStatusConsumer> statusConsumers_;  // ascending priority
  TList<TDataConsumer> dataConsumers_;
  TList<TTraceConsumer> traceConsumers_;
  TList<TEventConsumer> eventConsumers_;
  int dispatchDepth_ = 0;
  bool needsCompaction_ = false;
};

}  // namespace OrlaqLidar
