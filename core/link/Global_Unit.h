#pragma once

#include <cstdint>
#include <string>

namespace bifuel {

class Context;

inline constexpr std::size_t kDeferredQueueSize = 20;
inline constexpr std::uint8_t kActionOpenPort = 7;

// The main window's queue of numbered actions, each run after its own delay.
void QueueDeferredAction(Context& ctx, std::uint8_t action, int delayMs);
void OnGeneralTimer(Context& ctx);

// Debounced write of the configuration (2), the diagram (3) or the RPM map (4).
void ScheduleWrite(Context& ctx, std::uint8_t kind);
void OnTransmitTimer(Context& ctx);

void OnConnected(Context& ctx);
void OnDisconnected(Context& ctx);
// Timer_Connect: five seconds without a valid reply.
void OnLinkLost(Context& ctx);
// An exchange kept failing past its bound: the link is dropped, and the user told that the
// line loses replies.
void DropLineLosingReplies(Context& ctx);

// Asks for the message window; it opens shortly after, on its own timer. Nothing is
// shown while the main window is not.
void ShowMessageWindow(Context& ctx, int type, std::string text);

// Message types used by the link.
inline constexpr int kMessageTemperatureTable = 12;
inline constexpr int kMessageScriptError = 13;
inline constexpr int kMessageNewerVersion = 15;
// A write cut off by the end of the link, or edits never written: the caller's text, OK.
inline constexpr int kMessageWriteCutOff = 16;
// What became of an auto-calibration's changes on an ECU: the caller's text, OK.
inline constexpr int kMessageCalibrationRestore = 17;

} // namespace bifuel
