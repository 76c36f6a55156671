#include "files/Live_Log.h"

#include "Context.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>

namespace bifuel {
namespace {

// Columns in the order of the header. Each number is kept as an integer in the record and
// written with a fixed count of decimals, so a line reads back to exactly what was written.
constexpr const char* kColumns[] = {
    "time_s",   "rpm",       "reducer_temp_C", "gas_temp_C",   "reducer_bar",   "manifold_bar",
    "diff_bar", "level_V",   "petrol1_ms",     "petrol2_ms",   "petrol3_ms",    "petrol4_ms",
    "gas1_ms",  "gas2_ms",   "gas3_ms",        "gas4_ms",      "petrol_avg_ms", "gas_avg_ms",
    "mode",     "engine_on", "pressure_ok",    "save_blocked", "data_saved",    "error1",
    "error2",   "map_col",   "map_row",        "frame_hex"};
constexpr std::size_t kColumnCount = std::size(kColumns);

// Status bits of the live reply, in the order of their columns.
constexpr std::uint8_t kStatusBits[] = {0x80, 0x40, 0x20, 0x10};

// The level input is a 10-bit code over 0..5 V; three decimals of a volt tell the codes
// apart (one code is 4.9 mV).
constexpr double kLevelVolts = 5.0;
constexpr double kLevelCodes = 1023.0;

void appendFixed(std::string& out, std::int64_t value, int decimals) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    std::int64_t scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    out += std::to_string(value / scale);
    if (decimals == 0) return;
    const std::string fraction = std::to_string(value % scale);
    out += '.';
    out.append(static_cast<std::size_t>(decimals) - fraction.size(), '0');
    out += fraction;
}

// A number written with at most `decimals` decimals, as an integer in those units.
std::optional<std::int64_t> parseFixed(std::string_view text, int decimals) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if (whole.empty() || whole.size() > 12 || fraction.size() > static_cast<std::size_t>(decimals))
        return std::nullopt;
    if (point != std::string_view::npos && fraction.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    for (int i = 0; i < decimals; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        const char c = k < fraction.size() ? fraction[k] : '0';
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

std::int64_t levelMillivolts(std::int32_t code) {
    return std::llround(code * kLevelVolts * 1000.0 / kLevelCodes);
}

std::int32_t levelCode(std::int64_t millivolts) {
    return static_cast<std::int32_t>(std::lround(millivolts / 1000.0 * kLevelCodes / kLevelVolts));
}

constexpr char kHex[] = "0123456789ABCDEF";

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Reads the fields of one line into a record; false at the first field that is not one.
class LineReader {
  public:
    explicit LineReader(std::string_view line) : rest_(line) {}

    bool next(std::string_view& field) {
        if (done_) return false;
        const std::size_t comma = rest_.find(',');
        field = rest_.substr(0, comma);
        if (comma == std::string_view::npos) {
            done_ = true;
        } else {
            rest_.remove_prefix(comma + 1);
        }
        return true;
    }

    template <typename T> bool number(T& out, int decimals, std::int64_t min, std::int64_t max) {
        std::string_view field;
        if (!next(field)) return false;
        const auto value = parseFixed(field, decimals);
        if (!value || *value < min || *value > max) return false;
        out = static_cast<T>(*value);
        return true;
    }

    bool finished() const { return done_; }

  private:
    std::string_view rest_;
    bool done_ = false;
};

constexpr std::int64_t kInt32Min = INT32_MIN;
constexpr std::int64_t kInt32Max = INT32_MAX;

} // namespace

std::string LiveLogHeader() {
    std::string header;
    for (const char* column : kColumns) {
        if (!header.empty()) header += ',';
        header += column;
    }
    return header;
}

std::string FormatLiveLogLine(const LiveLogRecord& r) {
    std::string line;
    line.reserve(160 + 2 * r.Frame.size());
    const auto field = [&line](std::int64_t value, int decimals) {
        appendFixed(line, value, decimals);
        line += ',';
    };
    field(r.Time_Ms, 3);
    field(r.Rpm, 0);
    field(r.Temp_Vap, 1);
    field(r.Temp_Gas, 1);
    field(r.Press_Vap, 2);
    field(r.Press_Coll, 2);
    field(r.Press_Diff, 2);
    field(levelMillivolts(r.Level), 3);
    for (const std::int32_t us : r.Petrol_Us)
        field(us, 3);
    for (const std::int32_t us : r.Gas_Us)
        field(us, 3);
    field(r.Petrol_Avg_Us, 3);
    field(r.Gas_Avg_Us, 3);
    field(r.Mode, 0);
    for (const std::uint8_t bit : kStatusBits)
        field((r.Status & bit) != 0 ? 1 : 0, 0);
    field(r.Error1, 0);
    field(r.Error2, 0);
    field(r.Map_Col, 0);
    field(r.Map_Row, 0);
    for (const std::uint8_t byte : r.Frame) {
        line += kHex[byte >> 4];
        line += kHex[byte & 0x0F];
    }
    return line;
}

std::optional<LiveLogRecord> ParseLiveLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    LiveLogRecord r;
    LineReader in(line);
    std::int64_t levelMv = 0;
    bool ok = in.number(r.Time_Ms, 3, 0, INT64_MAX / 1000) &&
              in.number(r.Rpm, 0, kInt32Min, kInt32Max) &&
              in.number(r.Temp_Vap, 1, kInt32Min, kInt32Max) &&
              in.number(r.Temp_Gas, 1, kInt32Min, kInt32Max) &&
              in.number(r.Press_Vap, 2, kInt32Min, kInt32Max) &&
              in.number(r.Press_Coll, 2, kInt32Min, kInt32Max) &&
              in.number(r.Press_Diff, 2, kInt32Min, kInt32Max) && in.number(levelMv, 3, 0, 5000);
    for (std::int32_t& us : r.Petrol_Us)
        ok = ok && in.number(us, 3, kInt32Min, kInt32Max);
    for (std::int32_t& us : r.Gas_Us)
        ok = ok && in.number(us, 3, kInt32Min, kInt32Max);
    ok = ok && in.number(r.Petrol_Avg_Us, 3, kInt32Min, kInt32Max) &&
         in.number(r.Gas_Avg_Us, 3, kInt32Min, kInt32Max) && in.number(r.Mode, 0, 0, 255);
    for (const std::uint8_t bit : kStatusBits) {
        int set = 0;
        ok = ok && in.number(set, 0, 0, 1);
        if (set != 0) r.Status = static_cast<std::uint8_t>(r.Status | bit);
    }
    ok = ok && in.number(r.Error1, 0, 0, 255) && in.number(r.Error2, 0, 0, 255) &&
         in.number(r.Map_Col, 0, kInt32Min, kInt32Max) &&
         in.number(r.Map_Row, 0, kInt32Min, kInt32Max);
    std::string_view hex;
    if (!ok || !in.next(hex) || !in.finished() || hex.size() % 2 != 0) return std::nullopt;
    r.Level = levelCode(levelMv);
    r.Frame.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        r.Frame.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return r;
}

LiveLogRecord RecordFromLive(const Context& ctx, std::int64_t timeMs) {
    const LiveData& live = ctx.live;
    LiveLogRecord r;
    r.Time_Ms = timeMs;
    r.Rpm = live.Live_RPM;
    r.Temp_Vap = live.Live_TempVap;
    r.Temp_Gas = live.Live_TempGas;
    r.Press_Vap = live.Live_PressVap;
    r.Press_Coll = live.Live_PressColl;
    r.Press_Diff = live.Live_PressDiff;
    r.Level = live.Live_Level;
    for (std::size_t c = 0; c < 4; ++c) {
        r.Petrol_Us[c] = live.Live_Petrol_Inj[c + 1];
        r.Gas_Us[c] = live.Live_Gas_Inj[c + 1];
    }
    r.Petrol_Avg_Us = live.Live_Petrol_Avg;
    r.Gas_Avg_Us = live.Live_Gas_Avg;
    r.Mode = live.Work_Mode;
    r.Error1 = live.Error_Flags1;
    r.Error2 = live.Error_Flags2;
    r.Map_Col = ctx.rpmMap.Live_Cell.c;
    r.Map_Row = ctx.rpmMap.Live_Cell.r;
    // The reply: program code, command, data, checksum.
    const std::span<const std::uint8_t> reply = ReceivedReply(ctx.link);
    if (reply.size() > 3) {
        r.Frame.assign(reply.begin() + 2, reply.end() - 1);
        if (reply.size() > 6) r.Status = static_cast<std::uint8_t>(reply[6] & 0xF0);
    }
    return r;
}

LiveLogFile ReadLiveLog(const std::filesystem::path& file) {
    LiveLogFile log;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        log.Error = "cannot open \"" + file.string() + "\"";
        return log;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        log.Error = "cannot read \"" + file.string() + "\"";
        return log;
    }
    std::string_view rest = text;
    bool ended = true; // the line just taken had its line end
    const auto nextLine = [&rest, &ended]() {
        const std::size_t end = rest.find('\n');
        ended = end != std::string_view::npos;
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(ended ? end + 1 : rest.size());
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    };
    if (nextLine() != LiveLogHeader()) {
        log.Error = "\"" + file.string() + "\" is not a live-data log";
        return log;
    }
    log.Records.reserve(text.size() / 200);
    while (!rest.empty()) {
        const std::string_view line = nextLine();
        if (line.empty()) continue;
        // Every line is written with its line end: one without it was cut while being
        // written, even where what is there would read as a record (a shorter frame).
        auto record = ended ? ParseLiveLogLine(line) : std::nullopt;
        if (record) {
            log.Records.push_back(std::move(*record));
        } else {
            ++log.Skipped_Lines;
        }
    }
    return log;
}

} // namespace bifuel
