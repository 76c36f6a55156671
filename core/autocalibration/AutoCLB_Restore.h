#pragma once

#include "link/Ecu_Image.h"
#include "link/Link_Operations.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace bifuel {

class Context;

// A run that could not put back what the ECU had (the link went first): the image waits
// for the same ECU to answer again.
struct PendingRestore {
    EcuImage image;
    EcuFingerprint ecu;
    bool result = false;    // the image is the run's result, not what the ECU had
    OperationId write = 0;  // the write that puts it there, once sent
    OperationId petrol = 0; // then all cylinders back to petrol: the run may have left some on gas
    bool otherEcuTold = false; // the user knows this connection is to another ECU
};

// The text the page and the tool show while an ECU holds part of a run's changes, and
// what becomes of them.
std::string PartialCalibrationText(const Context& ctx, bool result);
// That text for the restore that waits now.
std::string PendingRestoreText(const Context& ctx);

// Called by the link: everything has been read after a connection (a pending restore goes
// out now, before the user can act on what was read), and an operation has ended.
void ACB_On_Data_Loaded(Context& ctx);
void ACB_Operation_Ended(Context& ctx, const OperationEnd& end);

// Keeps `image` for `ecu` until that ECU answers again; says so on the status line.
void KeepRestorePending(Context& ctx, const EcuImage& image, const EcuFingerprint& ecu,
                        bool result);

} // namespace bifuel
