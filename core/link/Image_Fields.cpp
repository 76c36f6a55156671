#include "link/Image_Fields.h"

#include "data/Calc_Unit.h"
#include "data/Config_Unit.h"
#include "link/Parameter_Table.h"
#include "rpm_map/MapRPM_Unit.h"

#include <functional>

namespace bifuel {
namespace {

// A field: its name, whether the ECU stores it, its value as text (one text per value, so
// that texts compare as the values do) and how it is copied from one image to another.
struct ImageField {
    std::string key;
    bool onEcu = true;
    std::function<std::string(const EcuImage&)> text;
    std::function<void(const EcuImage& from, EcuImage& to)> copy;
};

std::string valueText(const std::string& value) {
    return value;
}
std::string valueText(bool value) {
    return std::string(BoolToText(value));
}
std::string valueText(std::uint8_t value) {
    return std::to_string(value);
}
std::string valueText(std::int32_t value) {
    return value == kTemperatureUnknown ? std::string("?") : std::to_string(value);
}

template <typename T>
ImageField configField(const char* key, T Configuration_Class::*member, bool onEcu = true) {
    return {
        key, onEcu, [member](const EcuImage& i) { return valueText(i.config.*member); },
        [member](const EcuImage& from, EcuImage& to) { to.config.*member = from.config.*member; }};
}

using C = Configuration_Class;

std::vector<ImageField> buildFields() {
    std::vector<ImageField> f;
    // The configuration file's settings, in its order, then the rest of what the ECU reports:
    // the page or an auto-calibration may change them.
    const auto add = [&f](const ParamField& field) {
        VisitMember(field, [&](auto member) { f.push_back(configField(field.key, member)); });
    };
    for (const ParamField* field : FileFields())
        add(*field);
    for (const ParamCode& p : ParameterTable()) {
        for (const ParamField& field : p.fields) {
            if (field.key != nullptr && field.file == 0) add(field);
        }
    }
    f.push_back(configField("CFG_Name", &C::CFG_Name));

    for (std::size_t n = 0; n < kDiagramPoints; ++n) {
        for (const auto& [prefix, points] :
             {std::pair{"Gas_Point_", &EcuImage::gas}, {"Petrol_Point_", &EcuImage::petrol}}) {
            f.push_back({prefix + std::to_string(n), true,
                         [points, n](const EcuImage& i) { return std::to_string((i.*points)[n]); },
                         [points, n](const EcuImage& from, EcuImage& to) {
                             (to.*points)[n] = (from.*points)[n];
                         }});
        }
    }
    f.push_back({"Idle_Point", true, [](const EcuImage& i) { return valueText(i.idlePoint); },
                 [](const EcuImage& from, EcuImage& to) { to.idlePoint = from.idlePoint; }});

    // The RPM map's cells, as the file names and writes them.
    const auto mapCell = [](std::string key, int c, int r, std::string (*text)(std::int32_t)) {
        return ImageField{
            std::move(key), true, [c, r, text](const EcuImage& i) { return text(i.map[c][r]); },
            [c, r](const EcuImage& from, EcuImage& to) { to.map[c][r] = from.map[c][r]; }};
    };
    const auto wholeText = [](std::int32_t v) { return std::to_string(v); };
    for (int c = 1; c <= kMapCols; ++c)
        f.push_back(mapCell("Cols_" + std::to_string(c), c, 0, wholeText));
    for (int r = 1; r <= kMapRows; ++r)
        f.push_back(mapCell("Rows_" + std::to_string(r), 0, r, TenthsToText));
    for (int c = 1; c <= kMapCols; ++c) {
        for (int r = 1; r <= kMapRows; ++r)
            f.push_back(mapCell(MapCellKey(c, r), c, r, FactorText));
    }

    // What only the program and its file hold.
    f.push_back(configField("Injector_Type", &C::Injector_Type, false));
    f.push_back(configField("Cylinders", &C::Cylinders, false));
    f.push_back(configField("Inj_Time_Max", &C::Inj_Time_Max, false));
    for (const auto& [key, note] : std::initializer_list<std::pair<const char*, std::string C::*>>{
             {"User_Name", &C::User_Name},
             {"User_Phone", &C::User_Phone},
             {"Date_Mounting", &C::Date_Mounting},
             {"Data_KM", &C::Data_KM},
             {"Car_Jet", &C::Car_Jet},
             {"Car_Comments", &C::Car_Comments}}) {
        f.push_back(configField(key, note, false));
    }
    return f;
}

const std::vector<ImageField>& fields() {
    static const std::vector<ImageField> kFields = buildFields();
    return kFields;
}

} // namespace

FieldChanges ImageChanges(const EcuImage& from, const EcuImage& to, FieldScope scope) {
    FieldChanges changes;
    for (const ImageField& field : fields()) {
        if (scope == FieldScope::OnEcu && !field.onEcu) continue;
        std::string before = field.text(from);
        std::string after = field.text(to);
        if (before != after) changes.push_back({field.key, std::move(before), std::move(after)});
    }
    return changes;
}

void CopyChangedFields(const EcuImage& base, const EcuImage& edited, EcuImage& into) {
    for (const ImageField& field : fields()) {
        if (field.text(base) != field.text(edited)) field.copy(edited, into);
    }
}

} // namespace bifuel
