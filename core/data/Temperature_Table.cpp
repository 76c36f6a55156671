#include "data/Temperature_Table.h"

#include "runtime/Scheduler.h"

#include <fstream>
#include <system_error>
#include <utility>

namespace bifuel {

std::optional<FileStamp> StampOnDisk(const std::filesystem::path& file) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return std::nullopt;
    const auto time = std::filesystem::last_write_time(file, ec);
    if (ec) return std::nullopt;
    return FileStamp{time, size};
}

TemperatureTable::TemperatureTable(std::filesystem::path file, std::function<bool()> onMissing,
                                   const Scheduler* clock, FileProbe probe)
    : file_(std::move(file)), onMissing_(std::move(onMissing)), clock_(clock),
      probe_(std::move(probe)) {}

const TemperatureTable::Entries* TemperatureTable::Load() {
    if (clock_ == nullptr) return Check();
    const std::int64_t now = clock_->nowUs();
    if (!lastCheckUs_ || now - *lastCheckUs_ >= kCheckEveryUs) {
        lastCheckUs_ = now;
        current_ = Check();
    } else if (current_ == nullptr) {
        ReportFailure(); // an outage the user could not be told about yet is told later
    }
    return current_;
}

const TemperatureTable::Entries* TemperatureTable::Check() {
    const std::optional<FileStamp> stamp = probe_ ? probe_(file_) : std::nullopt;
    // Only a good read is kept: a failed one is retried at every look, so a file whose
    // access rights are repaired (which leaves its time alone) is picked up too.
    if (!stamp || (!(cached_ && *cached_ == *stamp) && !ReadFile(*stamp))) {
        ReportFailure();
        return nullptr;
    }
    tableOk_ = true;
    return &entries_;
}

bool TemperatureTable::ReadFile(const FileStamp& stamp) {
    cached_.reset();
    if (stamp.size < kFileBytes) return false;
    std::ifstream in(file_, std::ios::binary);
    if (!in) return false;
    std::array<char, kFileBytes> raw{};
    if (!in.read(raw.data(), static_cast<std::streamsize>(raw.size()))) return false;
    for (std::size_t i = 0; i < kEntries; ++i) {
        const auto lo = static_cast<std::uint8_t>(raw[2 * i]);
        const auto hi = static_cast<std::uint8_t>(raw[2 * i + 1]);
        entries_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>((hi << 8) | lo));
    }
    cached_ = stamp;
    return true;
}

void TemperatureTable::ReportFailure() {
    if (!tableOk_) return;
    // An outage the user could not be told about yet (no main window) is told later.
    const bool told = onMissing_ ? onMissing_() : true;
    if (told) tableOk_ = false;
}

} // namespace bifuel
