#pragma once

#include "files/Colors_3D_Unit.h"
#include "link/Port_3D_Unit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bifuel {

class KeyFile;

// Where the link hands over to the other subsystems. Each hook is optional: an empty
// hook means that subsystem does nothing at that point (its defaults are noted below).
struct LinkHooks {
    // Status line.
    std::function<void(Colour, const std::string&)> AddStatus;
    std::function<void(const std::string&)> RemoveStatus;
    std::function<void(Colour, const std::string&)> ShowStatusNow;
    std::function<void()> ClearErrorFlags; // both error bytes, the reported mark, the list

    // Reply decoders; each reads the reply in the link's RX_Frame.
    std::function<void()> DecodeLiveData;
    std::function<void()> DecodeName;
    std::function<void()> DecodeParams;
    std::function<void()> DecodeDiagram;
    std::function<void()> DecodeMapGas;
    std::function<void()> DecodeMapPetrol;
    std::function<void()> DecodeMapStream; // the whole RPM map stream has arrived
    std::function<void()> BuildMap;        // after the map was read: rebuild its grid
    std::function<void()> SetupPageFill;   // the configuration was read: refresh the page
    std::function<void()> AfterDiagramRead;
    std::function<void()> LoadInstallerDetail; // the ECU named its configuration file

    // Encoders for the write frames: (high, low) for one parameter or diagram code.
    std::function<std::array<std::uint8_t, 2>(std::uint8_t code)> EncodeParameter;
    std::function<std::array<std::uint8_t, 2>(std::uint8_t code)> EncodeDiagramItem;
    std::function<void()> ComputeSlopes;
    // The RPM map stream to write (counts, headers, cells). Empty hook: the stream read.
    std::function<std::vector<std::uint8_t>()> EncodeMapStream;

    // Hand-overs after every live reply.
    std::function<void()> DiagramLivePoint;
    std::function<void()> MapLiveCell;
    std::function<void()> ACB_Refresh;
    std::function<void()> Innov_Refresh;

    // Configuration files and the views that show what they change.
    std::function<void()> SaveConfigFile; // after a write to the ECU
    std::function<void(KeyFile&)> SaveMapKeys;
    std::function<void(KeyFile&)> LoadMapKeys;
    std::function<void()> ResetDiagram;
    std::function<void()> ResetMap;
    std::function<void()> DiagramRefresh;
    std::function<void()> UpdateTitle;
    std::function<void()> CloseMenus;

    // Auto-calibration.
    std::function<void()> ACB_Tick; // after every valid reply
    std::function<void()> ACB_Stop;
    std::function<void()> ACB_On_Write_End;
    std::function<std::string(int n)> ACB_Prompt_Text;
    std::function<std::vector<std::int32_t>()> InnovationalProgram; // pending request 29
    std::function<void(int step)> InnovationalStep;                 // steps 67..79
    std::function<bool(int condition)> InnovationalCondition;       // conditions 204..207
    std::function<std::array<std::uint8_t, 8>()> ACB_Frame_Data;    // WRITE_ACB data bytes

    // Port search. Empty hooks: the open port is kept, no search runs.
    std::function<bool()> OpenConfiguredPort;
    std::function<void()> StartPortSearch;
    std::function<void()> TryNextPort;
    // The manual port dialog's line settings, for the port to run with.
    std::function<void(const PortLineSettings&)> ApplyLineSettings;

    // Main window refreshes run by the deferred-action queue (all but opening the port).
    std::function<void(int action)> RunDeferredAction;

    // The Setup page's values into the configuration, then its debounced write.
    std::function<void()> ReadSetupPage;
};

} // namespace bifuel
