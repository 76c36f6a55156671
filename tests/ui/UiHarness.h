#pragma once

#include "../link/LinkHarness.h"

#include "Global_Window.h"
#include "Message_3D_Unit.h"
#include "Port_3D_Unit.h"
#include "Studio_App.h"
#include "Wait_3D_Unit.h"

#include <QApplication>
#include <QDir>
#include <QTest>

#include <fstream>
#include <memory>
#include <string>

namespace bifuel::test {

// The program's windows over a simulated ECU on a 9600-baud line, on a virtual clock: the
// test moves time on and lets Qt paint in between.
class StudioHarness : public ::testing::Test {
  protected:
    explicit StudioHarness(sim::EcuState state = sim::SimEcu::defaultState())
        : ecu(clock, line.device(), std::move(state)) {}

    ~StudioHarness() override {
        if (app) app->onEnd = nullptr;
    }

    // Writes the settings file, creates the windows and shows the main one.
    void start(const std::string& ini = "Port_Name=sim\r\n") {
        std::ofstream(work.path() / "bifuel-studio.ini", std::ios::binary) << ini;
        app = std::make_unique<ui::StudioApp>(clock, line.host(), work.paths(true));
        app->onEnd = [this] { ended = true; };
        app->Show();
        QCoreApplication::processEvents();
    }

    // Moves the clock on in small steps, painting between them.
    void run(std::int64_t ms) {
        for (std::int64_t t = 0; t < ms; t += kStepMs) {
            clock.advance(kStepMs);
            QCoreApplication::processEvents();
        }
    }

    template <typename Predicate> bool runUntil(Predicate done, std::int64_t limitMs) {
        for (std::int64_t t = 0; t <= limitMs; t += kStepMs) {
            if (done()) return true;
            clock.advance(kStepMs);
            QCoreApplication::processEvents();
        }
        return done();
    }

    bool polling() {
        const auto& p = PollingProgram();
        return ctx().link.ECU_Connected &&
               std::equal(p.begin(), p.end(), ctx().link.Program_Words.begin() + 1);
    }

    void connectToSimulator() {
        start();
        ASSERT_TRUE(runUntil([this] { return polling(); }, 10000)) << "never connected";
        run(500); // a few live replies
    }

    // A picture of a window as the user sees it, for a person to look at.
    static void save(QWidget& w, const QString& name) {
        QDir().mkpath(BIFUEL_SCREENSHOT_DIR);
        const QString path = QStringLiteral(BIFUEL_SCREENSHOT_DIR "/") + name;
        ASSERT_TRUE(w.grab().save(path)) << path.toStdString();
    }

    Context& ctx() { return app->context(); }
    ui::TForm_3D_GEN& main() { return app->main(); }

    static constexpr std::int64_t kStepMs = 5;
    TempWorkDir work;
    VirtualScheduler clock;
    sim::MemoryLine line{clock, sim::MemoryLine::kByteTimeUs9600};
    sim::SimEcu ecu;
    std::unique_ptr<ui::StudioApp> app;
    bool ended = false;
};

} // namespace bifuel::test
