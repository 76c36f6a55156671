#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bifuel {

// The integer part of x, truncated toward zero (3.9 gives 3, -3.9 gives -3).
std::int32_t TruncToInt(double x);

// Parses a number written with a point or a comma as decimal separator, whatever the
// locale. Empty text gives 0; text that is not a number gives no value.
std::optional<double> TextToFloat(std::string_view text);

} // namespace bifuel
