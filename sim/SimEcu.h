#pragma once

#include "runtime/Scheduler.h"
#include "runtime/SerialPort.h"
#include "runtime/Signal.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace bifuel::sim {

// One diagram point as the ECU holds it: three raw 16-bit words, as they travel.
struct DiagramItem {
    std::uint16_t slope = 0;
    std::uint16_t gas = 0;
    std::uint16_t petrol = 0; // bit 15 marks the idle point
    bool operator==(const DiagramItem&) const = default;
};

// Everything the simulated ECU answers from. Raw values, exactly as they go on the wire.
struct EcuState {
    std::uint8_t programCode = 25;           // 23, 25 or 26: the only code it answers
    std::uint8_t identLength = 42;           // N, reported by the probe and in the block
    std::string model = "KestraLX";          // identification text chars 1..16
    std::string firmwareDate = "2014.03.12"; // chars 17..26
    std::string firmwareVersion = "2.54";    // chars 27..30
    std::uint32_t workGasMinutes = 12345;    // 24 bits
    std::uint32_t workPetrolMinutes = 6789;  // 24 bits
    std::uint8_t liveLength = 0;             // L1; 0 = the size of `live`
    std::uint8_t paramLength = 0;            // L2; 0 = 2 x entries of the read list
    std::uint8_t diagramLength = 54;         // L3
    std::uint8_t reservedLength = 0;         // L4
    std::uint8_t mapPointCount = 32;         // L5

    std::map<std::uint8_t, std::uint16_t> params; // by parameter code
    std::array<DiagramItem, 9> diagram{};
    std::array<std::uint8_t, 8> name{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::uint8_t> mapGas;    // mapPointCount raw bytes
    std::vector<std::uint8_t> mapPetrol; // mapPointCount raw bytes
    std::array<std::uint8_t, 2> rpmMapSize{8, 12};
    // The map stream as the host writes it: column and row counts, two period bytes per
    // column, one byte per row header, factors column by column (126 bytes for 8 x 12).
    // Reads serve it from byte 2 on, since READ_MAP_SIZE already carries the counts.
    std::vector<std::uint8_t> rpmMap;
    // The live-data reply's data bytes (L1 of them). With an engine model attached, the
    // model fills the bytes it drives; the others are served from here.
    std::vector<std::uint8_t> live;
    std::uint8_t lastModeByte = 0;     // d2 of the last SET_MODE
    std::vector<std::uint8_t> lastAcb; // data bytes of the last WRITE_ACB
};

// Scripted faults. "Every k-th" counts replies the ECU would send; 0 = never.
struct Faults {
    int dropEvery = 0;      // send nothing
    int corruptEvery = 0;   // wrong checksum
    int wrongEchoEvery = 0; // command byte of the reply off by one
    bool loopback = false;  // no ECU at all: every byte sent comes straight back
    int splitEvery = 0;     // reply in two halves, splitGapMs apart
    int splitGapMs = 600;
    int surplusEvery = 0; // surplusBytes extra bytes after the reply
    int surplusBytes = 3;
    std::uint32_t seed = 1; // for the contents of surplus bytes
};

enum class Fault { None, Drop, Corrupt, WrongEcho, Split, Surplus };

// The engine behind the ECU. Without one the ECU answers from the fixed bytes of
// EcuState::live; with one, the live reply, the working mode and the error flags are the
// model's (EngineModel).
class LiveModel {
  public:
    virtual ~LiveModel() = default;
    // The data bytes of a live reply as they are now, without the data-saved bit, which
    // the ECU adds itself.
    virtual std::vector<std::uint8_t> liveData() const = 0;
    // d2 of SET_MODE.
    virtual void setMode(std::uint8_t modeByte) = 0;
    virtual void clearErrors() = 0;
    // The data bytes of WRITE_ACB.
    virtual void autoCalibration(const std::uint8_t* data, std::size_t n) = 0;
    // False while the ECU cannot store data ("data cannot be saved now"); a write then
    // waits with its data-saved report until it can.
    virtual bool canSaveNow() const = 0;
};

// A simulated ECU on the device end of a serial line. It frames requests by length (5
// bytes, or the length announced by ANNOUNCE), ignores frames with a wrong checksum or
// another program code, answers every command of the catalogue from its state, applies
// writes and acknowledges them.
class SimEcu {
  public:
    // Enough for the largest map the host can describe; chunks beyond it are acknowledged
    // but not stored, so a runaway writer cannot grow the state without bound.
    static constexpr std::size_t kMaxMapStream = 512;

    SimEcu(Scheduler& scheduler, SerialPort& device, EcuState state = defaultState());
    ~SimEcu();
    SimEcu(const SimEcu&) = delete;
    SimEcu& operator=(const SimEcu&) = delete;

    // A plausible ECU: firmware 2.54, code 25, default diagram, map and parameters.
    static EcuState defaultState();
    // Read-list codes for a firmware version text, in the order the ECU sends them.
    static std::vector<std::uint8_t> readListFor(const std::string& firmwareVersion);

    EcuState& state();
    const EcuState& state() const;
    Faults& faults();

    // The next reply gets this fault, whatever `faults()` says.
    void injectOnce(Fault fault);

    // Time between the last request byte and the first reply byte (default 0).
    void setTurnaroundUs(std::int64_t us);

    // Lets a model answer for the engine; nullptr goes back to the fixed live bytes. The
    // model must outlive the attachment.
    void setModel(LiveModel* model);

    // Called after every write the ECU keeps in its memory (name, parameters, diagram, RPM
    // map size and chunks, MAP erase), before it is acknowledged: a dropped
    // acknowledgement does not undo the write.
    Subscription onStored(std::function<void()> handler);

    // The line cut (true) or restored. While cut the ECU drops what it receives and sends
    // nothing; what it was still sending is lost. Whoever holds the other end of the line
    // hears of it through onLineCut, with the new state.
    void setLineCut(bool cut);
    bool lineCut() const;
    Subscription onLineCut(std::function<void(bool)> handler);

    struct Counters {
        int framesReceived = 0; // well-formed requests, any code
        int badChecksums = 0;   // requests whose checksum was wrong
        int repliesSent = 0;
        std::map<std::uint8_t, int> byCommand; // well-formed requests by command byte
    };
    const Counters& counters() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace bifuel::sim
