#pragma once

// What the program holds that the ECU or the configuration file does not hold yet, so
// that the title can say so, a reconnection does not silently read over it, and closing
// the program does not lose it.

#include "autocalibration/AutoCLB_Restore.h"
#include "link/Image_Fields.h"
#include "link/Link_Operations.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace bifuel {

class Context;

// Edits a reconnection found not on the ECU, kept aside before the read replaced them.
// They are the fields in which `edited` differs from `base`: what the user changed, from
// what the ECU was known to hold to what they chose. Nothing else of `edited` is theirs.
struct KeptEdits {
    EcuImage base;                     // what the ECU was known to hold when they were made
    EcuImage edited;                   // the record with them, notes and configuration name too
    std::optional<EcuFingerprint> ecu; // the ECU they were made for; none: no ECU was known
    // After the reconnection's read: where the ECU's own memory differs from `base` (another
    // car of the same model and name, a change made with another tool). A write waits until
    // the offer has shown it.
    FieldChanges ecuChanges;
    bool ecuChangesShown = true;
};

// One key of the configuration file, as a save writes it.
using FileKeys = std::vector<std::pair<std::string, std::string>>;

struct EditTracker {
    // What the ECU was last known to hold; before any ECU is read, the record as the
    // program started it (defaults, then the last file).
    std::optional<EcuImage> Ecu_Known;
    std::optional<EcuFingerprint> Ecu_Id; // the ECU read last; none before the first read
    std::map<OperationId, std::pair<Request, EcuImage>> Writes; // writes in flight, as they started
    bool Reading = false; // a connection is reading the ECU over the record

    std::string File_Path; // the configuration file the record is compared with; empty: none
    FileKeys File_Keys;    // what that file holds, as last saved or loaded

    std::optional<KeptEdits> Kept;

    // Kept up to date on every event that changes the record: the title reads them.
    bool Not_On_Ecu = false;
    bool Not_In_File = false;
};

// ---- What the program tells the tracker ----------------------------------------------------

void EditsStart(Context& ctx);   // the record holds its defaults
void EditsChanged(Context& ctx); // the record may have changed: the marks again
void EditsOperationStarted(Context& ctx);
void EditsOperationEnded(Context& ctx, const OperationEnd& end);
void EditsConnected(Context& ctx);   // the ECU answered: the read of everything follows
void EditsLinkEnded(Context& ctx);   // the link went, perhaps in the middle of that read
void EditsDataLoaded(Context& ctx);  // everything is read
void EditsFileSaved(Context& ctx);   // the record was saved to its file
void EditsFileLoaded(Context& ctx);  // the record was loaded from its file
void EditsFileDropped(Context& ctx); // back to the defaults without a file

// ---- The choice offered after a reconnection --------------------------------------------------

enum class KeptEditsResult : std::uint8_t {
    Started, // the write of everything goes out; its own end says how it went
    Saved,   // the file holds them
    Dropped,
    NoEdits,    // nothing is kept aside
    OtherEcu,   // the ECU connected now is not the one they were made for
    EcuChanged, // the ECU's memory changed meanwhile, and the offer has not shown how
    Refused,    // the ECU was refused at identification; the reason says why
    NotConnected,
    Busy,       // an auto-calibration run or its restore owns the ECU now
    BadName,    // the name cannot be a configuration file
    NotWritten, // the file could not be written; the reason says why
};

struct KeptEditsChoice {
    KeptEditsResult result = KeptEditsResult::NoEdits;
    OperationId write = 0; // Started: the write operation
    std::string reason;    // what the user is told when it did not happen
};

// Whether the kept edits may go to the ECU connected now.
bool KeptEditsFitEcu(const Context& ctx);
// The kept edits, field by field; empty when nothing is kept.
FieldChanges KeptEditsChanges(const Context& ctx);
// What the ECU changed meanwhile (after the reconnection's read); empty when nothing.
FieldChanges KeptEditsEcuChanges(const Context& ctx);
// The offer has shown what the ECU changed meanwhile: the edits may be written over it.
void KeptEditsEcuChangesShown(Context& ctx);
// Applies the edited fields onto the record as read from the ECU (every other field stays
// as the ECU holds it) and writes everything. Ends the offer once started.
KeptEditsChoice KeptEditsWrite(Context& ctx);
// Writes them to Config_Dir/<name>.cfg: applied onto the record as read when it was read
// from the ECU they were made for (what a write would leave there), else the set-up as
// they were made. The record keeps the ECU's values.
KeptEditsChoice KeptEditsSave(Context& ctx, const std::string& name);
KeptEditsChoice KeptEditsDrop(Context& ctx);

// ---- Closing the program ---------------------------------------------------------------------

enum class CloseStep : std::uint8_t {
    Close,        // nothing would be lost
    WaitForWrite, // a write goes out first; ask again when that operation ends
    AskKept,      // edits kept aside from a reconnection: offer them first
    AskSave,      // edits neither on the ECU nor in a file: save, close without, or cancel
};

struct CloseNeed {
    CloseStep step = CloseStep::Close;
    OperationId write = 0;
};

// What closing needs now. A debounced write still waiting is started at once.
CloseNeed PrepareClose(Context& ctx);
// Saves the record as Config_Dir/<name>.cfg, which becomes its configuration file.
KeptEditsChoice SaveEditsAs(Context& ctx, const std::string& name);

// The title's marks in the language chosen; empty when there is nothing to mark.
std::string EditMarks(const Context& ctx);

} // namespace bifuel
