// Key-value file benchmarks: parsing a configuration-sized file and looking keys up in it.
#include "files/FindUnit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

namespace bifuel {
namespace {

// About what a full configuration file holds: setup keys, diagram and MAP points, the
// RPM map, installer notes, plus a section line and a hand-written comment.
std::string configurationText(int lines) {
    std::string text = "[Config]\r\n{ written on the workshop PC }\r\n";
    const char* prefixes[] = {"Gas_Point_",  "Petrol_Point_", "MAP_Gas_",
                              "MAP_Petrol_", "MapRPM_Value_", "Color_3D_MapRPM_Cell_"};
    for (int i = 2; i < lines; ++i) {
        std::string key = prefixes[i % 6] + std::to_string(i);
        key.resize(std::max<std::size_t>(key.size(), 29), ' ');
        const std::string value = i % 6 == 5 ? "#FF20A0C0" : std::to_string(i * 37 % 25000);
        text += key + value + (i % 10 == 0 ? " {note}" : " {}") + "\r\n";
    }
    return text;
}

void BM_ParseConfigFile400Lines(benchmark::State& state) {
    const std::string text = configurationText(400);
    KeyFile file;
    for (auto _ : state) {
        file.OpenFromText(text);
        bool found = file.GetKeyInt("gas_point_6");
        found &= file.GetKeyInt("MAP_PETROL_201");
        found &= file.FindKey("Color_3D_MapRPM_Cell_395");
        found &= !file.FindKey("Car_Comments");
        benchmark::DoNotOptimize(found);
        file.CloseKeyFile();
        if (!found) state.SkipWithError("lookups went wrong");
    }
}
BENCHMARK(BM_ParseConfigFile400Lines)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace bifuel

BENCHMARK_MAIN();
