// Configuration files on any bytes: a file the check lets through loads, encodes for the
// ECU and computes its slopes without overflow, and what a save writes loads and saves
// again to the same text.
#include "FuzzCheck.h"

#include "Context.h"
#include "MemoryLine.h"
#include "calibration/Calibr_Unit.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Receiver_Unit.h"
#include "rpm_map/MapRPM_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <fstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace bifuel;
    const std::filesystem::path dir = fuzz::WorkFolder() / "config";
    std::filesystem::create_directories(dir / "Config");
    const std::filesystem::path input = dir / "Config" / "FUZZ.cfg";
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!CheckConfigFile(input).empty()) return 0; // refused: nothing is loaded

    VirtualScheduler clock;
    sim::MemoryLine line(clock);
    Context ctx(clock, line.host(), MakePaths(dir, "bifuel-studio"));
    ctx.settings.CFG_File_Name = "FUZZ";
    ctx.settings.CFG_Full_File_Name = input.string();
    fuzz::Require(LoadConfigFile(ctx), "a file the check lets through loads");
    for (const std::uint8_t code : ParameterWriteList())
        EncodeParameter(ctx, code);
    ComputeSlopes(ctx.diagram);
    EncodeMapStream(ctx);

    const auto saveTo = [&ctx, &dir](const char* name) {
        const std::filesystem::path path = dir / "Config" / name;
        std::filesystem::remove(path);
        ctx.settings.CFG_Full_File_Name = path.string();
        SaveConfigFile(ctx);
        return fuzz::ReadAll(path);
    };
    const std::string once = saveTo("ONCE.cfg");
    ctx.settings.CFG_Full_File_Name = (dir / "Config" / "ONCE.cfg").string();
    fuzz::Require(LoadConfigFile(ctx), "a saved file loads");
    fuzz::Require(saveTo("TWICE.cfg") == once, "a saved file loads and saves to the same text",
                  once);
    return 0;
}
