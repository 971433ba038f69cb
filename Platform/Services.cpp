#include "Platform/Services.h"

#include <iostream>

#include "Platform/UserPrompt.h"

namespace OrlaqLidar {

namespace {
TSystemClock systemClock;
TConsolePrompt consolePrompt;
}  // namespace

TServices& Services() {
  static TServices services{&systemClock, nullptr, &consolePrompt, nullptr, nullptr};
  return services;
}

TScopedServices::TScopedServices(const TServices& s) : saved_(Services()) {
  TServices next = s;
  if (!next.Clock) next.Clock = &systemClock;
  if (!next.Prompt) next.Prompt = &consolePrompt;
  Services() = next;
}

TScopedServices::~TScopedServices() { Services() = saved_; }

void TConsolePrompt::ShowWarning(const std::string& text) { std::cerr << "Warning: " << text << std::endl; }

bool TConsolePrompt::AskYesNo(const std::string& text, bool defaultAnswer) {
  std::cerr << text << (defaultAnswer ? " -> yes" : " -> no") << std::endl;
  return defaultAnswer;
}

}  // namespace OrlaqLidar
