#pragma once

#include "Context.h"
#include "MemoryLine.h"
#include "SimEcu.h"
#include "WireMonitor.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Transmit_Unit.h"
#include "runtime/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace bifuel::test {

using Bytes = std::vector<std::uint8_t>;

// A link on a virtual clock, wired to a simulated ECU through a line paced at 9600 baud.
// The shipped temperature table, for tests whose values pass through it.
inline std::filesystem::path ShippedTable() {
    return BIFUEL_SOURCE_DIR "/data/bifuel-studio.dat";
}

// A file's bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes a file whole, with the folders it needs.
inline void WriteFileBytes(const std::filesystem::path& p, const std::string& bytes) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A fresh working folder for one test, removed with it.
// A port list the test sets.
class FakeLister final : public PortLister {
  public:
    std::vector<std::string> ports;
    std::vector<std::string> listPorts() const override { return ports; }
};

class TempWorkDir {
  public:
    TempWorkDir() {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("bifuel-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(path_);
    }
    ~TempWorkDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

    // The program's paths in this folder, optionally with the shipped temperature table.
    Paths paths(bool shippedTable) const {
        Paths p = MakePaths(path_, "bifuel-studio");
        if (shippedTable) p.Dat_Name = ShippedTable();
        return p;
    }

  private:
    std::filesystem::path path_;
};

// A car that has been set up and named SHOP7: none of these values is a default.
inline sim::EcuState ConfiguredEcu() {
    sim::EcuState s = sim::SimEcu::defaultState();
    s.params[0x55] = 600;
    for (auto& point : s.diagram)
        point.gas = static_cast<std::uint16_t>(point.gas + 300);
    s.rpmMap[60] = 0x6E;
    s.name = {'S', 'H', 'O', 'P', '7', 0xFF, 0xFF, 0xFF};
    return s;
}

class LinkHarness : public ::testing::Test {
  protected:
    explicit LinkHarness(sim::EcuState state = sim::SimEcu::defaultState(),
                         bool shippedTable = false)
        : ecu(clock, line.device(), std::move(state)),
          ctx(clock, monitor, work.paths(shippedTable)) {
        monitor.watch(ctx.events);
        ctx.settings.Search_Port = false;
        ctx.link.Main_Shown = true;
        ctx.settings.Port_Name = "ttyTEST0";
        line.host().setPortName("ttyTEST0");
        statusWatch = ctx.events.status.subscribe([this](const StatusChange& change) {
            static constexpr const char* kMark[] = {"+", "-", "!"};
            statusLog.push_back(kMark[static_cast<int>(change.kind)] + change.text);
        });
    }

    // Opens the port (which starts probing) and runs until the polling program is loaded.
    void connect() {
        line.host().open();
        ASSERT_TRUE(clock.runUntil([this] { return polling(); }, 10000)) << "never connected";
    }

    bool polling() const {
        const auto& p = PollingProgram();
        return ctx.link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx.link.Program_Words.begin() + 1);
    }

    // Requests the PC sent, in order, with the time each left.
    std::vector<sim::WireWrite> requests() const {
        std::vector<sim::WireWrite> out;
        for (const auto& w : line.wireLog()) {
            if (w.fromHost) out.push_back(w);
        }
        return out;
    }
    std::vector<sim::WireWrite> replies() const {
        std::vector<sim::WireWrite> out;
        for (const auto& w : line.wireLog()) {
            if (!w.fromHost) out.push_back(w);
        }
        return out;
    }
    std::vector<std::uint8_t> commandsSent() const {
        std::vector<std::uint8_t> out;
        for (const auto& w : requests())
            out.push_back(w.bytes.at(1));
        return out;
    }

    // Runs until the PC has sent `n` more requests than now.
    bool runRequests(std::size_t n, std::int64_t limitMs = 20000) {
        const std::size_t target = requests().size() + n;
        return clock.runUntil([&] { return requests().size() >= target; }, limitMs);
    }

    static Bytes withChecksum(Bytes frame) {
        frame.push_back(FrameChecksum(frame.data(), frame.size()));
        return frame;
    }

    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    WireMonitor monitor{clock, line.host()}; // the link's port: the line, watched
    sim::SimEcu ecu;
    Context ctx;
    std::vector<std::string> statusLog;
    Subscription statusWatch;
};

} // namespace bifuel::test
