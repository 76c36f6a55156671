#pragma once

#include "link/Link_State.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bifuel {

class Context;

// A user action that reaches the ECU: it reports its progress and ends exactly once with
// one of these results. The windows and the command-line tool show the result; nobody
// infers it from what the windows show.
enum class OperationResult : std::uint8_t {
    Done,            // the ECU acknowledged everything (a write: and reported it saved)
    NotAcknowledged, // the ECU kept failing one exchange, so the link was dropped
    NotSaved,        // every frame was acknowledged, but the ECU never reported it saved
    LinkLost,        // the link ended first; a write may be partly on the ECU
    Refused,         // it did not start; the reason says why
    Replaced,        // a later request took its place before it started
};

using OperationId = std::uint32_t;

// How an auto-calibration run ended.
enum class AutoCalibrationResult : std::uint8_t {
    Success, // the new calibration is on the ECU
    Advised, // on the ECU, with a recommendation for the jets
    Stopped, // stopped by the user
    Failed,  // the run could not calibrate; the text says why
};

struct AutoCalibrationEnd {
    AutoCalibrationResult result = AutoCalibrationResult::Success;
    std::string text; // the run's last prompt
    // The ECU holds the result (success) or what it had at the start, confirmed by its
    // acknowledgements and its saved report; when it does not, this says why.
    std::string reason;
    // The link went before the start's calibration could be put back: it is written when
    // the same ECU answers again (`restoreEnded` tells how that went).
    bool restorePending = false;
    bool ecuChanged = false; // the run sent the ECU a write (a stop has something to put back)
};

// Where a run stands, as the user follows it: told whenever the prompt or the bar changes,
// from the start until the run's end is told.
struct AutoCalibrationProgress {
    std::string algorithm;    // fixed at the start
    std::string prompt;       // the line the user reads now
    int percent = 0;          // of the bar's present range, 0..100; it falls when a group repeats
    int group = 0;            // the group being measured, 1..groups; 0 before the first
    int groups = 0;           // groups the run measures (0 for the innovational search)
    bool measuring = false;   // false once the run is stopped or goes into its ending
    bool resultTaken = false; // the run ends with its result on the ECU, even when stopped now
    bool operator==(const AutoCalibrationProgress&) const = default;
};

// What became of a calibration put back after its run had ended.
struct RestoreEnd {
    bool written = false; // the ECU holds what it had before the run
    std::string text;     // what the user is told
};

struct OperationEnd {
    OperationId id = 0;
    Request request = Request::None; // None: the read of everything
    OperationResult result = OperationResult::Done;
    std::string reason; // what the user is told; empty when done
};

struct OperationProgress {
    OperationId id = 0;
    Request request = Request::None;
    int percent = 0; // 0..100, never falling within one operation
};

// The operations in flight. Requests are not queued, so at most one waits and one runs;
// writes whose frames are all acknowledged wait together for the ECU's saved report.
struct OperationSlot {
    OperationId id = 0;
    Request request = Request::None;
    explicit operator bool() const { return id != 0; }
};

struct LinkOperations {
    OperationId Last_Id = 0;
    OperationSlot Pending;
    OperationSlot Running;
    std::vector<OperationSlot> Saving;
    std::int64_t Saving_Since_Us = 0;
    OperationId Reading = 0; // waits for the connection program to have read everything
    int Frames_Total = 0;    // requests the running program sends (its progress)
    int Frames_Done = 0;
    int Last_Percent = -1;
    // Why the ECU was refused at identification; empty when it was not. Until an ECU is
    // accepted, no request of any kind reaches it: every one ends Refused with this reason.
    std::string Refused_Reason;
};

// A write whose frames are all acknowledged gets this long for the ECU's saved report.
inline constexpr int kSavedReportTimeoutMs = 10000;
// An exchange that must start over (a lost acknowledgement of a data frame, a map chunk
// to repeat) gets this many restarts without progress, and this long, before the link
// is dropped as one that loses replies.
inline constexpr int kExchangeRestartsMax = 3;
inline constexpr int kExchangeProgressMs = 5000;

// ---- What the user does ----------------------------------------------------------------

// Asks for a one-shot program: the one place a pending request is set. A request made
// while the ECU is not connected, or after it was refused at identification, is refused;
// a request not yet started that this one replaces ends as Replaced (a debounced write is
// scheduled again, so no edit is lost).
OperationId SetPendingRequest(Context& ctx, Request request);
// The ECU was refused at identification: nothing but probes and identification reads go
// to it until an ECU is accepted.
bool EcuRefused(const Context& ctx);

// The mode button: petrol -> automatic, automatic -> gas on all cylinders, gas -> petrol.
// Returns 0 when there is no live mode yet to switch from.
OperationId HudButton_Work_ModeClick(Context& ctx);
// Keys G and P.
OperationId SwitchToGas(Context& ctx);
OperationId SwitchToPetrol(Context& ctx);
OperationId SwitchToAutomatic(Context& ctx);

OperationId ClearErrors(Context& ctx);
// The whole set-up: name, parameters, diagram and RPM map.
OperationId WriteEverything(Context& ctx);
// Everything from the ECU again: the next complete read of the connection program (at
// once when connected, else when the ECU answers).
OperationId ReadEverything(Context& ctx);

// A text for the request, for the user ("the diagram write").
std::string OperationName(const Context& ctx, Request request);

// ---- What the link tells the tracker -----------------------------------------------------

// The yield point loaded the program of the pending request.
void OperationStarted(Context& ctx, Request request, int framesTotal);
// A reply to a request of the running program was accepted.
void OperationReplyAccepted(Context& ctx);
// A write program passed its end step: its frames are all acknowledged.
void OperationWriteEnded(Context& ctx);
// The running one-shot program went back to polling.
void OperationProgramEnded(Context& ctx);
// After every live reply: the saved report, or its timeout.
void OperationLiveReply(Context& ctx);
// The connection program has read everything ("Data loaded").
void OperationDataLoaded(Context& ctx);
// The link ended: whatever was in flight ends with it, and a write cut off says so.
void OperationsLinkEnded(Context& ctx, OperationResult result, const std::string& cause);
// The pending request was refused where it was to start (its image broke a rule).
void OperationRefused(Context& ctx, const std::string& reason);
// The ECU cannot be worked with (its identification was refused): what waits or runs ends
// Refused, and so does every request from here on until `OperationsEcuAccepted`.
void OperationsRefusedEcu(Context& ctx, const std::string& reason);
void OperationsEcuAccepted(Context& ctx);
// The yield point's pending request, taken: none while the ECU is refused (a request that
// got there all the same ends Refused), so no program that sends can start for it.
Request TakePendingRequest(Context& ctx);

} // namespace bifuel
