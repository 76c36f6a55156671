#pragma once

#include "SimEcu.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace bifuel::sim {

// The ECU's memory as text: what a write can change (name, parameters, diagram, MAP lists,
// RPM map), one KEY=VALUE line each, in hexadecimal. The identity (code, firmware, model,
// date, N) is not in it: that comes from the options of each run.
std::string FormatEcuMemory(const EcuState& state);

// Reads memory text into `state`, whose identity stays. Every key must be there once and
// nothing else; on any fault `state` is left as it was. Returns the fault with its line
// number, empty when taken.
std::string ParseEcuMemory(std::string_view text, EcuState& state);

// The file a simulated ECU keeps its memory in between runs.
class StateFile {
  public:
    explicit StateFile(std::filesystem::path path) : path_(std::move(path)) {}

    // Fills the memory parts of `state` from the file. A missing file is made from `state`
    // as it is. A file that cannot be read or is no memory file leaves `state` as it is and
    // is never written over: saving stays off for this run, so a mistyped hand edit is not
    // lost. Returns what the user should know, empty when all went well.
    std::string load(EcuState& state);

    // Writes the whole memory to a temporary file beside the file and renames it over the
    // old one, so a crash leaves either the old memory or the new one. Returns the reason
    // when the file could not be written (the old one stays), empty when written or while
    // saving is off.
    std::string save(const EcuState& state);

    bool saving() const { return saving_; }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    bool saving_ = true;
};

} // namespace bifuel::sim
