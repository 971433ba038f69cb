#pragma once
// One step of the chain a data manager runs on a channel's profile after
// every shot. A processing lives for one shot and keeps no state between
// shots; its per-gate loops work on the profile's plain arrays.
#include "kernel/ManagedProfile.h"
#include "kernel/processing/ProcessingArgs.h"

namespace OrlaqLidar {

class TProcessing {
 public:
  // name: a literal, used in the data manager's error messages.
  TProcessing(TProcessingArgs* args, const char* name) : args_(args), name_(name) {}
  virtual ~TProcessing() = default;
  TProcessing(const TProcessing&) = delete;
  TProcessing& operator=(const TProcessing&) = delete;

  // Applies the processing to the profile in place; false stops the chain
  // for this shot.
  virtual bool Process(TManagedProfile* profile) = 0;

  const char* Name() const { return name_; }
  TProcessingArgs* Args() const { return args_; }

 protected:
  // Gates the loops may touch: the active gates, never past the arrays.
  static int GateCount(const TManagedProfile& profile);

  TProcessingArgs* args_;  // not owned

 private:
  const char* name_;
};

}  // namespace OrlaqLidar
