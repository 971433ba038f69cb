#pragma once
// Numbers written through a picture format, the way the instrument
// definition and the displays give them: "0.00", "#0.0#", "0.0E+00",
// sections "positive;negative;zero" (the negative section shows the value
// without its sign), literal text around the digits. Always "." as decimal
// separator and no thousands separator.
#include <string>
#include <string_view>

namespace OrlaqLidar {

std::string FormatPicture(double value, std::string_view format);

}  // namespace OrlaqLidar
