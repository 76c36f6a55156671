#include "link/Edit_Tracker.h"

#include "Context.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Global_Unit.h"
#include "link/Image_Check.h"
#include "rpm_map/MapRPM_Unit.h"

#include <filesystem>
#include <system_error>

namespace bifuel {
namespace {

// Which parts of the ECU a request writes.
bool writesRecord(Request r) {
    const WriteParts p = PartsOf(r);
    return p.params || p.diagram || p.map;
}

// The image with what never goes to the ECU left out: identification, work counters,
// the configuration name and the installer's notes.
Configuration_Class ecuPart(Configuration_Class c) {
    const Configuration_Class blank;
    c.ECU_Model = blank.ECU_Model;
    c.ECU_Version = blank.ECU_Version;
    c.ECU_Date = blank.ECU_Date;
    c.Work_Gas = blank.Work_Gas;
    c.Work_Petrol = blank.Work_Petrol;
    c.CFG_Name = blank.CFG_Name;
    c.Car_Jet = blank.Car_Jet;
    c.Date_Mounting = blank.Date_Mounting;
    c.Data_KM = blank.Data_KM;
    c.User_Name = blank.User_Name;
    c.User_Phone = blank.User_Phone;
    c.Car_Comments = blank.Car_Comments;
    return c;
}

bool sameOnEcu(const EcuImage& a, const EcuImage& b) {
    return ecuPart(a.config) == ecuPart(b.config) && a.rawParams == b.rawParams &&
           a.petrol == b.petrol && a.gas == b.gas && a.idlePoint == b.idlePoint && a.map == b.map;
}

// The record as it stands; the map page's texts are what a write and a save send.
EcuImage recordImage(Context& ctx) {
    TextsToValues(ctx);
    return TakeImage(ctx);
}

// The keys a save would write, less the work counters (they go on counting) and the MAP
// points (the ECU collects them while the car is driven: they are no edit).
FileKeys renderFile(Context& ctx) {
    KeyFile file;
    file.OpenFromText("");
    const bool endOnMax = ctx.diagram.End_On_Petrol_Max; // a save sets it; a look must not
    PutConfigKeys(ctx, file);
    ctx.diagram.End_On_Petrol_Max = endOnMax;
    FileKeys keys;
    for (std::size_t i = 0; i < file.Key_List.size() && i < file.Value_List.size(); ++i) {
        const std::string& key = file.Key_List[i];
        if (key == "Work_Gas" || key == "Work_Petrol" || key.starts_with("MAP_Gas_") ||
            key.starts_with("MAP_Petrol_")) {
            continue;
        }
        keys.emplace_back(key, file.Value_List[i]);
    }
    return keys;
}

bool acbOwnsEcu(const Context& ctx) {
    return (ctx.acb.In_Run && ctx.acb.Frozen) || ctx.acb.Pending_Restore.has_value();
}

bool fileExists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// Everything a look at another record's file content may change, put back afterwards.
struct RecordCopy {
    explicit RecordCopy(Context& c)
        : ctx(c), config(c.config), rawParams(c.link.Raw_Params), diagram(c.diagram),
          mapPoints(c.mapPoints), rpmMap(c.rpmMap), mapView(c.mapView),
          path(c.settings.CFG_Full_File_Name) {}
    ~RecordCopy() {
        ctx.config = config;
        ctx.link.Raw_Params = rawParams; // a file's temperature word is part of what it loads
        ctx.diagram = diagram;
        ctx.mapPoints = mapPoints;
        ctx.rpmMap = rpmMap;
        ctx.mapView = mapView;
        ctx.settings.CFG_Full_File_Name = path;
    }
    RecordCopy(const RecordCopy&) = delete;
    RecordCopy& operator=(const RecordCopy&) = delete;

    Context& ctx;
    const Configuration_Class config;
    const std::map<std::uint8_t, std::uint16_t> rawParams;
    const DiagramModel diagram;
    const MapPoints mapPoints;
    const RpmMap rpmMap;
    const MapView mapView;
    const std::string path;
};

// The car's file, as the record would hold it loaded over what it holds now.
void readFileBaseline(Context& ctx) {
    const RecordCopy keep(ctx);
    LoadConfigFile(ctx, MissingKeys::Keep); // notes what the file holds
}

std::string configPath(const Context& ctx, const std::string& name) {
    return (ctx.paths.Config_Dir / (name + ".cfg")).string();
}

KeptEditsChoice refused(KeptEditsResult result, std::string reason) {
    return {result, 0, std::move(reason)};
}

// What the kept edits make of the set-up: applied onto the record as read when that was
// read from the ECU they were made for, else the set-up as they were made.
EcuImage keptOutcome(Context& ctx) {
    const EditTracker& t = ctx.edits;
    const KeptEdits& kept = *t.Kept;
    if (t.Reading || !kept.ecu || !t.Ecu_Id || *kept.ecu != *t.Ecu_Id) return kept.edited;
    EcuImage image = recordImage(ctx);
    CopyChangedFields(kept.base, kept.edited, image);
    return image;
}

// An edited configuration name names the car's file too, as a save under it would.
void followName(Context& ctx, const std::string& name) {
    Settings_Class& s = ctx.settings;
    s.CFG_File_Name = name;
    s.CFG_Full_File_Name = name.empty() ? std::string() : configPath(ctx, name);
}

} // namespace

void EditsStart(Context& ctx) {
    EditTracker& t = ctx.edits;
    t = EditTracker{};
    t.Ecu_Known = recordImage(ctx);
    t.File_Keys = renderFile(ctx);
}

void EditsChanged(Context& ctx) {
    EditTracker& t = ctx.edits;
    // The read replaces the record value by value: until it is done, the marks stay.
    if (t.Reading) return;
    // Back to the defaults without a file (a reset): only edits from here on count.
    if (ctx.settings.CFG_Full_File_Name.empty() && !t.File_Path.empty()) {
        t.File_Path.clear();
        t.File_Keys = renderFile(ctx);
    }
    const bool notOnEcu =
        t.Kept.has_value() || !t.Ecu_Known || !sameOnEcu(recordImage(ctx), *t.Ecu_Known);
    const bool notInFile = renderFile(ctx) != t.File_Keys;
    if (notOnEcu == t.Not_On_Ecu && notInFile == t.Not_In_File) return;
    t.Not_On_Ecu = notOnEcu;
    t.Not_In_File = notInFile;
    ctx.events.titleChanged.notify();
}

void EditsOperationStarted(Context& ctx) {
    const OperationSlot& running = ctx.ops.Running;
    if (!running || !writesRecord(running.request)) return;
    ctx.edits.Writes[running.id] = {running.request, recordImage(ctx)};
}

void EditsOperationEnded(Context& ctx, const OperationEnd& end) {
    EditTracker& t = ctx.edits;
    const auto it = t.Writes.find(end.id);
    if (it == t.Writes.end()) return;
    const auto [request, written] = std::move(it->second);
    t.Writes.erase(it);
    // Only a write the ECU confirmed moves what it is known to hold; anything else may
    // have left any part of it there, so the edits still count as not on the ECU.
    if (end.result == OperationResult::Done && t.Ecu_Known) {
        EcuImage& known = *t.Ecu_Known;
        const WriteParts parts = PartsOf(request);
        if (parts.params) {
            known.config = written.config;
            known.rawParams = written.rawParams;
        }
        if (parts.diagram) {
            known.petrol = written.petrol;
            known.gas = written.gas;
            known.idlePoint = written.idlePoint;
        }
        if (parts.map) known.map = written.map;
        if (parts.name && t.Ecu_Id) t.Ecu_Id->name = written.config.CFG_Name;
    }
    EditsChanged(ctx);
}

void EditsConnected(Context& ctx) {
    EditTracker& t = ctx.edits;
    // An auto-calibration's own restore decides what this ECU gets.
    if (!t.Reading && !acbOwnsEcu(ctx)) {
        EditsChanged(ctx);
        const EcuImage record = recordImage(ctx);
        const EcuImage known = t.Ecu_Known.value_or(EcuImage{});
        if (!sameOnEcu(record, known)) {
            if (t.Kept) {
                // Edits made since the last offer join those still kept, over their start.
                CopyChangedFields(known, record, t.Kept->edited);
            } else {
                t.Kept = KeptEdits{known, record, t.Ecu_Id};
            }
            // They are aside now: the waiting write would send the ECU's own values back.
            ctx.timers.Timer_GEN_Transmit->stop();
            ctx.link.Write_Kinds = 0;
        }
    }
    t.Reading = true;
}

void EditsLinkEnded(Context& ctx) {
    // A read cut off leaves the record part old, part read. Edits made from here on must
    // still count, so the marks follow the record again.
    ctx.edits.Reading = false;
    EditsChanged(ctx);
}

void EditsDataLoaded(Context& ctx) {
    EditTracker& t = ctx.edits;
    t.Reading = false;
    t.Ecu_Known = recordImage(ctx);
    t.Ecu_Id = FingerprintOf(ctx);
    t.Writes.clear();
    // Without a file the values just read are the start: only edits from here on count.
    const std::string& path = ctx.settings.CFG_Full_File_Name;
    if (!fileExists(path)) {
        t.File_Path = path;
        t.File_Keys = renderFile(ctx);
    } else if (path != t.File_Path) {
        readFileBaseline(ctx);
    }
    if (t.Kept) {
        t.Kept->ecuChanges = ImageChanges(t.Kept->base, *t.Ecu_Known, FieldScope::OnEcu);
        t.Kept->ecuChangesShown = t.Kept->ecuChanges.empty();
    }
    EditsChanged(ctx);
    if (t.Kept && !acbOwnsEcu(ctx)) ctx.events.editsKept.notify();
}

void EditsFileSaved(Context& ctx) {
    EditTracker& t = ctx.edits;
    t.File_Path = ctx.settings.CFG_Full_File_Name;
    t.File_Keys = renderFile(ctx);
    EditsChanged(ctx);
}

void EditsFileLoaded(Context& ctx) {
    EditTracker& t = ctx.edits;
    t.File_Path = ctx.settings.CFG_Full_File_Name;
    t.File_Keys = renderFile(ctx);
    // With no ECU read yet, a loaded file is where the program starts from, not an edit.
    if (!t.Ecu_Id && !t.Reading) t.Ecu_Known = recordImage(ctx);
    EditsChanged(ctx);
}

void EditsFileDropped(Context& ctx) {
    // Only edits from here on count against the file; the ECU keeps what it held until
    // the defaults are written to it.
    EditTracker& t = ctx.edits;
    t.File_Path.clear();
    t.File_Keys = renderFile(ctx);
    EditsChanged(ctx);
}

bool KeptEditsFitEcu(const Context& ctx) {
    const EditTracker& t = ctx.edits;
    return t.Kept && t.Kept->ecu && ctx.link.ECU_Connected && !t.Reading &&
           *t.Kept->ecu == FingerprintOf(ctx);
}

FieldChanges KeptEditsChanges(const Context& ctx) {
    const EditTracker& t = ctx.edits;
    return t.Kept ? ImageChanges(t.Kept->base, t.Kept->edited) : FieldChanges{};
}

FieldChanges KeptEditsEcuChanges(const Context& ctx) {
    const EditTracker& t = ctx.edits;
    return t.Kept ? t.Kept->ecuChanges : FieldChanges{};
}

void KeptEditsEcuChangesShown(Context& ctx) {
    if (ctx.edits.Kept) ctx.edits.Kept->ecuChangesShown = true;
}

KeptEditsChoice KeptEditsWrite(Context& ctx) {
    EditTracker& t = ctx.edits;
    if (!t.Kept) return refused(KeptEditsResult::NoEdits, {});
    if (EcuRefused(ctx)) return refused(KeptEditsResult::Refused, ctx.ops.Refused_Reason);
    if (!ctx.link.ECU_Connected || t.Reading) {
        return refused(KeptEditsResult::NotConnected, ctx.LangText("Operation_Not_Connected"));
    }
    if (acbOwnsEcu(ctx) || ctx.acb.In_Run) {
        return refused(KeptEditsResult::Busy, ctx.LangText("Edits_Kept_Busy"));
    }
    if (!KeptEditsFitEcu(ctx))
        return refused(KeptEditsResult::OtherEcu, ctx.LangText("Edits_Kept_Other_Ecu"));
    if (!t.Kept->ecuChangesShown)
        return refused(KeptEditsResult::EcuChanged, ctx.LangText("Edits_Kept_Look_First"));
    // Only the edited fields change: everything else, and what describes this ECU, stays
    // as it was read.
    const EcuImage image = keptOutcome(ctx);
    t.Kept.reset();
    if (image.config.CFG_Name != ctx.config.CFG_Name) followName(ctx, image.config.CFG_Name);
    PutImage(ctx, image);
    const OperationId write = WriteEverything(ctx);
    EditsChanged(ctx);
    return {KeptEditsResult::Started, write, {}};
}

KeptEditsChoice KeptEditsSave(Context& ctx, const std::string& name) {
    EditTracker& t = ctx.edits;
    if (!t.Kept) return refused(KeptEditsResult::NoEdits, {});
    if (!IsValidConfigName(name))
        return refused(KeptEditsResult::BadName, ctx.LangText("Edits_Bad_Name"));
    const std::string path = configPath(ctx, name);
    const std::string filePath = t.File_Path;
    const FileKeys fileKeys = t.File_Keys;
    WriteResult saved;
    {
        // The file gets the kept edits through the program's own save; the record goes
        // back to the ECU's values at once.
        const EcuImage image = keptOutcome(ctx);
        const RecordCopy keep(ctx);
        ctx.config = image.config;
        ctx.diagram.Petrol_Point = image.petrol;
        ctx.diagram.Gas_Point = image.gas;
        ctx.diagram.Idle_Point = image.idlePoint;
        ctx.rpmMap.Map_Value = image.map;
        ValuesToTexts(ctx);
        ctx.settings.CFG_Full_File_Name = path;
        saved = SaveConfigFile(ctx);
    }
    // The car's own file is compared with what it now holds; another file changes nothing.
    if (path != filePath || !saved.ok) {
        t.File_Path = filePath;
        t.File_Keys = fileKeys;
    }
    if (!saved.ok) {
        EditsChanged(ctx);
        return refused(KeptEditsResult::NotWritten, saved.message);
    }
    t.Kept.reset();
    EditsChanged(ctx);
    return {KeptEditsResult::Saved, 0, {}};
}

KeptEditsChoice KeptEditsDrop(Context& ctx) {
    EditTracker& t = ctx.edits;
    if (!t.Kept) return refused(KeptEditsResult::NoEdits, {});
    t.Kept.reset();
    EditsChanged(ctx);
    return {KeptEditsResult::Dropped, 0, {}};
}

CloseNeed PrepareClose(Context& ctx) {
    LinkOperations& ops = ctx.ops;
    // A debounced write still waiting goes out now instead of after its delay.
    if (ctx.link.ECU_Connected && ctx.link.Write_Kinds != 0 &&
        ctx.timers.Timer_GEN_Transmit->isRunning()) {
        OnTransmitTimer(ctx);
    }
    for (const OperationSlot& slot : {ops.Pending, ops.Running}) {
        if (slot && writesRecord(slot.request)) return {CloseStep::WaitForWrite, slot.id};
    }
    if (!ops.Saving.empty()) return {CloseStep::WaitForWrite, ops.Saving.back().id};
    EditsChanged(ctx);
    const EditTracker& t = ctx.edits;
    if (t.Kept) return {CloseStep::AskKept, 0};
    if (t.Not_On_Ecu && t.Not_In_File) return {CloseStep::AskSave, 0};
    return {CloseStep::Close, 0};
}

KeptEditsChoice SaveEditsAs(Context& ctx, const std::string& name) {
    if (!IsValidConfigName(name))
        return refused(KeptEditsResult::BadName, ctx.LangText("Edits_Bad_Name"));
    Settings_Class& s = ctx.settings;
    const std::string oldName = ctx.config.CFG_Name;
    const std::string oldFile = s.CFG_File_Name;
    const std::string oldPath = s.CFG_Full_File_Name;
    ctx.config.CFG_Name = name;
    s.CFG_File_Name = name;
    s.CFG_Full_File_Name = configPath(ctx, name);
    const WriteResult saved = SaveConfigFile(ctx);
    if (!saved.ok) {
        ctx.config.CFG_Name = oldName;
        s.CFG_File_Name = oldFile;
        s.CFG_Full_File_Name = oldPath;
        return refused(KeptEditsResult::NotWritten, saved.message);
    }
    ctx.events.titleChanged.notify();
    return {KeptEditsResult::Saved, 0, {}};
}

std::string EditMarks(const Context& ctx) {
    std::string marks;
    if (ctx.edits.Not_On_Ecu) marks += ctx.LangText("Edits_Mark_ECU") + " ";
    if (ctx.edits.Not_In_File) marks += ctx.LangText("Edits_Mark_File") + " ";
    return marks;
}

} // namespace bifuel
