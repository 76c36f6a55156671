#pragma once

#include "SimEcu.h"
#include "SimOptions.h"
#include "runtime/Scheduler.h"

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace bifuel::sim {

// The engine as it is at the last tick, in engineering units.
struct EngineSnapshot {
    static constexpr int kCylinders = 4;

    bool running = false; // turning by itself (the live "engine running" bit)
    int rpm = 0;
    int manifoldHundredths = 0; // absolute manifold pressure, hundredths of a bar
    int reducerHundredths = 0;  // absolute reducer pressure
    int reducerTempTenths = 0;  // tenths of a degree
    int gasTempTenths = 0;
    int levelCode = 0;                      // level sensor, 0..1023
    std::uint8_t mode = 1;                  // 1 petrol, 2 automatic (waiting), 4 gas
    std::uint8_t gasMask = 0x0F;            // bit c = cylinder c + 1 on gas while mode is 4
    std::array<int, kCylinders> petrolUs{}; // petrol time the petrol ECU commands
    std::array<int, kCylinders> gasUs{};    // gas time the ECU injects
    std::array<int, kCylinders> neededUs{}; // petrol time the engine needs (hidden)
    bool pressureNormal = true;
    bool cannotSave = false; // on gas above idle: the ECU stores nothing now
    std::uint8_t errors1 = 0;
    std::uint8_t errors2 = 0;
    double fuel = 0; // tank, 0..1
};

// An engine with its petrol ECU, driving the live data of a simulated gas ECU. It advances
// in ticks of the scheduler, so a run is the same for the same seed and the same requests.
//
// The petrol ECU keeps the mixture right: a cylinder on gas gets the gas time the gas
// ECU's diagram (and RPM map) gives for the petrol time it sees, and the petrol ECU
// lengthens or shortens that petrol time until the gas delivered is what the engine needs
// by the hidden true curve. Cylinders on petrol keep the petrol time the engine needs.
class EngineModel final : public LiveModel {
  public:
    static constexpr int kTickMs = 50;

    // Attaches itself to the ECU, whose state (parameters, diagram, map, MAP lists, work
    // hours) it reads and writes, and starts ticking.
    EngineModel(Scheduler& scheduler, SimEcu& ecu, EngineOptions options = {});
    ~EngineModel() override;
    EngineModel(const EngineModel&) = delete;
    EngineModel& operator=(const EngineModel&) = delete;

    // Scenario changes at run time: the keys of EngineOptions except seed and at. Returns
    // an error text, empty when taken.
    std::string apply(std::string_view key, std::string_view value);
    void setRunning(bool running);
    // The speed the driver goes to and holds; 0 = idle.
    void requestRpm(int rpm);
    void setLoad(double fraction);

    const EngineOptions& options() const { return options_; }
    const EngineSnapshot& snapshot() const { return now_; }

    // The gas time the engine needs for a petrol time, by the hidden true curve.
    double trueGasUs(double petrolUs) const;

    // One tick of kTickMs; the timer calls it.
    void tick();

    // LiveModel
    std::vector<std::uint8_t> liveData() const override;
    void setMode(std::uint8_t modeByte) override;
    void clearErrors() override;
    void autoCalibration(const std::uint8_t* data, std::size_t n) override;
    bool canSaveNow() const override;

  private:
    struct Curve {
        std::array<double, 9> x{};
        std::array<double, 9> y{};
        int n = 0;
        double at(double v) const;      // y at x = v, straight on beyond the ends
        double inverse(double v) const; // x at y = v, for rising curves
    };

    void step(double dtS);
    double stepSpeed(double dtS);
    void stepPressuresAndTemperatures(double dtS);
    void loadDiagram();
    double injectCylinders(double dtS);
    void countWorkingMinutes(double dtS);
    void publishSnapshot(double rpmNoise);
    void applyTimeline();
    void applyChange(std::string_view key);
    void updateMode(double dtS);
    bool warmEnough() const;
    void setModeNow(std::uint8_t mode, std::uint8_t mask);
    double gasTimeFor(double petrolUs, bool acb, bool& capped) const;
    double rpmFactor(double petrolUs) const;
    void recordMapPoint();
    int levelCode() const;
    std::uint16_t param(std::uint8_t code) const;
    bool hasPressureSensors() const;
    double noise(); // -1 .. 1

    Scheduler& scheduler_;
    SimEcu& ecu_;
    EcuState& state_;
    EngineOptions options_;
    std::unique_ptr<Timer> timer_;
    std::mt19937 rng_;
    Curve trueCurve_;
    Curve diagram_;

    std::int64_t elapsedMs_ = 0;
    std::size_t nextChange_ = 0;

    double rpm_ = 0;
    double manifoldBar_ = 1.0;
    double lastManifoldBar_ = 1.0;
    double reducerC_ = 20;
    double gasC_ = 20;
    double diffBar_ = 0;
    double fuel_ = 0;
    std::uint8_t mode_ = 1;
    std::uint8_t mask_ = 0x0F;
    double autoWaitMs_ = -1; // time the switch-over conditions have held; -1: not met
    int ticksInMode_ = 0;
    std::array<double, EngineSnapshot::kCylinders> trim_{};
    std::array<double, EngineSnapshot::kCylinders> spread_{};
    std::uint8_t errors1_ = 0;
    std::uint8_t errors2_ = 0;
    bool wideGas_ = false; // the last switch to gas carried the wide mask
    bool acbOn_ = false;   // an auto-calibration adjustment is running
    double acbShare_ = 0;  // its level: the share of the fuel that gas carries
    double acbGasUs_ = 0;  // its adjustment value: the gas time to inject
    double gasMinuteMs_ = 0;
    double petrolMinuteMs_ = 0;
    std::size_t lastBand_ = 0;
    int stableTicks_ = 0;
    std::vector<double> mapGasUs_;
    std::vector<double> mapPetrolUs_;

    EngineSnapshot now_;
};

} // namespace bifuel::sim
