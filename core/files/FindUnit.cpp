#include "files/FindUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace bifuel {
namespace {

constexpr std::size_t kKeyColumn = 29;

// Trimming treats every control character as a blank (tabs, stray line-end bytes); bytes
// of 0x80 and above are text of the file's code page and stay.
bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

std::string_view trimLeft(std::string_view s) {
    std::size_t b = 0;
    while (b < s.size() && isBlank(s[b]))
        ++b;
    return s.substr(b);
}

// Only ASCII letters change case: the files are 8-bit text in an unknown code page.
// Where a line's comment begins: at the brace that the closing brace at the end of the
// line matches, so that a value keeps braces of its own ("Auto {Nord} Service {}") and a
// comment may hold some; without a closing brace at the end, at the first brace.
std::size_t commentBrace(std::string_view valuePart) {
    if (!valuePart.empty() && valuePart.back() == '}') {
        int depth = 0;
        for (std::size_t i = valuePart.size(); i-- > 0;) {
            if (valuePart[i] == '}') {
                ++depth;
            } else if (valuePart[i] == '{' && --depth == 0) {
                return i;
            }
        }
    }
    return valuePart.find('{');
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    }
    return true;
}

std::size_t hashNoCase(std::string_view s) {
    std::uint64_t h = 14695981039346656037ull; // FNV-1a
    for (char c : s) {
        h ^= static_cast<unsigned char>(upperAscii(c));
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
}

std::string systemReason(int error) {
    return std::generic_category().message(error);
}

std::string saveFailure(const std::filesystem::path& path, const std::string& reason) {
    return "Could not save \"" + path.string() + "\": " + reason;
}

std::FILE* openFile(const std::filesystem::path& path, bool forWriting) {
#ifdef _WIN32
    return ::_wfopen(path.c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

enum class ReadOutcome { Read, Missing, Failed };

ReadOutcome readWholeFile(const std::filesystem::path& path, std::string& text,
                          std::string& error) {
    text.clear();
    errno = 0;
    std::FILE* f = openFile(path, false);
    if (f == nullptr) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR) return ReadOutcome::Missing;
        error = systemReason(e != 0 ? e : EIO);
        return ReadOutcome::Failed;
    }
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    const int e = errno;
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
        text.clear();
        error = systemReason(e != 0 ? e : EIO);
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Read;
}

// Writes and syncs the whole text; on failure returns the system's reason.
bool writeWholeFile(const std::filesystem::path& path, std::string_view text, std::string& error) {
    errno = 0;
    std::FILE* f = openFile(path, true);
    if (f == nullptr) {
        error = systemReason(errno != 0 ? errno : EIO);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = ok && std::fflush(f) == 0;
#ifdef _WIN32
    ok = ok && ::_commit(::_fileno(f)) == 0;
#else
    ok = ok && ::fsync(::fileno(f)) == 0;
#endif
    int e = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        e = errno;
    }
    if (!ok) error = systemReason(e != 0 ? e : EIO);
    return ok;
}

// A line break inside a field would split its line and let the rest read as another key.
void appendField(std::string& out, std::string_view field) {
    for (char c : field)
        out.push_back(c == '\r' || c == '\n' ? ' ' : c);
}

// A comment's own braces must pair up, or the reader would take one of them for the
// start of the comment; unpaired ones are written as parentheses.
void appendComment(std::string& out, std::string_view comment) {
    int depth = 0;
    bool paired = true;
    for (const char c : comment) {
        if (c == '{') ++depth;
        if (c == '}' && --depth < 0) paired = false;
    }
    paired = paired && depth == 0;
    for (const char c : comment) {
        out.push_back(c == '\r' || c == '\n' ? ' '
                      : paired               ? c
                      : c == '{'             ? '('
                      : c == '}'             ? ')'
                                             : c);
    }
}

bool parseInt32(std::string_view s, std::int32_t& result) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    if (i == s.size()) return false;
    std::int64_t value = 0;
    if (s[i] == '$') {
        ++i;
        if (i == s.size()) return false;
        for (; i < s.size(); ++i) {
            const char c = s[i];
            int digit = 0;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                return false;
            }
            value = value * 16 + digit;
            if (value > std::numeric_limits<std::int32_t>::max()) return false;
        }
        result = static_cast<std::int32_t>(value);
        return true;
    }
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size()) return false;
    const std::int64_t limit =
        negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                 : std::numeric_limits<std::int32_t>::max();
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > limit) return false;
    }
    result = static_cast<std::int32_t>(negative ? -value : value);
    return true;
}

} // namespace

KeyFile::KeyFile() {
    renameFile = [](const std::filesystem::path& from, const std::filesystem::path& to,
                    std::string& error) {
        std::error_code ec;
        std::filesystem::rename(from, to, ec);
        if (ec) error = ec.message();
        return !ec;
    };
}

bool KeyFile::OpenKeyFile(const std::filesystem::path& path) {
    release();
    std::string text;
    std::string error;
    if (readWholeFile(path, text, error) != ReadOutcome::Read) return false;
    OpenFromText(text);
    return true;
}

bool KeyFile::OpenKeyFileForUpdate(const std::filesystem::path& path) {
    release();
    std::string text;
    std::string error;
    const ReadOutcome outcome = readWholeFile(path, text, error);
    OpenFromText(text);
    if (outcome == ReadOutcome::Failed) readError_ = error;
    return outcome != ReadOutcome::Missing;
}

void KeyFile::OpenFromText(std::string_view text) {
    release();
    open_ = true;
    parse(text);
    rebuildIndex();
}

void KeyFile::parse(std::string_view text) {
    const std::size_t lines =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    Key_List.reserve(lines);
    Value_List.reserve(lines);
    Comment_List.reserve(lines);

    // An editor's UTF-8 byte-order mark is no part of a key, at the start of the file or
    // of a file pasted into another.
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        std::string_view line = trimLeft(text.substr(pos, end - pos));
        while (line.starts_with(kByteOrderMark))
            line = trimLeft(line.substr(kByteOrderMark.size()));
        // CR LF is one line end; a lone CR or LF is one too.
        pos = end + 1;
        if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;

        if (line.empty() || line.front() == '{' || line.front() == '[') continue;

        const std::size_t stop = line.find_first_of(" =");
        std::string_view key = line;
        std::string_view valuePart;
        if (stop != std::string_view::npos) {
            key = line.substr(0, stop);
            // After "=" the value starts behind it; after a space it starts at it, so
            // 'KEY = 5' keeps '= 5'.
            valuePart = line.substr(line[stop] == '=' ? stop + 1 : stop);
        }
        key = trim(key);
        valuePart = trim(valuePart);
        // A line without a key ("= 248") can be looked up by no one; written back it
        // would read as another key.
        if (key.empty()) continue;

        std::string& k = Key_List.emplace_back(key);
        for (char& c : k)
            c = upperAscii(c);

        if (valuePart.empty()) {
            Value_List.emplace_back(" ");
            Comment_List.emplace_back(" ");
            continue;
        }
        const std::size_t brace = commentBrace(valuePart);
        if (brace == std::string_view::npos) {
            Value_List.emplace_back(valuePart);
            Comment_List.emplace_back(" ");
            continue;
        }
        // The character before the brace is the written form's separating space and the
        // last one the closing brace; both go, whatever they are.
        Value_List.emplace_back(trim(valuePart.substr(0, brace > 0 ? brace - 1 : 0)));
        const std::size_t commentBegin = brace + 1;
        const std::size_t commentEnd = valuePart.size() - 1;
        Comment_List.emplace_back(
            commentEnd > commentBegin
                ? trim(valuePart.substr(commentBegin, commentEnd - commentBegin))
                : std::string_view{});
    }
}

bool KeyFile::FindKey(std::string_view key) {
    const std::int32_t entry = indexFind(key);
    Found_Index = entry;
    if (entry < 0) {
        Found_Value.clear();
        Found_Comment.clear();
        return false;
    }
    Found_Value = Value_List[static_cast<std::size_t>(entry)];
    Found_Comment = Comment_List[static_cast<std::size_t>(entry)];
    return true;
}

bool KeyFile::GetKeyInt(std::string_view key) {
    if (!FindKey(key)) return false;
    std::int32_t value = 0;
    if (!parseInt32(Found_Value, value)) return false;
    Found_Int = value;
    return true;
}

bool KeyFile::GetKeyBool(std::string_view key) {
    if (!FindKey(key)) return false;
    if (equalNoCase(Found_Value, "TRUE")) {
        Found_Bool = true;
        return true;
    }
    if (equalNoCase(Found_Value, "FALSE")) {
        Found_Bool = false;
        return true;
    }
    return false;
}

void KeyFile::SetKey(std::string_view key, std::string_view value, std::string_view comment) {
    if (!open_) return;
    const std::int32_t entry = indexFind(key);
    if (entry >= 0) {
        const auto i = static_cast<std::size_t>(entry);
        Key_List[i] = key;
        Value_List[i] = value;
        Comment_List[i] = comment;
        return;
    }
    Key_List.emplace_back(key);
    Value_List.emplace_back(value);
    Comment_List.emplace_back(comment);
    if (Key_List.size() * 2 > slots_.size()) {
        rebuildIndex();
    } else {
        indexInsertIfAbsent(static_cast<std::int32_t>(Key_List.size() - 1));
        indexedEntries_ = Key_List.size();
    }
}

bool KeyFile::DeleteKey(std::string_view key) {
    if (!open_) return false;
    if (indexFind(key) < 0) return false;
    // Every entry of the key goes: a repeated key left behind would come back as the
    // key's value at the next read.
    for (std::size_t i = Key_List.size(); i-- > 0;) {
        if (!equalNoCase(Key_List[i], key)) continue;
        Key_List.erase(Key_List.begin() + static_cast<std::ptrdiff_t>(i));
        Value_List.erase(Value_List.begin() + static_cast<std::ptrdiff_t>(i));
        Comment_List.erase(Comment_List.begin() + static_cast<std::ptrdiff_t>(i));
    }
    rebuildIndex();
    return true;
}

std::string KeyFile::ToText() const {
    std::string out;
    std::size_t size = 0;
    for (std::size_t i = 0; i < Key_List.size(); ++i) {
        size += std::max(Key_List[i].size() + 1, kKeyColumn) + Value_List[i].size() +
                Comment_List[i].size() + 5;
    }
    out.reserve(size);
    for (std::size_t i = 0; i < Key_List.size(); ++i) {
        const std::string& key = Key_List[i];
        appendField(out, key);
        // A longer key is written whole: cut, it would read back as another key.
        out.append(key.size() < kKeyColumn ? kKeyColumn - key.size() : 1, ' ');
        appendField(out, Value_List[i]);
        out += " {";
        appendComment(out, Comment_List[i]);
        out += "}\r\n";
    }
    return out;
}

WriteResult KeyFile::SaveKeyFile(const std::filesystem::path& path) {
    if (!open_) return {false, saveFailure(path, "no file was opened for writing")};
    const std::string text = ToText();
    const std::string readError = std::move(readError_);
    release();
    if (!readError.empty()) {
        return {false, saveFailure(path, "the existing file could not be read (" + readError +
                                             "), so it was left as it was")};
    }

    if (!renameFile) renameFile = KeyFile().renameFile;
    const std::string error = ReplaceFile(path, text, renameFile);
    if (!error.empty()) return {false, saveFailure(path, error)};
    return {};
}

std::string ReplaceFile(const std::filesystem::path& path, std::string_view text,
                        const RenameFunction& rename) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    std::string error;
    if (!writeWholeFile(temporary, text, error)) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return error;
    }
    // The new file keeps the old one's access rights.
    std::error_code ec;
    const auto old = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(old)) {
        std::filesystem::permissions(temporary, old.permissions(), ec);
    }
    const bool renamed =
        rename ? rename(temporary, path, error) : KeyFile().renameFile(temporary, path, error);
    if (!renamed) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return error.empty() ? "the file could not be replaced" : error;
    }
    return {};
}

void KeyFile::CloseKeyFile() {
    release();
}

void KeyFile::release() {
    open_ = false;
    readError_.clear();
    Key_List.clear();
    Value_List.clear();
    Comment_List.clear();
    slots_.clear();
    indexedEntries_ = 0;
}

void KeyFile::rebuildIndex() {
    std::size_t capacity = 16;
    while (capacity < Key_List.size() * 2)
        capacity *= 2;
    slots_.assign(capacity, kEmptySlot);
    for (std::size_t i = 0; i < Key_List.size(); ++i) {
        indexInsertIfAbsent(static_cast<std::int32_t>(i));
    }
    indexedEntries_ = Key_List.size();
}

void KeyFile::indexInsertIfAbsent(std::int32_t entry) {
    const std::string& key = Key_List[static_cast<std::size_t>(entry)];
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = hashNoCase(key) & mask;; s = (s + 1) & mask) {
        const std::int32_t held = slots_[s];
        if (held == kEmptySlot) {
            slots_[s] = entry;
            return;
        }
        if (equalNoCase(Key_List[static_cast<std::size_t>(held)], key)) return;
    }
}

std::int32_t KeyFile::indexFind(std::string_view key) {
    // The lists are public: entries added or removed behind our back mean a new table.
    if (indexedEntries_ != Key_List.size() || slots_.empty()) rebuildIndex();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = hashNoCase(key) & mask;; s = (s + 1) & mask) {
        const std::int32_t held = slots_[s];
        if (held == kEmptySlot) return -1;
        if (equalNoCase(Key_List[static_cast<std::size_t>(held)], key)) return held;
    }
}

bool ReadKeyBoolFromFile(KeyFile& file, const std::filesystem::path& path, std::string_view key) {
    if (!file.OpenKeyFile(path)) return false;
    const bool value = file.GetKeyBool(key) && file.Found_Bool;
    file.CloseKeyFile();
    return value;
}

std::string StripExtension(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::size_t separator = fileName.find_last_of("/\\");
    // A dot in a folder name is no extension.
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
        return std::string(fileName);
    }
    return std::string(fileName.substr(0, dot));
}

} // namespace bifuel
