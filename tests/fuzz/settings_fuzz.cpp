// Settings files on any bytes: they load without harm, and what a save writes loads and
// saves again to the same text.
#include "FuzzCheck.h"

#include "Context.h"
#include "MemoryLine.h"
#include "files/Settings_3D_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    const std::filesystem::path dir = fuzz::WorkFolder() / "settings";
    std::filesystem::create_directories(dir);
    const std::filesystem::path ini = dir / "bifuel-studio.ini";
    std::ofstream(ini, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host(), MakePaths(dir, "bifuel-studio"));
    const SettingsRecords records{ctx.settings, ctx.colours, ctx.skin, ctx.layout};
    KeyFile file;
    Settings_Load(file, ini, records);

    const std::filesystem::path once = dir / "once.ini";
    std::filesystem::remove(once);
    Settings_Save(file, once, records, false);
    const std::string saved = fuzz::ReadAll(once);
    Settings_Load(file, once, records);
    const std::filesystem::path twice = dir / "twice.ini";
    std::filesystem::remove(twice);
    Settings_Save(file, twice, records, false);
    fuzz::Require(fuzz::ReadAll(twice) == saved, "saved settings load and save to the same text",
                  saved);
    return 0;
}
