#include "Config/InfoDescription.h"

#include <vector>

#include "Common/StringUtils.h"

namespace OrlaqLidar {

namespace {
void SetDouble(double& member, const std::string& value) {
  if (auto d = TryParseDouble(value)) member = *d;
}

void SetInt(int& member, const std::string& value) {
  if (auto n = TryParseInt(value)) member = *n;
}
}  // namespace

void TInfoDescription::Parse(const std::string& text) {
  Text = text;
  for (const std::string& raw : SplitString(text, ',')) {
    const std::string item = Trim(raw);
    if (item.empty()) continue;
    std::string extra;
    const size_t colon = item.find(':');
    if (colon != std::string::npos) {
      const std::string key = UpperCase(Trim(std::string_view(item).substr(0, colon)));
      const std::string value = Trim(std::string_view(item).substr(colon + 1));
      if (key == "FMT")
        Format = value;
      else if (key == "NAME")
        Name = value;
      else if (key == "U")
        Unit = value;
      else if (key == "MIN")
        SetDouble(Min, value);
      else if (key == "WARNINGMIN" || key == "WARNMIN")
        SetDouble(WarningMin, value);
      else if (key == "WARNINGMAX" || key == "WARNMAX")
        SetDouble(WarningMax, value);
      else if (key == "MAX")
        SetDouble(Max, value);
      else if (key == "MUL")
        SetDouble(Mul, value);
      else if (key == "DIV")
        SetDouble(Div, value);
      else if (key == "PERCENT")
        SetDouble(Percent, value);
      else if (key == "O")
        SetInt(O, value);
      else if (key == "S")
        SetInt(S, value);
      else if (key == "B")
        SetInt(B, value);
      else
        // Kept in the form GetOption looks for, whatever spacing the file used.
        extra = key + ":" + value;
    } else if (SameText(item, "INV")) {
      Inverted = true;
    } else if (SameText(item, "HIDE")) {
      Visible = false;
    } else {
      extra = item;
    }
    if (!extra.empty()) Options += (Options.empty() ? "" : ",") + extra;
  }
}

std::string TInfoDescription::GetOption(const std::string& name) const {
  if (name.empty()) return {};
  const std::string flag = UpperCase(name);
  const std::string prefix = flag + ":";
  const std::vector<std::string> items = SplitString(Options, ',');
  for (const std::string& item : items)
    if (SameText(item, flag)) return "1";
  for (const std::string& item : items)
    if (StartsWithText(item, prefix)) return item.substr(prefix.size());
  return {};
}

}  // namespace OrlaqLidar
