#pragma once

#include <cstddef>
#include <cstdint>

// Where the live-data reply keeps each value: data indexes (the reply byte is two further
// on, behind the program code and the command).
namespace bifuel::sim::live {

inline constexpr std::size_t kLength = 37;
inline constexpr std::size_t kPeriod = 0;
inline constexpr std::size_t kReducerTemp = 2;
inline constexpr std::size_t kGasTemp = 4; // its high nibble carries the status bits
inline constexpr std::size_t kStatus = kGasTemp;
inline constexpr std::size_t kLevel = 6;
inline constexpr std::size_t kReducerPress = 8;
inline constexpr std::size_t kManifoldPress = 10;
inline constexpr std::size_t kPetrolTimes = 18;
inline constexpr std::size_t kGasTimes = 26;
inline constexpr std::size_t kErrors1 = 34;
inline constexpr std::size_t kErrors2 = 35;
inline constexpr std::size_t kMode = 36;

inline constexpr std::uint8_t kStatusEngineRunning = 0x80;
inline constexpr std::uint8_t kStatusPressureNormal = 0x40;
// "DynamicIND_Save_Data": raised once after the ECU stored data.
inline constexpr std::uint8_t kStatusDataSaved = 0x10;

} // namespace bifuel::sim::live
