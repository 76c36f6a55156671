#pragma once

#include "files/Colors_3D_Unit.h"
#include "link/Link_Operations.h"
#include "link/Link_View.h"
#include "link/Port_3D_Unit.h"
#include "runtime/Signal.h"

#include <cstdint>
#include <span>
#include <string>

namespace bifuel {

// A change of the status line, as the link and the decoders make it.
struct StatusChange {
    enum class Kind : std::uint8_t { Added, Removed, ShownNow } kind = Kind::Added;
    Colour colour = Colour::General;
    const std::string& text;
};

// What the core tells whoever watches it from outside (the windows, the command-line
// tool, tests). Subscribers keep the Subscription for as long as they watch; nobody
// replaces or chains another unit's callbacks.
struct LinkEvents {
    // A request frame went out on the port, exactly as written.
    Signal<std::span<const std::uint8_t>> frameSent;
    // A reply passed the frame checks and is about to be decoded, exactly as received.
    Signal<std::span<const std::uint8_t>> replyAccepted;
    // The ECU answered a probe: the connection program reads it now.
    Signal<> connected;
    // The link to the ECU ended (silence, port error, port closed).
    Signal<> disconnected;
    // The connection program has read the whole ECU ("Data loaded").
    Signal<> dataLoaded;
    // A live reply was decoded into the live values.
    Signal<> liveData;
    // A request or one of the operations that end with a result.
    Signal<const OperationProgress&> operationProgress;
    Signal<const OperationEnd&> operationEnded;
    // An auto-calibration run moved on (its prompt or its bar), and how it ended: once.
    Signal<const AutoCalibrationProgress&> autoCalibrationProgress;
    Signal<const AutoCalibrationEnd&> autoCalibrationEnded;
    // A calibration kept for an ECU that went away was written back, or could not be.
    Signal<const RestoreEnd&> restoreEnded;
    // A reconnection read over edits the ECU never got: they are kept aside, offered now.
    Signal<> editsKept;
    // The status line and the message window.
    Signal<const StatusChange&> status;
    Signal<const MessageRequest&> message;

    // What only the desktop program draws: the title, the menus, its numbered layout
    // actions, the Setup page, and the line settings of the manual port dialog.
    Signal<> titleChanged;
    Signal<> menusClose;
    Signal<int> deferredAction;
    Signal<> setupPageFilled; // the Setup page's view state was filled from the record
    Signal<> saveLoadShown;   // the File menu opened the Save/Load window's view state
    Signal<const PortLineSettings&> lineSettings;
};

} // namespace bifuel
