#pragma once

#include "runtime/Signal.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel {

class Context;

// The port name of a recorded log played back as the ECU ("replay:FILE"). What it plays is
// a log already, and is not recorded again.
inline constexpr std::string_view kReplayPortPrefix = "replay:";
inline bool IsReplayPortName(std::string_view name) {
    return name.starts_with(kReplayPortPrefix);
}

inline constexpr std::string_view kLogUnnamed = "NONAME"; // an ECU without a usable name
inline constexpr std::string_view kLogExtension = ".csv";
// How many lines pass between two looks at the size of the log folder while a long
// connection records (about five minutes at the polling program's pace).
inline constexpr std::uint32_t kLogPruneEveryLines = 1024;

// "NAME_2026-12-10_221508.csv": the configuration name when it may be part of a path,
// else kLogUnnamed, and the local time the log began.
std::string LiveLogFileName(std::string_view cfgName, std::int64_t localSeconds);

// Removes the oldest logs of the folder (by time written, then by name) until all of them
// together take at most maxBytes; `keep` (the log being written) is never removed, even
// when it alone is larger. Only files that end in kLogExtension count. Returns the files
// removed, oldest first.
std::vector<std::filesystem::path> PruneLogs(const std::filesystem::path& folder,
                                             std::uintmax_t maxBytes,
                                             const std::filesystem::path& keep);

// Records every decoded live frame of a connection into its own log in Logs_Dir: the
// header first, then one line per frame, each line appended and flushed as it comes, so
// a crash or a power loss cuts at most the last line (which the reader skips). The file
// is opened at the first frame of a connection, when the ECU's configuration name is
// known, and closed when the link ends. A file that cannot be made or written stops the
// recording of this connection and is said once on the status line; the link goes on.
// A replayed log is not recorded.
class LiveRecorder {
  public:
    // Local calendar seconds for the file name: the core has no wall clock of its own.
    using Clock = std::function<std::int64_t()>;
    // With `followSetting` the desktop program's setting Log_Live switches recording on
    // and off; without it everything is recorded (the command-line tool's --log).
    LiveRecorder(Context& ctx, Clock now, bool followSetting = true);
    ~LiveRecorder();
    LiveRecorder(const LiveRecorder&) = delete;
    LiveRecorder& operator=(const LiveRecorder&) = delete;

    // The log being written; empty when none is.
    const std::filesystem::path& file() const { return path_; }
    std::uint64_t linesWritten() const { return lines_; }

    // A log was begun (its path).
    Signal<const std::filesystem::path&> started;

  private:
    void onLive();
    bool begin();
    void fail(const std::string& reason);
    void close();

    Context& ctx_;
    Clock now_;
    bool followSetting_;
    std::FILE* out_ = nullptr;
    std::filesystem::path path_;
    std::int64_t startUs_ = 0;
    std::uint64_t lines_ = 0;
    bool failed_ = false; // for this connection
    std::string failureText_;
    std::string line_; // reused, so a frame allocates nothing once it has grown
    Subscription liveWatch_;
    Subscription endWatch_;
};

} // namespace bifuel
