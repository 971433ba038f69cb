#include "app/LogPrompt.h"

#include <iostream>

#include "kernel/ErrorLogger.h"

namespace OrlaqLidar {

void TLogPrompt::ShowWarning(const std::string& text) {
  if (TErrorLogger::Instance().HasSink())
    Log(text);
  else
    std::cerr << text << std::endl;
}

bool TLogPrompt::AskYesNo(const std::string& text, bool defaultAnswer) {
  ShowWarning(text + (defaultAnswer ? " (yes)" : " (no)"));
  return defaultAnswer;
}

}  // namespace OrlaqLidar
