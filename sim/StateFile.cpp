#include "StateFile.h"

#include "SimOptions.h"
#include "files/FindUnit.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>
#include <vector>

namespace bifuel::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Far above any memory we write; a bigger file is surely not ours and is not read whole.
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

const char* const kHeader =
    "# Memory of a simulated ECU: bytes and 16-bit words in hexadecimal. The ECU's\n"
    "# identity (code, firmware, model) comes from the options of each run.\n";

void putHex(std::string& out, unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out.push_back(kDigits[(value >> shift) & 0xF]);
}

template <typename Range> std::string byteList(const Range& bytes) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) out.push_back(' ');
        putHex(out, b, 2);
    }
    return out;
}

// Hexadecimal numbers of at most `digits` digits, separated by blanks.
bool parseHexList(std::string_view text, int digits, std::vector<unsigned>& out) {
    out.clear();
    while (true) {
        text = TrimBlanks(text);
        if (text.empty()) return true;
        const auto end = text.find_first_of(" \t");
        const std::string_view token = text.substr(0, end);
        if (token.size() > static_cast<std::size_t>(digits)) return false;
        unsigned v = 0;
        const auto [at, ec] = std::from_chars(token.data(), token.data() + token.size(), v, 16);
        if (ec != std::errc{} || at != token.data() + token.size()) return false;
        out.push_back(v);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end);
    }
}

std::string systemReason(int error) {
    return std::error_code(error, std::generic_category()).message();
}

} // namespace

std::string FormatEcuMemory(const EcuState& s) {
    std::string out = kHeader;
    out += "name=" + byteList(s.name) + "\n";
    for (const auto& [code, value] : s.params) {
        out += "param.";
        putHex(out, code, 2);
        out += "=";
        putHex(out, value, 4);
        out += "\n";
    }
    out += "# diagram.POINT=SLOPE GAS PETROL (bit 15 of PETROL marks an idle point)\n";
    for (std::size_t i = 0; i < s.diagram.size(); ++i) {
        const DiagramItem& p = s.diagram[i];
        out += "diagram." + std::to_string(i + 1) + "=";
        putHex(out, p.slope, 4);
        out += " ";
        putHex(out, p.gas, 4);
        out += " ";
        putHex(out, p.petrol, 4);
        out += "\n";
    }
    out += "map_gas=" + byteList(s.mapGas) + "\n";
    out += "map_petrol=" + byteList(s.mapPetrol) + "\n";
    out += "rpm_map_size=" + byteList(s.rpmMapSize) + "\n";
    out += "# the RPM map as written: counts, periods, row headers, factors column by column\n";
    out += "rpm_map=" + byteList(s.rpmMap) + "\n";
    return out;
}

std::string ParseEcuMemory(std::string_view text, EcuState& state) {
    EcuState s = state;
    s.params.clear();
    std::set<std::string> seen;
    std::vector<unsigned> values;
    std::size_t lineNo = 0;

    while (!text.empty()) {
        ++lineNo;
        const auto nl = text.find('\n');
        const std::string_view line = TrimBlanks(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (line.empty() || line.front() == '#') continue;

        const auto at = "line " + std::to_string(lineNo) + ": ";
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return at + "expected KEY=VALUE";
        const std::string key(TrimBlanks(line.substr(0, eq)));
        const std::string_view value = TrimBlanks(line.substr(eq + 1));
        if (!seen.insert(key).second) return at + key + " given twice";

        // `count` numbers of at most `digits` hexadecimal digits; 0 = any count up to `most`.
        const auto take = [&](int digits, std::size_t count, std::size_t most = 0) {
            return parseHexList(value, digits, values) &&
                   (count ? values.size() == count : values.size() <= most);
        };
        const auto expected = [&](const std::string& what) {
            return at + key + ": expected " + what;
        };

        if (key == "name") {
            if (!take(2, s.name.size())) return expected("8 bytes");
            std::copy(values.begin(), values.end(), s.name.begin());
        } else if (key.starts_with("param.")) {
            unsigned code = 0;
            const std::string_view digits = std::string_view(key).substr(6);
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, 16);
            if (digits.empty() || digits.size() > 2 || ec != std::errc{} ||
                end != digits.data() + digits.size())
                return at + "unknown key " + key;
            if (!take(4, 1)) return expected("one word");
            s.params[static_cast<std::uint8_t>(code)] = static_cast<std::uint16_t>(values[0]);
        } else if (key.size() == 9 && key.starts_with("diagram.") && key[8] >= '1' &&
                   key[8] <= '9') {
            if (!take(4, 3)) return expected("three words: slope, gas, petrol");
            DiagramItem& p = s.diagram[static_cast<std::size_t>(key[8] - '1')];
            p = {static_cast<std::uint16_t>(values[0]), static_cast<std::uint16_t>(values[1]),
                 static_cast<std::uint16_t>(values[2])};
        } else if (key == "map_gas" || key == "map_petrol") {
            if (!take(2, s.mapPointCount))
                return expected(std::to_string(s.mapPointCount) + " bytes");
            (key == "map_gas" ? s.mapGas : s.mapPetrol).assign(values.begin(), values.end());
        } else if (key == "rpm_map_size") {
            if (!take(2, 2)) return expected("2 bytes");
            s.rpmMapSize = {static_cast<std::uint8_t>(values[0]),
                            static_cast<std::uint8_t>(values[1])};
        } else if (key == "rpm_map") {
            if (!take(2, 0, SimEcu::kMaxMapStream))
                return expected("at most " + std::to_string(SimEcu::kMaxMapStream) + " bytes");
            s.rpmMap.assign(values.begin(), values.end());
        } else {
            return at + "unknown key " + key;
        }
    }

    std::vector<std::string> required{"name", "map_gas", "map_petrol", "rpm_map_size", "rpm_map"};
    for (int i = 1; i <= 9; ++i)
        required.push_back("diagram." + std::to_string(i));
    for (const std::string& key : required) {
        if (!seen.count(key)) return "no " + key;
    }
    state = std::move(s);
    return {};
}

std::string StateFile::load(EcuState& state) {
    std::error_code ec;
    const auto status = std::filesystem::status(path_, ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        if (std::string error = save(state); !error.empty())
            return "state file " + path_.string() + " cannot be made (" + error +
                   "); this run's writes are not kept";
        return {};
    }

    std::string problem;
    std::uintmax_t size = 0;
    if (!ec && std::filesystem::is_regular_file(status))
        size = std::filesystem::file_size(path_, ec);
    if (ec) {
        problem = "cannot be read (" + ec.message() + ")";
    } else if (!std::filesystem::is_regular_file(status)) {
        problem = "is not a file";
    } else if (size > kMaxFileBytes) {
        problem = "is too large for a memory file";
    } else {
        errno = 0;
        std::ifstream in(path_, std::ios::binary);
        std::string text;
        if (in.is_open()) text.assign(std::istreambuf_iterator<char>(in), {});
        if (!in.is_open() || in.bad()) {
            problem = "cannot be read (" + systemReason(errno != 0 ? errno : EIO) + ")";
        } else if (std::string error = ParseEcuMemory(text, state); !error.empty()) {
            problem = error;
        }
    }
    if (problem.empty()) return {};
    saving_ = false;
    return "state file " + path_.string() + ": " + problem +
           "; starting from the defaults, the file is left as it is and this run's writes are "
           "not kept";
}

std::string StateFile::save(const EcuState& state) {
    if (!saving_) return {};
    return ReplaceFile(path_, FormatEcuMemory(state));
}

} // namespace bifuel::sim
