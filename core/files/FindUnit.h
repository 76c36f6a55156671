#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

// Outcome of writing a file. A failed write leaves the old file as it was.
struct WriteResult {
    bool ok = true;
    std::string message; // for the user when !ok: names the file and the system's reason
};

using RenameFunction = std::function<bool(const std::filesystem::path& from,
                                          const std::filesystem::path& to, std::string& error)>;

// Writes `text` to a temporary file beside `path`, puts it on the disk and renames it over
// the old one, which keeps its access rights; a crash or a full disk never leaves a
// half-written file. Returns the system's reason on failure, the old file as it was.
// `rename` defaults to the file system's.
std::string ReplaceFile(const std::filesystem::path& path, std::string_view text,
                        const RenameFunction& rename = {});

// The program's key-value text files (configuration, settings): one file open at a time,
// read into three parallel lists, looked up without regard to case, written back whole.
// Calling order: an open, any lookups and changes, then one save or close.
class KeyFile {
  public:
    KeyFile(); // sets renameFile to the file system's rename

    // Reads the file; false when it does not exist (nothing is opened then).
    bool OpenKeyFile(const std::filesystem::path& path);
    // As OpenKeyFile, but a missing file opens empty; returns whether the file existed.
    bool OpenKeyFileForUpdate(const std::filesystem::path& path);
    // Parses text as if it were a file's contents (opens the lists).
    void OpenFromText(std::string_view text);

    bool FindKey(std::string_view key);
    bool GetKeyInt(std::string_view key);  // decimal or "$" hexadecimal; sets Found_Int
    bool GetKeyBool(std::string_view key); // "TRUE" / "FALSE"; sets Found_Bool
    void SetKey(std::string_view key, std::string_view value, std::string_view comment = "");
    bool DeleteKey(std::string_view key);

    // Writes every entry to a temporary file beside `path` and renames it over the old
    // one, then releases the lists (also when the write failed).
    WriteResult SaveKeyFile(const std::filesystem::path& path);
    void CloseKeyFile();
    bool isOpen() const { return open_; }

    // The lines as they would be written, CR LF ended.
    std::string ToText() const;

    // Results of the last lookup.
    int Found_Index = -1;
    std::string Found_Value;
    std::string Found_Comment;
    std::int32_t Found_Int = 0;
    bool Found_Bool = false;

    // Read them freely; change them only through SetKey and DeleteKey, which keep the
    // lookup table in step.
    std::vector<std::string> Key_List;
    std::vector<std::string> Value_List;
    std::vector<std::string> Comment_List;

    // The rename step of a save; tests replace it to simulate a crash before it.
    RenameFunction renameFile;

  private:
    void release();
    void parse(std::string_view text);
    // Lookup table: open addressing over entry indices, case-insensitive, first entry of
    // each key only. Slots hold an index into Key_List or kEmptySlot.
    static constexpr std::int32_t kEmptySlot = -1;
    void rebuildIndex();
    void indexInsertIfAbsent(std::int32_t entry);
    std::int32_t indexFind(std::string_view key);

    bool open_ = false;
    // Why an existing file could not be read by OpenKeyFileForUpdate; a save must not
    // replace a file whose keys it never saw.
    std::string readError_;
    std::vector<std::int32_t> slots_;
    std::size_t indexedEntries_ = 0;
};

// The boolean of one key of a file; false when the file or the key is missing.
bool ReadKeyBoolFromFile(KeyFile& file, const std::filesystem::path& path, std::string_view key);
// The name up to its last "."; unchanged without one.
std::string StripExtension(std::string_view fileName);

} // namespace bifuel
