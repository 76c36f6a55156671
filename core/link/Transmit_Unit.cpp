#include "link/Transmit_Unit.h"

#include "Context.h"
#include "autocalibration/AutoCLB_Unit.h"
#include "autocalibration/Veltra_ACB_Innov.h"
#include "calibration/Calibr_Unit.h"
#include "data/Calc_Unit.h"
#include "data/Dynamic_IND_Unit.h"
#include "data/Live_Data.h"
#include "files/SaveLoad_3D_Unit.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Image_Check.h"
#include "link/Instruction_Unit.h"
#include "link/Link_Operations.h"
#include "link/Port_3D_Connect.h"
#include "link/Receiver_Unit.h"
#include "rpm_map/MapRPM_Unit.h"

#include <algorithm>
#include <optional>

namespace bifuel {
namespace {

// A program that runs this many words without arming a request is broken: the run
// stops rather than spin, and the link-loss timer restarts the connection.
constexpr int kMaxWordsPerRun = 1000;

const std::vector<std::int32_t> kConnection{30, 31, 32, 33, 24, 36, 37,  38, 39, 42, 43, 44, 45,
                                            40, 41, 56, 57, 58, 59, 200, -3, 60, 25, 5,  0};
const std::vector<std::int32_t> kPolling{34, 35, 42, 43, 44, 45, 0, 1, 1};
// Live data alone: about three times the frames, but the MAP lists are not read.
const std::vector<std::int32_t> kLivePolling{34, 35, 0, 1, 1};

bool loaded(const LinkState& link, const std::vector<std::int32_t>& words) {
    return link.Program_Length == static_cast<std::int32_t>(words.size()) &&
           std::equal(words.begin(), words.end(), link.Program_Words.begin() + 1);
}

std::int32_t yieldIndex(const std::vector<std::int32_t>& words) {
    return static_cast<std::int32_t>(std::find(words.begin(), words.end(), word::Yield) -
                                     words.begin()) +
           1;
}

std::uint8_t lengthPlusFrame(std::uint8_t dataBytes) {
    return static_cast<std::uint8_t>(dataBytes + 3);
}

// The RPM map stream a write sends.
void prepareMapWrite(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    const std::shared_ptr<const EcuImage>& image = ctx.link.Write_Image;
    map.Write_Stream = image ? EncodeMapStream(image->map, image->mapReadWord, image->mapReadKnown)
                             : EncodeMapStream(ctx);
    map.Write_Offset = 0;
    map.Chunk_Length = 0;
}

// Requests a program sends, for its progress: every step that arms one, and each further
// chunk of an RPM map write (ANNOUNCE and the chunk).
int framesOf(const Context& ctx, std::span<const std::int32_t> words) {
    static constexpr std::int32_t kArming[] = {21, 22, 23, 30, 32, 34, 36, 38, 40, 42, 44, 46,
                                               48, 50, 52, 53, 54, 55, 56, 58, 61, 63, 65};
    int frames = 0;
    bool mapWrite = false;
    for (const std::int32_t w : words) {
        if (std::find(std::begin(kArming), std::end(kArming), w) != std::end(kArming)) ++frames;
        if (w == 63) mapWrite = true;
    }
    if (mapWrite) {
        const std::size_t chunks =
            (ctx.link.Map.Write_Stream.size() + kMapChunkMax - 1) / kMapChunkMax;
        if (chunks > 1) frames += 2 * static_cast<int>(chunks - 1);
    }
    return frames;
}

// Loads the program of a request or program number; false when there is none.
bool loadProgramOf(Context& ctx, const std::vector<std::int32_t>& words, Request request) {
    if (words.empty()) return false;
    LoadProgram(ctx, words);
    if (request == Request::WriteAll || request == Request::WriteMap) prepareMapWrite(ctx);
    return true;
}

std::optional<Request> requestOfProgramNumber(int number) {
    if (number >= 1 && number <= 3) return static_cast<Request>(16 + number);
    if (number >= 4 && number <= 7) return static_cast<Request>(17 + number);
    if (number == 21) return Request::InnovationalRun;
    if (number == 22) return Request::InnovationalStop;
    if (number == kPollingProgram) return Request::None;
    return std::nullopt;
}

void addStatus(Context& ctx, Colour colour, const char* key) {
    AddStatus(ctx, colour, ctx.LangText(key));
}

void removeStatus(Context& ctx, const char* key) {
    RemoveStatus(ctx, ctx.LangText(key));
}

void decodeMapSize(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    const std::uint8_t cols = ctx.link.RX_Frame[2];
    const std::uint8_t rows = ctx.link.RX_Frame[3];
    map.Read_Cols = (cols >= 2 && cols <= 8) ? cols : 8;
    map.Read_Rows = (rows >= 2 && rows <= 12) ? rows : 12;
    map.Read_Length =
        std::size_t{map.Read_Cols} * map.Read_Rows + 2u * map.Read_Cols + map.Read_Rows;
    map.Read_Stream.clear();
}

void armMapChunkRead(Context& ctx) {
    const MapTransfer& map = ctx.link.Map;
    const std::size_t left =
        map.Read_Length > map.Read_Stream.size() ? map.Read_Length - map.Read_Stream.size() : 0;
    const auto n = static_cast<std::uint8_t>(std::min(kMapChunkMax, left));
    ArmShortRequest(ctx, Command::READ_MAP_CHUNK, n, n, lengthPlusFrame(n));
}

void storeMapChunk(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    const std::size_t n = ctx.link.Reply_Length >= 3 ? ctx.link.Reply_Length - 3u : 0;
    const std::size_t room =
        map.Read_Length > map.Read_Stream.size() ? map.Read_Length - map.Read_Stream.size() : 0;
    const auto first = ctx.link.RX_Frame.begin() + 2;
    map.Read_Stream.insert(map.Read_Stream.end(), first,
                           first + static_cast<std::ptrdiff_t>(std::min(n, room)));
}

void setChunkLength(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    const std::size_t left =
        map.Write_Offset < map.Write_Stream.size() ? map.Write_Stream.size() - map.Write_Offset : 0;
    map.Chunk_Length = std::min(kMapChunkMax, left);
    ctx.link.Data_Length = lengthPlusFrame(static_cast<std::uint8_t>(map.Chunk_Length));
}

void endOfWrite(Context& ctx) {
    ctx.link.Write_Running = false;
    ctx.link.Write_Image.reset();
    OperationWriteEnded(ctx);
    ACB_On_Write_End(ctx);
    removeStatus(ctx, "DynamicIND_Transmission");
    ctx.view.TForm_3D_Wait = WaitForm::Corner;
    // The window waits for the report of this write. An ECU that still shows the saved bit
    // of an earlier write in its replies must not hide that report from us.
    ctx.dynamicInd.Flags &= static_cast<std::uint8_t>(~kStatusDataSavedBit);
}

void showCountdown(Context& ctx) {
    // Shown with a point whatever the locale, as every number.
    const std::string seconds = TenthsToText(ctx.link.Tenths_Counter);
    ACB_Show(ctx, ctx.view.ACB_Current_Prompt + " (" + seconds + " " +
                      ctx.LangText("Dim_Sec_Long") + ")");
}

// The request steps, grouped by what they do; each runs step `step` and returns true, or
// returns false when the step is not one of its own.

// Mode switches: gas, petrol, automatic.
bool runModeStep(Context& ctx, std::int32_t step) {
    const LinkState& link = ctx.link;
    switch (step) {
    case 21: {
        const std::uint8_t gas = link.Wide_Gas_Mask ? 0x0C : 0x04;
        ArmShortRequest(ctx, Command::SET_MODE, 0x00, link.Mode_Bits | gas, 3);
        return true;
    }
    case 22:
        ArmShortRequest(ctx, Command::SET_MODE, 0x00, 0x01, 3);
        return true;
    case 23:
        ArmShortRequest(ctx, Command::SET_MODE, 0x00, 0x02, 3);
        return true;
    default:
        return false;
    }
}

// The connection: probe, identification, name, and the status of a complete read.
bool runConnectionStep(Context& ctx, std::int32_t step) {
    LinkState& link = ctx.link;
    switch (step) {
    case 24:
        addStatus(ctx, Colour::Txt_Information, "DynamicIND_Receiv_On");
        return true;
    case 25:
        removeStatus(ctx, "DynamicIND_Receiv_On");
        ShowStatusNow(ctx, Colour::Txt_Complete, ctx.LangText("DynamicIND_Receiv_Off"));
        OperationDataLoaded(ctx);
        return true;
    case 30:
        ProbeStep(ctx);
        return true;
    case 31:
        OnConnected(ctx);
        return true;
    case 32:
        ArmIdentRead(ctx, ReceivedReply(link));
        return true;
    case 33:
        DecodeIdentification(ctx, ReceivedReply(link));
        return true;
    case 36:
        ArmShortRequest(ctx, Command::READ_NAME, 0x08, 0x08, 11);
        return true;
    case 37:
        OnNameReply(ctx, ReceivedReply(link));
        return true;
    default:
        return false;
    }
}

// Reads of the live data, the parameters, the diagram and the MAP lists.
bool runReadStep(Context& ctx, std::int32_t step) {
    LinkState& link = ctx.link;
    const EcuIdentity& id = link.Ident;
    switch (step) {
    case 34:
        ArmRead(ctx, Command::READ_LIVE, lengthPlusFrame(id.L1));
        if (!ctx.config.CFG_Name.empty() && link.CFG_Autosave) {
            link.CFG_Autosave = false;
            if (link.Autosave_Enabled) AutoSaveConfigFile(ctx);
        }
        return true;
    case 35:
        DecodeLiveData(ctx, ReceivedReply(link));
        ctx.events.liveData.notify();
        OperationLiveReply(ctx);
        return true;
    case 38:
        ArmRead(ctx, Command::READ_PARAMS, lengthPlusFrame(id.L2));
        return true;
    case 39:
        DecodeParams(ctx, ReceivedReply(link));
        return true;
    case 40:
        ArmRead(ctx, Command::READ_DIAGRAM, lengthPlusFrame(id.L3));
        return true;
    case 41:
        DecodeDiagram(ctx, ReceivedReply(link));
        return true;
    case 42:
        ArmRead(ctx, Command::READ_MAP_GAS, lengthPlusFrame(id.L5));
        return true;
    case 43:
        DecodeMapGas(ctx, ReceivedReply(link));
        return true;
    case 44:
        ArmRead(ctx, Command::READ_MAP_PETROL, lengthPlusFrame(id.L5));
        return true;
    case 45:
        DecodeMapPetrol(ctx, ReceivedReply(link));
        return true;
    default:
        return false;
    }
}

// Writes of the name, the parameters, the diagram and the auto-calibration; the erase
// and clear requests; the end of a write.
bool runWriteStep(Context& ctx, std::int32_t step) {
    LinkState& link = ctx.link;
    const EcuIdentity& id = link.Ident;
    switch (step) {
    case word::AnnounceStep:
        addStatus(ctx, Colour::Txt_Information, "DynamicIND_Transmission");
        ArmAnnounce(ctx);
        return true;
    case 47:
    case 64:
        link.Data_Length = 11;
        return true;
    case 48:
        ArmWriteName(ctx);
        return true;
    case 49:
        link.Data_Length = static_cast<std::uint8_t>(3 * ParameterWriteList().size() + 3);
        return true;
    case 50:
        ArmWriteList(ctx, Command::WRITE_PARAMS, ParameterWriteList());
        return true;
    case 51:
        link.Data_Length = static_cast<std::uint8_t>(3 * DiagramWriteList().size() + 3);
        return true;
    case 52:
        ComputeSlopes(ctx.diagram);
        ArmWriteList(ctx, Command::WRITE_DIAGRAM, DiagramWriteList());
        return true;
    case 53:
        ArmRead(ctx, Command::ERASE_MAP_GAS, lengthPlusFrame(id.L5));
        return true;
    case 54:
        ArmRead(ctx, Command::ERASE_MAP_PETROL, lengthPlusFrame(id.L5));
        return true;
    case 55:
        ArmRead(ctx, Command::CLEAR_ERRORS, 3);
        return true;
    case 65:
        ArmWriteAcb(ctx);
        return true;
    case 66:
        link.TX_Length = 5;
        return true;
    case 100:
        endOfWrite(ctx);
        return true;
    default:
        return false;
    }
}

// The RPM map's read and write in chunks.
bool runMapStep(Context& ctx, std::int32_t step) {
    switch (step) {
    case word::ReadMapSizeStep:
        ArmRead(ctx, Command::READ_MAP_SIZE, 5);
        return true;
    case 57:
        decodeMapSize(ctx);
        return true;
    case 58:
        armMapChunkRead(ctx);
        return true;
    case 59:
        storeMapChunk(ctx);
        return true;
    case 60:
        BuildMap(ctx);
        return true;
    case word::WriteMapSizeStep:
        ctx.link.Map.Write_Offset = 0;
        ArmShortRequest(ctx, Command::WRITE_MAP_SIZE, kMapWriteCols, kMapWriteRows, 3);
        return true;
    case 62:
        setChunkLength(ctx);
        return true;
    case 63:
        ArmWriteMapChunk(ctx);
        return true;
    default:
        return false;
    }
}

// The auto-calibration's countdown and its instructions.
bool runCalibrationStep(Context& ctx, std::int32_t step) {
    if (step == 98) {
        ctx.timers.Timer_Countner->stop();
        ACB_Show(ctx, ctx.view.ACB_Current_Prompt);
        return true;
    }
    if (step >= 67 && step <= 79) {
        Innov_Instruction(ctx, step);
        return true;
    }
    return false;
}

// Runs request step `step`; false when the step is not defined.
bool runStep(Context& ctx, std::int32_t step) {
    for (const auto run : {runModeStep, runConnectionStep, runReadStep, runWriteStep, runMapStep,
                           runCalibrationStep}) {
        if (run(ctx, step)) return true;
    }
    return false;
}

// Evaluates condition word `condition`; nullopt when it is not defined.
std::optional<bool> evaluateCondition(Context& ctx, std::int32_t condition) {
    const MapTransfer& map = ctx.link.Map;
    switch (condition) {
    case 200:
        if (map.Read_Stream.size() < map.Read_Length) return false;
        DecodeMapStream(ctx);
        return true;
    case 201:
        return map.Write_Offset >= map.Write_Stream.size();
    case 202:
        return !ctx.timers.Timer_Countner->isRunning();
    case 203:
        return !ctx.timers.Timer_Wait->isRunning();
    default:
        if (condition >= 204 && condition <= 207) {
            return Innov_Condition(ctx, condition);
        }
        return std::nullopt;
    }
}

void yieldPoint(Context& ctx) {
    LinkState& link = ctx.link;
    if (link.Write_Running) return;
    const Request request = TakePendingRequest(ctx);
    if (request == Request::None) {
        FollowPollingChoice(ctx);
        return;
    }
    // A write goes out only as the image it was checked as, right here before it starts.
    if (PartsOf(request).any()) {
        auto image = std::make_shared<EcuImage>();
        if (const std::optional<ImageFault> fault = CheckWrite(ctx, request, *image)) {
            const std::string reason = ImageFaultText(*fault, LanguageTexts(ctx));
            AddStatus(ctx, Colour::Txt_Error, reason);
            OperationRefused(ctx, reason);
            FollowPollingChoice(ctx);
            return;
        }
        link.Write_Image = std::move(image);
    }
    if (IsWriteRequest(request)) {
        link.Write_Running = true;
        link.CFG_Autosave = true;
        ctx.view.TForm_3D_Wait = WaitForm::Large;
    }
    if (request == Request::Reconnect) {
        OperationStarted(ctx, request, 0);
        StartConnection(ctx);
        return;
    }
    if (loadProgramOf(ctx, ProgramForRequest(request), request)) {
        link.Program_Counter = 0;
        OperationStarted(
            ctx, request,
            framesOf(ctx, std::span(link.Program_Words).subspan(1, link.Program_Length)));
    }
}

bool inProgram(std::int32_t index) {
    return index >= 1 && index <= kProgramWords;
}

// Reads the word at `index`, or reports a script error for an index outside the table.
std::optional<std::int32_t> wordAt(Context& ctx, std::int32_t index) {
    if (inProgram(index)) return ctx.link.Program_Words[static_cast<std::size_t>(index)];
    ReportScriptError(ctx, index, 0);
    return std::nullopt;
}

// The control words' own steps: each runs the word at p and returns false when an
// operand lies outside the table.

bool runLoop(Context& ctx, std::int32_t p) {
    LinkState& link = ctx.link;
    const auto back = wordAt(ctx, p + 1);
    const auto limit = wordAt(ctx, p + 2);
    const auto count = wordAt(ctx, p + 3);
    if (!back || !limit || !count) return false;
    auto& stored = link.Program_Words[static_cast<std::size_t>(p + 3)];
    if (*count < *limit) {
        stored = *count + 1;
        link.Program_Counter = p - *back;
    } else {
        stored = 0;
        link.Program_Counter = p + 4;
    }
    return true;
}

bool runLoadProgram(Context& ctx, std::int32_t p, std::int32_t op) {
    LinkState& link = ctx.link;
    const auto number = wordAt(ctx, p + 1);
    if (!number) return false;
    const std::optional<Request> request = requestOfProgramNumber(*number);
    const std::vector<std::int32_t> words =
        *number == kPollingProgram ? PollingProgramFor(ctx) : ProgramByNumber(*number);
    if (request && loadProgramOf(ctx, words, *request)) {
        link.Program_Counter = 1;
        // Back to polling: the one-shot program that ran has ended.
        if (*request == Request::None) OperationProgramEnded(ctx);
    } else {
        ReportScriptError(ctx, p, op);
        link.Program_Counter = p + 2;
    }
    return true;
}

bool runPrompt(Context& ctx, std::int32_t p) {
    const auto n = wordAt(ctx, p + 1);
    if (!n) return false;
    const std::string text = ACB_Prompt_Text(ctx, *n);
    ctx.view.ACB_Current_Prompt = text;
    ACB_Show(ctx, text);
    ctx.link.Program_Counter = p + 2;
    return true;
}

bool runWait(Context& ctx, std::int32_t p) {
    const auto ms = wordAt(ctx, p + 1);
    if (!ms) return false;
    ctx.timers.Timer_Wait->setInterval(std::max(*ms, 0));
    ctx.timers.Timer_Wait->start();
    ctx.link.Program_Counter = p + 2;
    return true;
}

void runCountUp(Context& ctx, std::int32_t p) {
    LinkState& link = ctx.link;
    link.Tenths_Counter = 0;
    link.Count_Up = true;
    ctx.timers.Timer_Countner->start();
    link.Program_Counter = p + 1;
}

bool runCountDown(Context& ctx, std::int32_t p) {
    LinkState& link = ctx.link;
    const auto ms = wordAt(ctx, p + 1);
    if (!ms) return false;
    const int interval = std::max(ctx.timers.Timer_Countner->interval(), 1);
    link.Tenths_Counter = *ms / interval;
    ctx.timers.Timer_Countner->start();
    link.Count_Up = false;
    ctx.view.ProgressBar_3D_ACB.max = link.Tenths_Counter;
    ACB_Set_Progress(ctx, 0);
    link.Program_Counter = p + 2;
    return true;
}

// Runs a control word at p; false when its operands lie outside the table.
bool runControl(Context& ctx, std::int32_t p, std::int32_t op) {
    LinkState& link = ctx.link;
    switch (op) {
    case word::Jump: {
        const auto target = wordAt(ctx, p + 1);
        if (!target) return false;
        link.Program_Counter = *target;
        return true;
    }
    case word::JumpRelative: {
        const auto offset = wordAt(ctx, p + 1);
        if (!offset) return false;
        link.Program_Counter = p + *offset;
        return true;
    }
    case word::Loop:
        return runLoop(ctx, p);
    case word::Wait:
        return runWait(ctx, p);
    case word::LoadProgram:
        return runLoadProgram(ctx, p, op);
    case word::Prompt:
        return runPrompt(ctx, p);
    case word::CountUp:
        runCountUp(ctx, p);
        return true;
    case word::CountDown:
        return runCountDown(ctx, p);
    default:
        return true; // 6 moves nothing; the dispatch below reports it
    }
}

} // namespace

const std::vector<std::int32_t>& ConnectionProgram() {
    return kConnection;
}
const std::vector<std::int32_t>& PollingProgram() {
    return kPolling;
}

const std::vector<std::int32_t>& LivePollingProgram() {
    return kLivePolling;
}

const std::vector<std::int32_t>& PollingProgramFor(const Context& ctx) {
    return ctx.settings.Live_Only_Polling && !ctx.config.Save_Map ? kLivePolling : kPolling;
}

void FollowPollingChoice(Context& ctx) {
    LinkState& link = ctx.link;
    const std::vector<std::int32_t>& wanted = PollingProgramFor(ctx);
    const std::vector<std::int32_t>& other = &wanted == &kPolling ? kLivePolling : kPolling;
    if (!loaded(link, other)) return;
    // Both programs begin with the live request and its decoding: up to there the counter
    // means the same in either. At the yield point it moves to the other's yield point.
    // Inside the MAP reads the switch waits for the yield point.
    std::int32_t counter = link.Program_Counter;
    if (counter == yieldIndex(other)) {
        counter = yieldIndex(wanted);
    } else if (counter > 2) {
        return;
    }
    LoadProgram(ctx, wanted);
    link.Program_Counter = counter;
}

std::vector<std::int32_t> ProgramForRequest(Request request) {
    switch (request) {
    case Request::None:
        return {};
    case Request::Reconnect:
        return kConnection;
    case Request::ModeGas:
        return {21, 5, 0};
    case Request::ModePetrol:
        return {22, 5, 0};
    case Request::ModeAuto:
        return {23, 5, 0};
    case Request::WriteAll:
        return {47, 46, 48, 49, 46, 50, 51, 46, 52, 61, 62, 46, 63, 201, -4, 100, 5, 0};
    case Request::WriteConfig:
        return {49, 46, 50, 100, 5, 0};
    case Request::WriteDiagram:
        return {51, 46, 52, 100, 5, 0};
    case Request::WriteMap:
        return {61, 62, 46, 63, 201, -4, 100, 5, 0};
    case Request::ClearErrors:
        return {55, 5, 0};
    case Request::EraseGasAndWriteDiagram:
        return {53, 51, 46, 52, 100, 5, 0};
    case Request::EraseMapGas:
        return {53, 43, 5, 0};
    case Request::EraseMapPetrol:
        return {54, 45, 5, 0};
    case Request::InnovationalRun:
        return InnovationalProgram();
    case Request::InnovationalStop:
        return {98, 22, 79, 5, 0};
    }
    return {};
}

std::vector<std::int32_t> ProgramByNumber(int number) {
    if (number == kPollingProgram) return kPolling;
    const std::optional<Request> request = requestOfProgramNumber(number);
    return request ? ProgramForRequest(*request) : std::vector<std::int32_t>{};
}

void LoadProgram(Context& ctx, std::span<const std::int32_t> words) {
    LinkState& link = ctx.link;
    link.Program_Words.fill(0);
    link.Program_Length = 0;
    for (std::int32_t w : words) {
        if (!AppendProgramWord(ctx, w)) break;
    }
}

bool AppendProgramWord(Context& ctx, std::int32_t w) {
    LinkState& link = ctx.link;
    if (link.Program_Length >= kProgramWords) {
        ReportScriptError(ctx, link.Program_Length + 1, w);
        return false;
    }
    link.Program_Words[static_cast<std::size_t>(++link.Program_Length)] = w;
    return true;
}

void StartConnection(Context& ctx) {
    ctx.link.Halted = false;
    ctx.link.Write_Image.reset();
    ctx.link.Probe_Rounds = 0;
    const Settings_Class& settings = ctx.settings;
    ctx.link.Remembered_Code =
        IsProgramCode(settings.Last_Code) && settings.Last_Code_Port == ctx.port.portName()
            ? settings.Last_Code
            : 0;
    ctx.link.Rotation_Resume = false;
    LoadProgram(ctx, kConnection);
    ctx.link.Program_Counter = 0;
    RunSequencer(ctx);
}

void RunSequencer(Context& ctx, SequencerRun kind) {
    LinkState& link = ctx.link;
    Timer& sending = *ctx.timers.Timer_Sending;
    const bool afterReply = kind == SequencerRun::AfterReply;
    sending.stop();
    if (afterReply) ctx.timers.Timer_Connect->stop();
    for (int run = 0; !sending.isRunning() && !link.Halted; ++run) {
        if (run == kMaxWordsPerRun) {
            ReportScriptError(ctx, link.Program_Counter, 0);
            break;
        }
        link.Program_Counter += 1;
        auto op = wordAt(ctx, link.Program_Counter);
        if (!op) break;
        if (*op >= word::Jump && *op <= word::CountDown) {
            if (!runControl(ctx, link.Program_Counter, *op)) break;
            op = wordAt(ctx, link.Program_Counter);
            if (!op) break;
            if (*op >= word::Jump && *op <= word::CountDown) {
                ReportScriptError(ctx, link.Program_Counter, *op);
                continue;
            }
        }
        const std::int32_t at = link.Program_Counter;
        if (*op == word::Yield) {
            yieldPoint(ctx);
        } else if (*op >= 20 && *op <= 199) {
            if (!runStep(ctx, *op)) ReportScriptError(ctx, at, *op);
        } else if (*op >= 200 && *op <= 254) {
            const auto target = wordAt(ctx, at + 1);
            if (!target) break;
            const std::optional<bool> holds = evaluateCondition(ctx, *op);
            if (!holds) {
                ReportScriptError(ctx, at, *op);
            } else if (*holds) {
                link.Program_Counter = at + 1;
            } else {
                link.Program_Counter = at + *target;
            }
        } else {
            ReportScriptError(ctx, at, *op);
        }
    }
    if (!link.Halted && afterReply) ctx.timers.Timer_Connect->start();
}

void OnCountnerTimer(Context& ctx) {
    LinkState& link = ctx.link;
    ViewProgress& bar = ctx.view.ProgressBar_3D_ACB;
    if (link.Count_Up) {
        link.Tenths_Counter += 1;
    } else if (link.Tenths_Counter - 1 < 0) {
        link.Tenths_Counter = 0;
        ctx.timers.Timer_Countner->stop();
        bar.value = bar.max;
    } else {
        link.Tenths_Counter -= 1;
        bar.value = bar.max - link.Tenths_Counter;
    }
    showCountdown(ctx);
}

void OnWaitTimer(Context& ctx) {
    ctx.timers.Timer_Wait->stop();
}

void ReportScriptError(Context& ctx, std::int32_t counter, std::int32_t w) {
    if (ctx.link.Script_Error_Shown) return;
    ctx.link.Script_Error_Shown = true;
    ShowMessageWindow(ctx, kMessageScriptError,
                      "Error In Script\n\rScript number : " + std::to_string(counter) + "\n" +
                          "\r" + "Script : " + std::to_string(w));
}

} // namespace bifuel
