// The key-value reader on any bytes: what a save writes reads back to the same keys,
// values and comments, and saving that again writes the same text.
#include "FuzzCheck.h"
#include "files/FindUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    KeyFile first;
    first.OpenFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string saved = first.ToText();
    KeyFile second;
    second.OpenFromText(saved);
    fuzz::Require(second.Key_List == first.Key_List, "a saved file reads back to the same keys", saved);
    fuzz::Require(second.Value_List == first.Value_List, "a saved file reads back to the same values", saved);
    // A line without a comment reads as the comment " ", which is written as "{ }" and
    // reads back empty: the same nothing.
    const auto blank = [](std::vector<std::string> comments) {
        for (std::string& c : comments) {
            if (c.find_first_not_of(' ') == std::string::npos) c.clear();
        }
        return comments;
    };
    fuzz::Require(blank(second.Comment_List) == blank(first.Comment_List),
                  "a saved file reads back to the same comments", saved);
    fuzz::Require(second.ToText() == saved, "saving what was read back writes the same text", saved);
    // Every key finds the value of its first entry.
    for (std::size_t i = 0; i < first.Key_List.size(); ++i) {
        const bool found = second.FindKey(first.Key_List[i]);
        fuzz::Require(found, "every key read is found", first.Key_List[i]);
        fuzz::Require(second.Found_Index <= static_cast<int>(i), "a key finds its first entry", first.Key_List[i]);
    }
    return 0;
}
