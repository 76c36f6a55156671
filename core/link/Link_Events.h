#pragma once

#include "runtime/Signal.h"

#include <cstdint>
#include <span>

namespace bifuel {

// What the link tells whoever watches it from outside the core (the windows, the
// command-line tool, tests). Subscribers keep the Subscription for as long as they watch.
struct LinkEvents {
    // A request frame went out on the port, exactly as written.
    Signal<std::span<const std::uint8_t>> frameSent;
    // A reply passed the frame checks and is about to be decoded, exactly as received.
    Signal<std::span<const std::uint8_t>> replyAccepted;
    // The ECU answered a probe: the connection program reads it now.
    Signal<> connected;
    // The link to the ECU ended (silence, port error, port closed).
    Signal<> disconnected;
};

} // namespace bifuel
