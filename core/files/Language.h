#pragma once

#include <string>
#include <string_view>

namespace bifuel {

// The current language and its text lookups. English is built in.
class Language {
public:
    const std::string& current() const { return current_; }
    void setCurrent(std::string name) { current_ = std::move(name); }

    // The current language's text for a key, else the English text, else the key itself.
    std::string LangText(std::string_view key) const;

private:
    std::string current_ = "English";
};

} // namespace bifuel
