#include "files/Language.h"

#include "files/Language_En.h"

namespace bifuel {

std::string Language::LangText(std::string_view key) const {
    const std::string_view english = EnglishText(key);
    if (!english.empty()) return std::string(english);
    return std::string(key);
}

} // namespace bifuel
