#pragma once
// Modal questions and warnings for the user: a message box in the GUI,
// standard error and the message log in a run without windows.
#include <string>
#include <vector>

namespace OrlaqLidar {

class TUserPrompt {
 public:
  virtual ~TUserPrompt() = default;
  virtual void ShowWarning(const std::string& text) = 0;
  // Yes/no question; a run without windows answers defaultAnswer.
  virtual bool AskYesNo(const std::string& text, bool defaultAnswer) = 0;
};

// Run without windows.
class TConsolePrompt : public TUserPrompt {
 public:
  void ShowWarning(const std::string& text) override;
  bool AskYesNo(const std::string& text, bool defaultAnswer) override;
};

// Tests: remembers what was shown.
class TRecordingPrompt : public TUserPrompt {
 public:
  void ShowWarning(const std::string& text) override { Warnings.push_back(text); }
  bool AskYesNo(const std::string& text, bool) override {
    Questions.push_back(text);
    return Answer;
  }
  std::vector<std::string> Warnings;
  std::vector<std::string> Questions;
  bool Answer = true;
};

}  // namespace OrlaqLidar
