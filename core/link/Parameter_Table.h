#pragma once

// The ECU's configuration parameters, one entry per code: the fields its word carries and
// how each travels there (its codec), the configuration file key and the Setup page row of
// each field where it has one. The parameter reply and write, the file's keys, the page's
// rows and the edit tracker's fields all go through this one table.

#include "data/Calc_Unit.h"
#include "data/Config_Unit.h"
#include "files/Language_View.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace bifuel {

struct EcuImage;
class TemperatureTable;

// Engine speeds as far as their period encoder carries them.
inline constexpr std::int32_t kRpmHighest = 8000;

// Why a value cannot go to the ECU: the field's file key, its value, and the rule as a
// text key with the values that fill it.
struct ParamFault {
    std::string key;
    std::string value;
    std::string rule;
    std::vector<std::string> ruleArgs;
};

// How a field travels in its parameter's word.
enum class ParamCodec : std::uint8_t {
    Word,        // the whole word, 0..65535
    Byte,        // one byte, 0..255
    ZeroAs80,    // one byte the ECU stores 0 as 0x80 in: 128 has no byte of its own
    Bit,         // one bit
    InvertedBit, // one bit, set while the field is false
    ZeroBit,     // a bit the write always sends as 0, whatever the ECU reported
    TenBits,     // the word's low ten bits; flags share the high byte
    Temperature, // whole degrees as the nearest code of the temperature table
    RpmPeriod,   // an engine speed as its ignition period, up to kRpmHighest
    Pressure,    // a pressure code, read at the default sensor scale, written at Press_Scale
    Doubled,     // the low ten bits times two: an odd value loses its low bit
    PreScaler,   // "1:N" as its position N, any N a byte holds
    LevelType,   // a level sensor type name as its index; "Error" goes as 0, other names refused
    // The corrections: the first byte a signed percentage (no value: the default by gas
    // type), the second byte the companion's word at `scale`.
    PressurePercent, // companion: a support pressure (hundredths) as its code at Press_Scale
    DegreesPercent,  // companion: a support temperature in degrees; refused while unknown
    // Unsigned: a byte read goes back as that byte while it reads as the same percentage.
    // Companion: the halved support value.
    HalvedPercent,
};

enum class ParamByte : std::uint8_t { High, Low };

// How the Setup page shows a field.
enum class SetupShow : std::uint8_t {
    Text,
    Number,
    Temperature, // degrees, or the language's word for unknown degrees
    Delay,       // tenths of a second with the system's decimal separator
    Injection,   // "Sequent" / "Full group"
    GasType,     // "LPG" / "CNG"
    YesNo,
    Volts, // a sensor code as volts
};

// A field's row on the Setup page.
struct SetupRow {
    int place = 0; // from 1 in page order; 0: not on the page
    SetupShow show = SetupShow::Text;
    std::string LanguageView::*caption = nullptr; // null: `captionKey` + " " + the level's number
    const char* captionKey = nullptr;
};

// A correction's default when the ECU holds no value for it.
struct ByGasType {
    std::int32_t lpg = 0;
    std::int32_t cng = 0;
};

// One field of a parameter's word. Exactly one of number, flag and text names its place in
// the record, except for a ZeroBit nobody keeps.
struct ParamField {
    ParamCodec codec = ParamCodec::Word;
    const char* key = nullptr; // the file key, or the record's name for a field the file lacks
    std::int32_t Configuration_Class::*number = nullptr;
    bool Configuration_Class::*flag = nullptr;
    std::string Configuration_Class::*text = nullptr;
    ParamByte at = ParamByte::High; // the byte of a codec that takes one
    int bit = 0;
    std::int32_t scale = 0; // Pressure: the divisor (10 for tenths); corrections: the scale
    std::int32_t Configuration_Class::*companion = nullptr; // corrections
    ByGasType fallback{};                                   // corrections
    int file = 0; // from 1 in the configuration file's order; 0: not in the file
    SetupRow setup{};
};

struct ParamCode {
    std::uint8_t code = 0;
    // The codes whose values its encoding depends on besides its own: it goes back as the
    // ECU reported it only while they do too.
    std::vector<std::uint8_t> companions;
    std::vector<ParamField> fields;
};

// Every parameter a write sends, in the order it sends them.
const std::vector<ParamCode>& ParameterTable();
// The entry of a code; none for a code the program reads past.
const ParamCode* FindParameter(std::uint8_t code);
// The fields the configuration file carries, in its order.
const std::vector<const ParamField*>& FileFields();
// The fields the Setup page shows, in its order.
const std::vector<const ParamField*>& SetupRows();

// Calls `f` with the field's pointer to its member of the record, whatever its type.
template <typename F> decltype(auto) VisitMember(const ParamField& field, F&& f) {
    if (field.number != nullptr) return f(field.number);
    if (field.flag != nullptr) return f(field.flag);
    return f(field.text);
}

// One parameter into the record. False when a correction holds no value: it took its
// default. Codes without an entry change nothing.
bool DecodeParameter(Configuration_Class& c, TemperatureTable& table, std::uint8_t code,
                     std::uint8_t h, std::uint8_t l);
// The bytes of one parameter computed from the image's record; a fault when a value does
// not fit what the ECU can hold there.
std::variant<WordBytes, ParamFault>
EncodeFreshParameter(const EcuImage& image, TemperatureTable& table, std::uint8_t code);
// The bits of a code's word the write always sends as 0.
WordBytes ZeroBitsOf(std::uint8_t code);

} // namespace bifuel
