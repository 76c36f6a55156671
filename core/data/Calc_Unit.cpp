#include "data/Calc_Unit.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace bifuel {

std::int32_t TruncToInt(double x) {
    if (std::isnan(x)) return 0;
    const double t = std::trunc(x);
    // Saturate instead of the undefined conversion of an out-of-range double.
    if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (t <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(t);
}

std::optional<double> TextToFloat(std::string_view text) {
    if (text.empty()) return 0.0;
    // Surrounding blanks are tolerated, as a typed or stored number may carry them.
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    if (begin == end) return std::nullopt;
    std::string normal(text.substr(begin, end - begin));
    for (char& c : normal) {
        if (c == ',') c = '.';
    }
    // from_chars does not take a leading '+'; a typed "+5" is still a number.
    std::size_t start = (normal[0] == '+') ? 1 : 0;
    if (start == normal.size() || (start == 1 && normal[1] == '-')) return std::nullopt;
    double value = 0.0;
    const char* first = normal.data() + start;
    const char* last = normal.data() + normal.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

} // namespace bifuel
