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
    fuzz::Require(second.Key_List == first.Key_List, "a saved file reads back to the same keys",
                  saved);
    // A key without a value reads as the value " ", written as " { }": no value again.
    const auto blank = [](std::vector<std::string> texts) {
        for (std::string& t : texts) {
            if (t.find_first_not_of(' ') == std::string::npos) t.clear();
        }
        return texts;
    };
    fuzz::Require(blank(second.Value_List) == blank(first.Value_List),
                  "a saved file reads back to the same values", saved);
    // Comments come back too, blank ones as no comment; a comment whose braces do not pair
    // up is written with parentheses for them and is left out here.
    const auto paired = [](const std::string& c) {
        int depth = 0;
        for (const char ch : c) {
            if (ch == '{') ++depth;
            if (ch == '}' && --depth < 0) return false;
        }
        return depth == 0;
    };
    const std::vector<std::string> before = blank(first.Comment_List);
    const std::vector<std::string> after = blank(second.Comment_List);
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (paired(before[i]))
            fuzz::Require(after[i] == before[i], "a saved file reads back to the same comments",
                          saved);
    }
    // Blank values and comments settle at the first save; from then on a save writes
    // back exactly the text it read.
    KeyFile third;
    third.OpenFromText(second.ToText());
    fuzz::Require(third.ToText() == second.ToText(),
                  "saving what was read back writes the same text", saved);
    // Every key finds the value of its first entry.
    for (std::size_t i = 0; i < first.Key_List.size(); ++i) {
        const bool found = second.FindKey(first.Key_List[i]);
        fuzz::Require(found, "every key read is found", first.Key_List[i]);
        fuzz::Require(second.Found_Index <= static_cast<int>(i), "a key finds its first entry",
                      first.Key_List[i]);
    }
    return 0;
}
