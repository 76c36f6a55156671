#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bifuel {

class Context;

inline constexpr int kReadGapMs = 500; // a reply ends when no byte comes for this long
inline constexpr int kReplyTimeoutMs = kReadGapMs + 50;

// Adds the checksum to TX_Frame and sends it Reply_Delay from now. Arming again before
// then replaces the frame; only the last one goes out.
void ArmRequest(Context& ctx);
// Timer_Sending: sends the armed frame, or repeats the last one after a reply timeout.
void SendArmed(Context& ctx);
// The port has bytes: collect them into RX_Frame until the reply is complete.
void OnBytesArrived(Context& ctx);
// 500 ms without a byte: the reply ends short.
void OnReplyGap(Context& ctx);
// Whether an exchange being started over has gone too long without progress.
bool progressOverdue(const Context& ctx);
// Checks a reply of `count` bytes; a valid one runs the sequencer.
bool CheckReply(Context& ctx, std::size_t count);

// Link quality label.
void OnConnectStabilTimer(Context& ctx);
std::string LinkQualityColour(const Context& ctx, std::int32_t quality);

// Port events and failures.
void OnPortOpened(Context& ctx);
void OnPortClosed(Context& ctx);
void OnPortFailed(Context& ctx);
void HandlePortError(Context& ctx);
// Opens the port; false (and a port error) when it could not be opened, with the port and
// the system's reason on the status line and in the port view.
bool OpenPort(Context& ctx);
// Whether the configured port is among the ports the system lists.
bool ConfiguredPortListed(const Context& ctx);

} // namespace bifuel
