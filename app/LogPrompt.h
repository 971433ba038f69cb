#pragma once
// User prompts of a run without windows: the text goes to the message log
// (which writes to standard error there); questions take their default.
#include "Platform/UserPrompt.h"

namespace OrlaqLidar {

class TLogPrompt : public TUserPrompt {
 public:
  void ShowWarning(const std::string& text) override;
  bool AskYesNo(const std::string& text, bool defaultAnswer) override;
};

}  // namespace OrlaqLidar
