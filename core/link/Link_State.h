#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace bifuel {

struct EcuImage;

inline constexpr int kProgramWords = 150;
inline constexpr int kFrameSize = 256;

// The one-shot programs a user action or a unit asks the link for. They are not queued:
// the latest one set before the polling program's yield point wins.
enum class Request : std::uint8_t {
    None = 0,
    Reconnect = 16,
    ModeGas = 17,
    ModePetrol = 18,
    ModeAuto = 19,
    WriteAll = 21,    // name, parameters, diagram and RPM map
    WriteConfig = 22, // parameters
    WriteDiagram = 23,
    WriteMap = 24,
    ClearErrors = 25,
    EraseGasAndWriteDiagram = 26, // the MAP correction's result
    EraseMapGas = 27,
    EraseMapPetrol = 28,
    InnovationalRun = 29,
    InnovationalStop = 30,
};

constexpr bool IsWriteRequest(Request r) {
    return r >= Request::WriteAll && r <= Request::WriteMap;
}

// What the ECU reported in its identification block, and what follows from it.
struct EcuIdentity {
    std::uint8_t N = 0;                // identification block length
    std::uint8_t L1 = 0;               // live-data reply data bytes
    std::uint8_t L2 = 0;               // parameter reply data bytes
    std::uint8_t L3 = 0;               // diagram reply data bytes
    std::uint8_t L4 = 0;               // reported, unused
    std::uint8_t L5 = 32;              // MAP points per list
    std::int32_t Firmware_Version = 0; // version text x 100, 0 when it is not a number
    bool Innovational_Capable = false;
};

// The RPM map as a byte stream on its way to or from the ECU.
struct MapTransfer {
    std::vector<std::uint8_t> Read_Stream; // bytes received so far
    std::size_t Read_Length = 0;           // bytes the ECU announced
    std::uint8_t Read_Cols = 8;
    std::uint8_t Read_Rows = 12;
    std::vector<std::uint8_t> Write_Stream; // the stream being written
    std::size_t Write_Offset = 0;           // bytes already sent
    std::size_t Chunk_Length = 0;           // bytes of the chunk being sent
};

// The process-wide record of the link to the ECU.
struct LinkState {
    bool Main_Shown = false;
    bool Port_Opened = false;
    bool Port_Error = false;
    bool ECU_Connected = false;
    bool Port_Window_Shown = false;
    bool Request_Armed = false;
    bool Write_Running = false;
    bool CFG_Autosave = false;
    Request Pending_Request = Request::None;
    std::uint8_t Write_Kinds = 0; // bit k: a debounced write of kind k (2..4) waits
    bool Autosave_Enabled = true; // a write saves the configuration file (not in the tool)
    bool Settings_File_Written =
        true; // the code that answered goes to the settings file (not in the tool)
    std::uint8_t Mode_Bits = 0;
    std::uint8_t Probe_Code = 0;
    std::uint8_t Probe_Rounds = 0;
    // The code that answered last on this port, probed once before the rotation (0: none),
    // and the code the rotation goes on from after that probe.
    std::uint8_t Remembered_Code = 0;
    std::uint8_t Rotation_From = 0;
    bool Rotation_Resume = false;
    bool Wide_Gas_Mask = false;

    // The loaded request program: words 1..kProgramWords (index 0 is unused).
    std::array<std::int32_t, kProgramWords + 1> Program_Words{};
    std::int32_t Program_Length = 0;
    std::int32_t Program_Counter = 0;
    bool Script_Error_Shown = false;

    std::int32_t Tenths_Counter = 0;
    bool Count_Up = false;

    // Frames.
    std::array<std::uint8_t, kFrameSize> TX_Frame{};
    std::array<std::uint8_t, kFrameSize> Sent_Frame{};
    std::array<std::uint8_t, kFrameSize> RX_Frame{};
    std::uint8_t TX_Length = 0;
    std::uint8_t Data_Length = 0;
    std::uint8_t Reply_Length = 0;
    std::size_t RX_Count = 0;   // bytes of the reply collected so far
    bool RX_Collecting = false; // a reply is being collected
    // A request went out and its reply may come. Bytes that arrive at any other time (in
    // the Reply_Delay window before the next request) answer nothing and are dropped.
    bool Awaiting_Reply = false;
    // The length of the data frame the ECU has just acknowledged the ANNOUNCE of; 0 when
    // no data frame may go out.
    std::uint8_t Announced_Length = 0;

    // How an exchange that must start over is bounded: restarts since the last real
    // progress, and when that progress was.
    std::int32_t Exchange_Restarts = 0;
    bool Restarting = false;           // the exchange went back to an earlier step
    std::int64_t Last_Progress_Us = 0; // scheduler time of the last reply that moved on
    bool Line_Loses_Replies = false;   // the last link loss came from the bound

    // Link quality.
    std::int32_t Link_Quality = 0;
    std::int32_t Link_Step = 0;
    bool Link_Decaying = false; // the first tick after a reply has set the decay pace
    bool Halted = false;        // an ECU we cannot talk to safely: no requests until the next probe
    bool Refusal_Shown = false; // the user was told once that this program cannot work with it

    EcuIdentity Ident;
    MapTransfer Map;
    // The raw value of every parameter the ECU reported, by code: while a field still says
    // what its word says, a write sends the word back as it came.
    std::map<std::uint8_t, std::uint16_t> Raw_Params;
    // What the running write sends: the image checked when it started, so that an edit
    // made while it runs can neither slip out unchecked nor mix into it.
    std::shared_ptr<const EcuImage> Write_Image;
};

// The reply the decoders get: the bytes of the last valid reply (program code, command,
// data, checksum), never the rest of RX_Frame, which still holds older replies.
inline std::span<const std::uint8_t> ReceivedReply(const LinkState& link) {
    return {link.RX_Frame.data(), link.Reply_Length};
}

} // namespace bifuel
