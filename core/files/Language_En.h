#pragma once

#include <string_view>

namespace bifuel {

// The built-in English text of a key, looked up without regard to case; empty when the
// key is unknown.
std::string_view EnglishText(std::string_view key);

} // namespace bifuel
