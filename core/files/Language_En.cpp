#include "files/Language_En.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <unordered_map>

namespace bifuel {
namespace {

struct Entry {
    std::string_view key;
    std::string_view text;
};

// Texts of the link, the status line and the messages.
constexpr std::array kEntries{
    Entry{"Dim_Sec_Long", "sec"},
    Entry{"DynamicIND_Receiv_On", "Receiv data"},
    Entry{"DynamicIND_Receiv_Off", "Data loaded"},
    Entry{"DynamicIND_Transmission", "Data transmission"},
    Entry{"ACB_Prompt_Connect", "Autocalibration failed. No connection with ECU"},
    Entry{"Error_Version", "To work correctly, please install a newer version of the program"},
};

std::string upper(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

const std::unordered_map<std::string, std::string_view>& index() {
    static const auto* const kIndex = [] {
        auto* map = new std::unordered_map<std::string, std::string_view>();
        for (const Entry& e : kEntries) map->emplace(upper(e.key), e.text); // first one wins
        return map;
    }();
    return *kIndex;
}

} // namespace

std::string_view EnglishText(std::string_view key) {
    const auto& map = index();
    const auto it = map.find(upper(key));
    return it == map.end() ? std::string_view{} : it->second;
}

} // namespace bifuel
