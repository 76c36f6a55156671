#include "link/Transmit_Unit.h"

#include "Context.h"
#include "data/Calc_Unit.h"
#include "link/Check_Versions.h"
#include "link/Global_Unit.h"
#include "link/Instruction_Unit.h"
#include "link/Port_3D_Connect.h"

#include <algorithm>
#include <optional>

namespace bifuel {
namespace {

// A program that runs this many words without arming a request is broken: the run
// stops rather than spin, and the link-loss timer restarts the connection.
constexpr int kMaxWordsPerRun = 1000;

const std::vector<std::int32_t> kConnection{30, 31, 32, 33, 24, 36, 37, 38, 39, 42, 43, 44, 45,
                                            40, 41, 56, 57, 58, 59, 200, -3, 60, 25, 5, 0};
const std::vector<std::int32_t> kPolling{34, 35, 42, 43, 44, 45, 0, 1, 1};

std::uint8_t lengthPlusFrame(std::uint8_t dataBytes) {
    return static_cast<std::uint8_t>(dataBytes + 3);
}

// The RPM map stream a write sends: the map unit's, or else the one last read, behind
// its two dimension bytes.
void prepareMapWrite(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    if (ctx.hooks.EncodeMapStream) {
        map.Write_Stream = ctx.hooks.EncodeMapStream();
    } else {
        map.Write_Stream.assign({map.Read_Cols, map.Read_Rows});
        map.Write_Stream.insert(map.Write_Stream.end(), map.Read_Stream.begin(),
                                map.Read_Stream.end());
    }
    map.Write_Offset = 0;
    map.Chunk_Length = 0;
}

// Loads the program of a request or program number; false when there is none.
bool loadProgramOf(Context& ctx, const std::vector<std::int32_t>& words, int request) {
    if (words.empty()) return false;
    LoadProgram(ctx, words);
    if (request == 21 || request == 24) prepareMapWrite(ctx);
    return true;
}

int requestOfProgramNumber(int number) {
    if (number >= 1 && number <= 3) return 16 + number;
    if (number >= 4 && number <= 7) return 17 + number;
    if (number == 21) return 29;
    if (number == 22) return 30;
    return number == kPollingProgram ? 0 : -1;
}

void addStatus(Context& ctx, Colour colour, const char* key) {
    if (ctx.hooks.AddStatus) ctx.hooks.AddStatus(colour, ctx.LangText(key));
}

void removeStatus(Context& ctx, const char* key) {
    if (ctx.hooks.RemoveStatus) ctx.hooks.RemoveStatus(ctx.LangText(key));
}

void decodeMapSize(Context& ctx) {
    MapTransfer& map = ctx.link.Map;
    const std::uint8_t cols = ctx.link.RX_Frame[2];
    const std::uint8_t rows = ctx.link.RX_Frame[3];
    map.Read_Cols = (cols >= 2 && cols <= 8) ? cols : 8;
    map.Read_Rows = (rows >= 2 && rows <= 12) ? rows : 12;
    map.Read_Length = std::size_t{map.Read_Cols} * map.Read_Rows + 2u * map.Read_Cols + map.Read_Rows;
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
    if (ctx.hooks.ACB_On_Write_End) ctx.hooks.ACB_On_Write_End();
    removeStatus(ctx, "DynamicIND_Transmission");
    ctx.view.TForm_3D_Wait = WaitForm::Corner;
    // The window waits for the report of this write. An ECU that still shows the saved bit
    // of an earlier write in its replies must not hide that report from us.
    ctx.dynamicInd.Flags &= static_cast<std::uint8_t>(~kStatusDataSavedBit);
}

void showCountdown(Context& ctx) {
    // Shown with a point whatever the locale, as every number.
    const std::string seconds = TenthsToText(ctx.link.Tenths_Counter);
    ctx.view.HudLabel_3D_ACB_Prompt.text = ctx.view.ACB_Current_Prompt + " (" + seconds + " " +
                                           ctx.LangText("Dim_Sec_Long") + ")";
}

// Runs request step `step`; false when the step is not defined.
bool runStep(Context& ctx, std::int32_t step) {
    LinkState& link = ctx.link;
    const EcuIdentity& id = link.Ident;
    switch (step) {
    case 21: {
        const std::uint8_t gas = link.Wide_Gas_Mask ? 0x0C : 0x04;
        ArmShortRequest(ctx, Command::SET_MODE, 0x00, link.Mode_Bits | gas, 3);
        return true;
    }
    case 22: ArmShortRequest(ctx, Command::SET_MODE, 0x00, 0x01, 3); return true;
    case 23: ArmShortRequest(ctx, Command::SET_MODE, 0x00, 0x02, 3); return true;
    case 24: addStatus(ctx, Colour::Txt_Information, "DynamicIND_Receiv_On"); return true;
    case 25:
        removeStatus(ctx, "DynamicIND_Receiv_On");
        if (ctx.hooks.ShowStatusNow) {
            ctx.hooks.ShowStatusNow(Colour::Txt_Complete, ctx.LangText("DynamicIND_Receiv_Off"));
        }
        return true;
    case 30: ProbeStep(ctx); return true;
    case 31: OnConnected(ctx); return true;
    case 32: ArmIdentRead(ctx, ReceivedReply(link)); return true;
    case 33: DecodeIdentification(ctx, ReceivedReply(link)); return true;
    case 34:
        ArmRead(ctx, Command::READ_LIVE, lengthPlusFrame(id.L1));
        if (!ctx.config.CFG_Name.empty() && link.CFG_Autosave) {
            link.CFG_Autosave = false;
            if (ctx.hooks.SaveConfigFile) ctx.hooks.SaveConfigFile();
        }
        return true;
    case 35: if (ctx.hooks.DecodeLiveData) ctx.hooks.DecodeLiveData(); return true;
    case 36: ArmShortRequest(ctx, Command::READ_NAME, 0x08, 0x08, 11); return true;
    case 37: if (ctx.hooks.DecodeName) ctx.hooks.DecodeName(); return true;
    case 38: ArmRead(ctx, Command::READ_PARAMS, lengthPlusFrame(id.L2)); return true;
    case 39: if (ctx.hooks.DecodeParams) ctx.hooks.DecodeParams(); return true;
    case 40: ArmRead(ctx, Command::READ_DIAGRAM, lengthPlusFrame(id.L3)); return true;
    case 41: if (ctx.hooks.DecodeDiagram) ctx.hooks.DecodeDiagram(); return true;
    case 42: ArmRead(ctx, Command::READ_MAP_GAS, lengthPlusFrame(id.L5)); return true;
    case 43: if (ctx.hooks.DecodeMapGas) ctx.hooks.DecodeMapGas(); return true;
    case 44: ArmRead(ctx, Command::READ_MAP_PETROL, lengthPlusFrame(id.L5)); return true;
    case 45: if (ctx.hooks.DecodeMapPetrol) ctx.hooks.DecodeMapPetrol(); return true;
    case word::AnnounceStep:
        addStatus(ctx, Colour::Txt_Information, "DynamicIND_Transmission");
        ArmAnnounce(ctx);
        return true;
    case 47:
    case 64: link.Data_Length = 11; return true;
    case 48: ArmWriteName(ctx); return true;
    case 49:
        link.Data_Length = static_cast<std::uint8_t>(3 * ParameterWriteList().size() + 3);
        return true;
    case 50: ArmWriteList(ctx, Command::WRITE_PARAMS, ParameterWriteList()); return true;
    case 51:
        link.Data_Length = static_cast<std::uint8_t>(3 * DiagramWriteList().size() + 3);
        return true;
    case 52:
        if (ctx.hooks.ComputeSlopes) ctx.hooks.ComputeSlopes();
        ArmWriteList(ctx, Command::WRITE_DIAGRAM, DiagramWriteList());
        return true;
    case 53: ArmRead(ctx, Command::ERASE_MAP_GAS, lengthPlusFrame(id.L5)); return true;
    case 54: ArmRead(ctx, Command::ERASE_MAP_PETROL, lengthPlusFrame(id.L5)); return true;
    case 55: ArmRead(ctx, Command::CLEAR_ERRORS, 3); return true;
    case word::ReadMapSizeStep: ArmRead(ctx, Command::READ_MAP_SIZE, 5); return true;
    case 57: decodeMapSize(ctx); return true;
    case 58: armMapChunkRead(ctx); return true;
    case 59: storeMapChunk(ctx); return true;
    case 60: if (ctx.hooks.BuildMap) ctx.hooks.BuildMap(); return true;
    case word::WriteMapSizeStep:
        link.Map.Write_Offset = 0;
        ArmShortRequest(ctx, Command::WRITE_MAP_SIZE, kMapWriteCols, kMapWriteRows, 3);
        return true;
    case 62: setChunkLength(ctx); return true;
    case 63: ArmWriteMapChunk(ctx); return true;
    case 65: ArmWriteAcb(ctx); return true;
    case 66: link.TX_Length = 5; return true;
    case 98:
        ctx.timers.Timer_Countner->stop();
        ctx.view.HudLabel_3D_ACB_Prompt.text = ctx.view.ACB_Current_Prompt;
        return true;
    case 100: endOfWrite(ctx); return true;
    default:
        if (step >= 67 && step <= 79) {
            if (ctx.hooks.InnovationalStep) ctx.hooks.InnovationalStep(step);
            return true;
        }
        return false;
    }
}

// Evaluates condition word `condition`; nullopt when it is not defined.
std::optional<bool> evaluateCondition(Context& ctx, std::int32_t condition) {
    const MapTransfer& map = ctx.link.Map;
    switch (condition) {
    case 200:
        if (map.Read_Stream.size() < map.Read_Length) return false;
        if (ctx.hooks.DecodeMapStream) ctx.hooks.DecodeMapStream();
        return true;
    case 201: return map.Write_Offset >= map.Write_Stream.size();
    case 202: return !ctx.timers.Timer_Countner->isRunning();
    case 203: return !ctx.timers.Timer_Wait->isRunning();
    default:
        if (condition >= 204 && condition <= 207) {
            return ctx.hooks.InnovationalCondition && ctx.hooks.InnovationalCondition(condition);
        }
        return std::nullopt;
    }
}

void yieldPoint(Context& ctx) {
    LinkState& link = ctx.link;
    if (link.Write_Running) return;
    const int request = link.Pending_Request;
    if (request >= 21 && request <= 24) {
        link.Write_Running = true;
        link.CFG_Autosave = true;
        ctx.view.TForm_3D_Wait = WaitForm::Large;
    }
    link.Pending_Request = 0;
    if (request == 16) {
        StartConnection(ctx);
        return;
    }
    if (request != 0 && loadProgramOf(ctx, ProgramForRequest(ctx, request), request)) {
        link.Program_Counter = 0;
    }
}

bool inProgram(std::int32_t index) { return index >= 1 && index <= kProgramWords; }

// Reads the word at `index`, or reports a script error for an index outside the table.
std::optional<std::int32_t> wordAt(Context& ctx, std::int32_t index) {
    if (inProgram(index)) return ctx.link.Program_Words[static_cast<std::size_t>(index)];
    ReportScriptError(ctx, index, 0);
    return std::nullopt;
}

// Runs a control word at p; false when its operands lie outside the table.
bool runControl(Context& ctx, std::int32_t p, std::int32_t op) {
    LinkState& link = ctx.link;
    auto operand = [&](int k) { return wordAt(ctx, p + k); };
    switch (op) {
    case word::Jump: {
        const auto target = operand(1);
        if (!target) return false;
        link.Program_Counter = *target;
        return true;
    }
    case word::JumpRelative: {
        const auto offset = operand(1);
        if (!offset) return false;
        link.Program_Counter = p + *offset;
        return true;
    }
    case word::Loop: {
        const auto back = operand(1);
        const auto limit = operand(2);
        const auto count = operand(3);
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
    case word::Wait: {
        const auto ms = operand(1);
        if (!ms) return false;
        ctx.timers.Timer_Wait->setInterval(std::max(*ms, 0));
        ctx.timers.Timer_Wait->start();
        link.Program_Counter = p + 2;
        return true;
    }
    case word::LoadProgram: {
        const auto number = operand(1);
        if (!number) return false;
        if (loadProgramOf(ctx, ProgramByNumber(ctx, *number), requestOfProgramNumber(*number))) {
            link.Program_Counter = 1;
        } else {
            ReportScriptError(ctx, p, op);
            link.Program_Counter = p + 2;
        }
        return true;
    }
    case word::Prompt: {
        const auto n = operand(1);
        if (!n) return false;
        const std::string text = ctx.hooks.ACB_Prompt_Text ? ctx.hooks.ACB_Prompt_Text(*n) : "";
        ctx.view.ACB_Current_Prompt = text;
        ctx.view.HudLabel_3D_ACB_Prompt.text = text;
        link.Program_Counter = p + 2;
        return true;
    }
    case word::CountUp:
        link.Tenths_Counter = 0;
        link.Count_Up = true;
        ctx.timers.Timer_Countner->start();
        link.Program_Counter = p + 1;
        return true;
    case word::CountDown: {
        const auto ms = operand(1);
        if (!ms) return false;
        const int interval = std::max(ctx.timers.Timer_Countner->interval(), 1);
        link.Tenths_Counter = *ms / interval;
        ctx.timers.Timer_Countner->start();
        link.Count_Up = false;
        ctx.view.ProgressBar_3D_ACB.max = link.Tenths_Counter;
        ctx.view.ProgressBar_3D_ACB.value = 0;
        link.Program_Counter = p + 2;
        return true;
    }
    default: return true; // 6 moves nothing; the dispatch below reports it
    }
}

} // namespace

const std::vector<std::int32_t>& ConnectionProgram() { return kConnection; }
const std::vector<std::int32_t>& PollingProgram() { return kPolling; }

std::vector<std::int32_t> ProgramForRequest(const Context& ctx, int request) {
    switch (request) {
    case 16: return kConnection;
    case 17: return {21, 5, 0};
    case 18: return {22, 5, 0};
    case 19: return {23, 5, 0};
    case 21: return {47, 46, 48, 49, 46, 50, 51, 46, 52, 61, 62, 46, 63, 201, -4, 100, 5, 0};
    case 22: return {49, 46, 50, 100, 5, 0};
    case 23: return {51, 46, 52, 100, 5, 0};
    case 24: return {61, 62, 46, 63, 201, -4, 100, 5, 0};
    case 25: return {55, 5, 0};
    case 26: return {53, 51, 46, 52, 100, 5, 0};
    case 27: return {53, 43, 5, 0};
    case 28: return {54, 45, 5, 0};
    case 29:
        return ctx.hooks.InnovationalProgram ? ctx.hooks.InnovationalProgram()
                                             : std::vector<std::int32_t>{};
    case 30: return {98, 22, 79, 5, 0};
    default: return {};
    }
}

std::vector<std::int32_t> ProgramByNumber(const Context& ctx, int number) {
    if (number == kPollingProgram) return kPolling;
    const int request = requestOfProgramNumber(number);
    return request > 0 ? ProgramForRequest(ctx, request) : std::vector<std::int32_t>{};
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
    ctx.link.Probe_Rounds = 0;
    LoadProgram(ctx, kConnection);
    ctx.link.Program_Counter = 0;
    RunSequencer(ctx);
}

void RunSequencer(Context& ctx) {
    LinkState& link = ctx.link;
    Timer& sending = *ctx.timers.Timer_Sending;
    sending.stop();
    ctx.timers.Timer_Connect->stop();
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
    if (!link.Halted) ctx.timers.Timer_Connect->start();
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

void OnWaitTimer(Context& ctx) { ctx.timers.Timer_Wait->stop(); }

void ReportScriptError(Context& ctx, std::int32_t counter, std::int32_t w) {
    if (ctx.link.Script_Error_Shown) return;
    ctx.link.Script_Error_Shown = true;
    ShowMessageWindow(ctx, kMessageScriptError,
                      "Error In Script\n\rScript number : " + std::to_string(counter) + "\n" +
                          "\r" + "Script : " + std::to_string(w));
}

} // namespace bifuel
