#pragma once

#include "files/Colors_3D_Unit.h"

#include <array>
#include <cstdint>
#include <string>

namespace bifuel {

class Context;

inline constexpr int kStatusRingSize = 10;
inline constexpr int kStatusRotateMs = 2000;
// The status bit of a live reply by which the ECU reports written data stored.
inline constexpr std::uint8_t kStatusDataSavedBit = 0x10;

// The status line's ring of messages, shown one after another every two seconds.
struct DynamicIND_Class {
    std::array<std::string, kStatusRingSize + 1> Colors; // slots 1..10
    std::array<std::string, kStatusRingSize + 1> Texts;  // slots 1..10
    std::uint8_t Count = 0;
    std::uint8_t Current = 0;
    std::uint8_t Flags = 0xC0; // status bits of the previous live reply
};

// Shows a message at once without keeping it; the next rotation replaces it.
void ShowStatusNow(Context& ctx, Colour colour, const std::string& text);
// Adds a message to the ring (unless empty, already there, or the ring is full) and shows it.
void AddStatus(Context& ctx, Colour colour, const std::string& text);
// Takes the first message with this text out of the ring and shows the next one.
void RemoveStatus(Context& ctx, const std::string& text);
// Timer_DynamicIND: the next message, or the engine work hours when the ring is empty.
void RotateStatus(Context& ctx);
// "Gas : 1.50 hours" and "Petrol : ..." on two lines.
// Shows the work hours again, in the current language, when no status text rotates.
void RefreshStatusLine(Context& ctx);
std::string WorkTimeText(const Context& ctx);

} // namespace bifuel
