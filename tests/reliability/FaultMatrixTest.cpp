// The fault matrix: every fault a device, a cable or a disk can produce, at every step an
// operator can take, through the real main window against the simulated instrument. Each cell
// checks the boxes the operator sees (text, icon, caption, order), the window's final state, how
// long the operator would have waited on the link (sleeps and transfer time-outs counted, never
// waited for), and that no sample accepted before the fault is lost from the sample list, the
// Received box or the CSV file.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/common/FileSizeLimit.h"

#include "link/Instrument.h"
#include "tests/reliability/FaultyLink.h"
#include "tests/run/RunFixture.h"

namespace {

enum class Step { Connect, Refresh, Save, Compare, Calibrate, Get, Log, Run };
enum class Fault {
    DeviceAbsent,
    OpenFails,
    WriteFails,
    ReadFails,
    ReadTimesOut,
    Silence,              // the instrument sends nothing: every read ends at the 30 s time-out
    EndlessEmptyPackets,  // the instrument answers every read with an empty packet
    ReplyWithoutCr,
    Ng,
    No,
    CablePulled,
    DiskFull,
};

const char* NameOf(Step step) {
    constexpr const char* kNames[] = {"Connect",   "Refresh", "Save", "Compare",
                                      "Calibrate", "Get",     "Log",  "Run"};
    return kNames[static_cast<int>(step)];
}

const char* NameOf(Fault fault) {
    constexpr const char* kNames[] = {
        "DeviceAbsent", "OpenFails", "WriteFails",          "ReadFails",
        "ReadTimesOut", "Silence",   "EndlessEmptyPackets", "ReplyWithoutCr",
        "Ng",           "No",        "CablePulled",         "DiskFull"};
    return kNames[static_cast<int>(fault)];
}

// How a box is shown: the window's helpers (caption "QIRO-7") or the framework's message
// function (caption = the application's name).
enum class Shown { Question, Error, Info, FrameworkError };

struct ExpectedBox {
    int stringId;
    Shown shown;
};

ExpectedBox Q(int id) {
    return {id, Shown::Question};
}
ExpectedBox E(int id) {
    return {id, Shown::Error};
}
ExpectedBox I(int id) {
    return {id, Shown::Info};
}
ExpectedBox FE(int id) {
    return {id, Shown::FrameworkError};
}

struct Cell {
    Fault fault;
    Step step;
    std::vector<ExpectedBox> boxes;
    UiState finalState = UiState::Disconnected;
    // The most the operator may wait on the link, by the specified time-outs.
    std::int64_t maxWaitMs = 0;
    // Run: samples 1..n accepted before the fault, and how many of them the CSV file holds.
    int samples = 0;
    int csvLines = 0;
    // Why the cell cannot happen, when it cannot.
    const char* notApplicable = nullptr;
};

std::ostream& operator<<(std::ostream& out, const Cell& cell) {
    return out << NameOf(cell.step) << " x " << NameOf(cell.fault);
}

// Waits by the specified time-outs: one reply read running into the idle limit (501 sleeps of
// 10 ms), one transfer ending at the 30 s pipe time-out, and a patient read's own limit.
constexpr std::int64_t kIdle = (CInstrument::kIdleLimit + 1) * FaultyLink::kSleepMs;
constexpr std::int64_t kTimeOut = FaultyLink::kTransferTimeoutMs;
constexpr std::int64_t kPatient = (CInstrument::kPatientIdleLimit + 1) * FaultyLink::kSleepMs;

constexpr UiState kConnected = UiState::Connected;
constexpr UiState kDisconnected = UiState::Disconnected;

// The firmware answers "NO" only to "STP" and in the stream; no disk is written outside a run.
constexpr const char* kNoOnlyForStop = "the instrument answers NO only to STP and in the stream";
constexpr const char* kNoFileWritten = "only a run writes its CSV file while the disk fills";

Cell NotApplicable(Fault fault, Step step, const char* reason) {
    Cell cell{fault, step, {}};
    cell.notApplicable = reason;
    return cell;
}

Cell RunCell(Fault fault, std::vector<ExpectedBox> boxes, UiState state, std::int64_t wait,
             int samples, int csvLines) {
    Cell cell{fault, Step::Run, std::move(boxes), state, wait};
    cell.samples = samples;
    cell.csvLines = csvLines;
    return cell;
}

using F = Fault;
using S = Step;

// Connect and Refresh: the instrument not found gives 136, any later failure 140, both end
// Disconnected; "NO" to the first STP is a normal answer. Save: a write that cannot open the
// link gives 136, any other failed write 146. The comparison before a run: not found gives 136
// and then 140, any other failure 140. Calibrate: 136 when the link cannot be opened, else the
// error code is read and 140 shown; the instrument's refusal ("NG") is its own light warning
// and ends Connected. Get and Log: 140. A run: a failed start is the worker's box and then 150;
// a failed stream 150; "NG"/"NO" read the error code (5: range over, Connected; 3: failed).
const std::vector<Cell> kCells = {
    {F::DeviceAbsent, S::Connect, {E(136)}, kDisconnected, 0},
    {F::OpenFails, S::Connect, {E(136)}, kDisconnected, 0},
    {F::WriteFails, S::Connect, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Connect, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Connect, {E(140)}, kDisconnected, kTimeOut},
    {F::Silence, S::Connect, {E(140)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Connect, {E(140)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Connect, {E(140)}, kDisconnected, kIdle},
    {F::Ng, S::Connect, {E(140)}, kDisconnected, 0},
    {F::No, S::Connect, {I(155)}, kConnected, 0},
    {F::CablePulled, S::Connect, {E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Connect, kNoFileWritten),

    {F::DeviceAbsent, S::Refresh, {E(136)}, kDisconnected, 0},
    {F::OpenFails, S::Refresh, {E(136)}, kDisconnected, 0},
    {F::WriteFails, S::Refresh, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Refresh, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Refresh, {E(140)}, kDisconnected, kTimeOut},
    {F::Silence, S::Refresh, {E(140)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Refresh, {E(140)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Refresh, {E(140)}, kDisconnected, kIdle},
    {F::Ng, S::Refresh, {E(140)}, kDisconnected, 0},
    {F::No, S::Refresh, {}, kConnected, 0},
    {F::CablePulled, S::Refresh, {E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Refresh, kNoFileWritten),

    {F::DeviceAbsent, S::Save, {Q(145), E(136)}, kDisconnected, 0},
    {F::OpenFails, S::Save, {Q(145), E(136)}, kDisconnected, 0},
    {F::WriteFails, S::Save, {Q(145), E(146)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Save, {Q(145), E(146)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Save, {Q(145), E(146)}, kDisconnected, kTimeOut},
    {F::Silence, S::Save, {Q(145), E(146)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Save, {Q(145), E(146)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Save, {Q(145), E(146)}, kDisconnected, kIdle},
    {F::Ng, S::Save, {Q(145), E(146)}, kDisconnected, 0},
    {F::No, S::Save, {Q(145), I(141)}, kConnected, 0},
    {F::CablePulled, S::Save, {Q(145), E(146)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Save, kNoFileWritten),

    {F::DeviceAbsent, S::Compare, {E(136), E(140)}, kDisconnected, 0},
    {F::OpenFails, S::Compare, {E(136), E(140)}, kDisconnected, 0},
    {F::WriteFails, S::Compare, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Compare, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Compare, {E(140)}, kDisconnected, kTimeOut},
    {F::Silence, S::Compare, {E(140)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Compare, {E(140)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Compare, {E(140)}, kDisconnected, kIdle},
    {F::Ng, S::Compare, {E(140)}, kDisconnected, 0},
    NotApplicable(F::No, S::Compare, kNoOnlyForStop),
    {F::CablePulled, S::Compare, {E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Compare, kNoFileWritten),

    {F::DeviceAbsent, S::Calibrate, {Q(139), E(136)}, kDisconnected, 0},
    {F::OpenFails, S::Calibrate, {Q(139), E(136)}, kDisconnected, 0},
    {F::WriteFails, S::Calibrate, {Q(139), E(140)}, kDisconnected, 2 * kTimeOut},
    {F::ReadFails, S::Calibrate, {Q(139), E(140)}, kDisconnected, 2 * kTimeOut},
    {F::ReadTimesOut, S::Calibrate, {Q(139), E(140)}, kDisconnected, kTimeOut + kIdle},
    {F::Silence, S::Calibrate, {Q(139), E(140)}, kDisconnected, 2 * kTimeOut},
    {F::EndlessEmptyPackets, S::Calibrate, {Q(139), E(140)}, kDisconnected, kPatient + kIdle},
    {F::ReplyWithoutCr, S::Calibrate, {Q(139), E(140)}, kDisconnected, kPatient + kIdle},
    {F::Ng, S::Calibrate, {Q(139), FE(138)}, kConnected, 0},
    NotApplicable(F::No, S::Calibrate, kNoOnlyForStop),
    {F::CablePulled, S::Calibrate, {Q(139), E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Calibrate, kNoFileWritten),

    {F::DeviceAbsent, S::Get, {E(140)}, kDisconnected, 0},
    {F::OpenFails, S::Get, {E(140)}, kDisconnected, 0},
    {F::WriteFails, S::Get, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Get, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Get, {E(140)}, kDisconnected, kTimeOut},
    {F::Silence, S::Get, {E(140)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Get, {E(140)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Get, {E(140)}, kDisconnected, kIdle},
    {F::Ng, S::Get, {E(140)}, kDisconnected, 0},
    NotApplicable(F::No, S::Get, kNoOnlyForStop),
    {F::CablePulled, S::Get, {E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Get, kNoFileWritten),

    {F::DeviceAbsent, S::Log, {E(140)}, kDisconnected, 0},
    {F::OpenFails, S::Log, {E(140)}, kDisconnected, 0},
    {F::WriteFails, S::Log, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadFails, S::Log, {E(140)}, kDisconnected, kTimeOut},
    {F::ReadTimesOut, S::Log, {E(140)}, kDisconnected, kTimeOut},
    {F::Silence, S::Log, {E(140)}, kDisconnected, kTimeOut},
    {F::EndlessEmptyPackets, S::Log, {E(140)}, kDisconnected, kIdle},
    {F::ReplyWithoutCr, S::Log, {E(140)}, kDisconnected, kIdle},
    {F::Ng, S::Log, {E(140)}, kDisconnected, 0},
    NotApplicable(F::No, S::Log, kNoOnlyForStop),
    {F::CablePulled, S::Log, {E(140)}, kDisconnected, kTimeOut},
    NotApplicable(F::DiskFull, S::Log, kNoFileWritten),

    // The cable goes, or the device cannot be opened, while the operator confirms the start;
    // the stream's faults come after three samples; a reply without CR is the start's; the
    // write that fails is the stop of a run of five; the disk fills after three CSV lines.
    RunCell(F::DeviceAbsent, {Q(144), FE(136), E(150)}, kDisconnected, 0, 0, 0),
    RunCell(F::OpenFails, {Q(144), FE(136), E(150)}, kDisconnected, 0, 0, 0),
    RunCell(F::WriteFails, {Q(144), E(150)}, kDisconnected, kTimeOut, 5, 5),
    RunCell(F::ReadFails, {Q(144), E(150)}, kDisconnected, kTimeOut + FaultyLink::kSleepMs, 3, 3),
    RunCell(F::ReadTimesOut, {Q(144), E(150)}, kDisconnected, kTimeOut + FaultyLink::kSleepMs, 3,
            3),
    RunCell(F::Silence, {Q(144), E(150)}, kDisconnected, kTimeOut, 3, 3),
    RunCell(F::EndlessEmptyPackets, {Q(144), E(150)}, kDisconnected, kIdle, 3, 3),
    RunCell(F::ReplyWithoutCr, {Q(144), FE(140), E(150)}, kDisconnected, 0, 0, 0),
    RunCell(F::Ng, {Q(144), E(158)}, kConnected, 0, 3, 3),
    RunCell(F::No, {Q(144), E(150)}, kDisconnected, 0, 3, 3),
    RunCell(F::CablePulled, {Q(144), E(150)}, kDisconnected, kTimeOut + FaultyLink::kSleepMs, 3, 3),
    RunCell(F::DiskFull, {Q(144), E(148), I(151)}, kConnected, 0, 5, 3),
};

// The request at which a step's fault strikes: well inside the step, so that earlier requests
// of it have succeeded.
const char* CueOf(Step step) {
    switch (step) {
        case Step::Connect:
            return "SRL";
        case Step::Refresh:
            return "MRR";
        case Step::Save:
            return "FRQW";
        case Step::Compare:
            return "ACR";
        case Step::Calibrate:
            return "CAL";
        case Step::Get:
            return "ERR";
        case Step::Log:
            return "LOG";
        case Step::Run:
            return "CST";
    }
    return "";
}

constexpr int kPreviousSamples = 3;
constexpr int kStreamFaultAfter = 3;
constexpr int kStoppedRunCount = 5;
constexpr int kCsvLineBytes = 16;  // "nE-1,nE+0,nE+1" and CR LF for n below 10

class FaultMatrixTest : public RunWindowTest, public testing::WithParamInterface<Cell> {
protected:
    FaultMatrixTest() {
        InstallUsbDriver(link);
        SleepHook::Set([this] {
            link->CountSleep();
            if (!firstSleepSeen.exchange(true) && onFirstSleep) {
                onFirstSleep();
            }
        });
        operatorScript->OnEveryBox([this](const MessageBoxRequest& request) {
            if (onBox) {
                onBox(request);
            }
        });
    }

    // Connected, with a finished run of three samples behind, and nothing remembered of it.
    void PrepareWindow() {
        ConnectFirst();
        ScriptStream(NumberedLines(1, kPreviousSamples));
        SetRun("0", std::to_string(kPreviousSamples));
        AutoOutputTo("previous.csv");
        Start();
        FinishRun();
        ASSERT_EQ(SampleLines(), NumberedLines(1, kPreviousSamples));
        window->CheckButton(IDC_AUTO_OUTPUT, false);
        Forget();
    }

    void Inject(const Cell& cell) {
        if (cell.step == Step::Run) {
            InjectIntoRun(cell.fault);
            return;
        }
        const std::string cue = CueOf(cell.step);
        switch (cell.fault) {
            case Fault::DeviceAbsent:
                driver->SetPresent(false);
                break;
            case Fault::OpenFails:
                driver->SetOpenFailure(SimulatedUsbDriver::OpenFailure::InitializeInterface);
                break;
            case Fault::WriteFails:
                link->Arm(LinkFault::WritesFail, cue);
                break;
            case Fault::ReadFails:
                link->Arm(LinkFault::ReadsFail, cue);
                break;
            case Fault::ReadTimesOut:
                link->Arm(LinkFault::OneReadTimesOut, cue);
                break;
            case Fault::Silence:
                driver->Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
                driver->Instrument()->SetSilentFromCommand(cue);
                break;
            case Fault::EndlessEmptyPackets:
                driver->Instrument()->SetSilentFromCommand(cue);
                break;
            case Fault::ReplyWithoutCr:
                link->Arm(LinkFault::RepliesLoseCr, cue);
                break;
            case Fault::Ng:
                if (cell.step == Step::Calibrate) {
                    driver->Instrument()->SetDetectorLit(true);
                } else {
                    // A write's refusal is still a whole two-line reply.
                    const bool write = cell.step == Step::Save;
                    driver->Instrument()->SetReplyOverride(
                        cue, write ? std::vector<std::string>{"NG", "END"}
                                   : std::vector<std::string>{"NG"});
                }
                break;
            case Fault::No:
                driver->Instrument()->SetReplyOverride("STP", {"NO"});
                break;
            case Fault::CablePulled:
                link->Arm(LinkFault::CablePulled, cue);
                break;
            case Fault::DiskFull:
                break;
        }
    }

    void InjectIntoRun(Fault fault) {
        const auto stall = [this](const std::string& finalLine, int errorCode) {
            driver->Instrument()->SetStreamFault(SimulatedInstrument::StreamFault{
                static_cast<std::size_t>(kStreamFaultAfter), finalLine, errorCode});
        };
        switch (fault) {
            case Fault::DeviceAbsent:
                onBox = [this](const MessageBoxRequest& box) {
                    if (box.text == String(IDS_CONFIRM_START_MEASUREMENT)) {
                        driver->SetPresent(false);
                    }
                };
                break;
            case Fault::OpenFails:
                onBox = [this](const MessageBoxRequest& box) {
                    if (box.text == String(IDS_CONFIRM_START_MEASUREMENT)) {
                        driver->SetOpenFailure(
                            SimulatedUsbDriver::OpenFailure::InitializeInterface);
                    }
                };
                break;
            case Fault::WriteFails:
                link->Arm(LinkFault::WritesFail, "STP");
                break;
            case Fault::ReadFails:
            case Fault::ReadTimesOut:
            case Fault::CablePulled:
                stall("", 0);
                link->Arm(fault == Fault::ReadFails      ? LinkFault::ReadsFail
                          : fault == Fault::ReadTimesOut ? LinkFault::OneReadTimesOut
                                                         : LinkFault::CablePulled,
                          "");
                onFirstSleep = [this] { link->Trigger(); };
                break;
            case Fault::Silence:
                driver->Instrument()->SetIdleReads(SimulatedInstrument::IdleReads::NoPacket);
                stall("", 0);
                break;
            case Fault::EndlessEmptyPackets:
                stall("", 0);
                break;
            case Fault::ReplyWithoutCr:
                link->Arm(LinkFault::RepliesLoseCr, "CST");
                break;
            case Fault::Ng:
                stall("NG", 5);
                break;
            case Fault::No:
                stall("NO", 3);
                break;
            case Fault::DiskFull:
                break;
        }
    }

    void TakeStep(const Cell& cell) {
        switch (cell.step) {
            case Step::Connect:
                Click(IDC_CONNECT);
                break;
            case Step::Refresh:
                Click(IDC_REFRESH);
                break;
            case Step::Save:
                AnswerNext(MessageAnswer::Yes);
                Click(IDC_SAVE);
                break;
            case Step::Compare:
                SetRun("0", "0");
                Click(IDC_START_STOP);
                break;
            case Step::Calibrate:
                AnswerNext(MessageAnswer::Yes);
                Click(IDC_CALIBRATE);
                break;
            case Step::Get:
                Click(IDC_GET_LAST_ERROR);
                break;
            case Step::Log:
                Click(IDC_LOG);
                break;
            case Step::Run:
                Run(cell);
                break;
        }
    }

    void Run(const Cell& cell) {
        const bool stopsByCount = cell.fault == Fault::WriteFails || cell.fault == Fault::DiskFull;
        ScriptStream(NumberedLines(1, stopsByCount ? kStoppedRunCount : kStreamFaultAfter));
        SetRun("0", stopsByCount ? std::to_string(kStoppedRunCount) : "0");
        runFile = AutoOutputTo("run.csv");
#ifdef QIRO7_HAVE_FILE_SIZE_LIMIT
        std::optional<FileSizeLimit> diskFull;
        if (cell.fault == Fault::DiskFull) {
            diskFull.emplace(cell.csvLines * kCsvLineBytes + 5);  // the next line only in part
        }
#endif
        Start();
        FinishRun();
    }

    // --- checks ---------------------------------------------------------------------------
    void ExpectBoxes(const Cell& cell) const {
        const std::vector<MessageBoxRequest> boxes = operatorScript->Boxes();
        std::vector<std::string> expectedTexts;
        for (const ExpectedBox& box : cell.boxes) {
            expectedTexts.push_back(String(box.stringId));
        }
        EXPECT_EQ(BoxTexts(), expectedTexts);
        for (std::size_t i = 0; i < boxes.size() && i < cell.boxes.size(); ++i) {
            const Shown shown = cell.boxes[i].shown;
            const bool framework = shown == Shown::FrameworkError;
            EXPECT_EQ(boxes[i].caption, framework ? ApplicationName() : "QIRO-7") << "box " << i;
            EXPECT_EQ(boxes[i].icon, IconOf(shown)) << "box " << i;
            EXPECT_EQ(boxes[i].buttons,
                      shown == Shown::Question ? MessageButtons::YesNo : MessageButtons::Ok)
                << "box " << i;
        }
    }

    static MessageIcon IconOf(Shown shown) {
        switch (shown) {
            case Shown::Question:
                return MessageIcon::Question;
            case Shown::Info:
                return MessageIcon::Information;
            default:
                return MessageIcon::Exclamation;
        }
    }

    // The state as the controls show it.
    UiState ShownState() const {
        if (!Enabled(IDC_CONNECT)) {
            return Enabled(IDC_START_STOP) ? UiState::Measuring : UiState::Busy;
        }
        if (Enabled(IDC_REFRESH)) {
            return UiState::Connected;
        }
        return Enabled(IDC_CSV_FILE_NAME) ? UiState::Disconnected : UiState::Initial;
    }

    // Every sample accepted before the fault is still in the list, the Received box and, for a
    // run, the CSV file; a Connect clears the previous run by design.
    void ExpectSamplesKept(const Cell& cell) const {
        int kept = kPreviousSamples;
        if (cell.step == Step::Connect) {
            kept = 0;
        } else if (cell.step == Step::Run) {
            kept = cell.samples;
        }
        const std::vector<std::string> lines = NumberedLines(1, kept);
        EXPECT_EQ(SampleLines(), lines);
        EXPECT_EQ(Text(IDC_RECEIVED), ReceivedOf(lines));
        if (cell.step != Step::Run) {
            return;
        }
        std::vector<int> written;
        for (int n = 1; n <= cell.csvLines; ++n) {
            written.push_back(n);
        }
        const std::string csv = ReadBytes(runFile);
        if (cell.csvLines == cell.samples) {
            EXPECT_EQ(csv, NumberedCsv(written));
        } else {
            EXPECT_EQ(csv.substr(0, NumberedCsv(written).size()), NumberedCsv(written));
        }
    }

    std::shared_ptr<FaultyLink> link = std::make_shared<FaultyLink>(driver);
    std::atomic<bool> firstSleepSeen{false};
    std::function<void()> onFirstSleep;
    std::function<void(const MessageBoxRequest&)> onBox;
    std::filesystem::path runFile;
};

TEST_P(FaultMatrixTest, ReportsRecoversAndKeepsEverySample) {
    const Cell& cell = GetParam();
    if (cell.notApplicable != nullptr) {
        GTEST_SKIP() << cell.notApplicable;
    }
#ifndef QIRO7_HAVE_FILE_SIZE_LIMIT
    if (cell.fault == Fault::DiskFull) {
        GTEST_SKIP() << "no file size limit to fill the disk with";
    }
#endif
    PrepareWindow();
    Inject(cell);
    TakeStep(cell);

    ExpectBoxes(cell);
    EXPECT_EQ(ShownState(), cell.finalState);
    EXPECT_FALSE(link->Hung()) << "the program would never have returned";
    EXPECT_LE(link->WaitedMs(), cell.maxWaitMs) << "the operator waits past the time-outs";
    ExpectSamplesKept(cell);
    EXPECT_EQ(driver->OpenInterfaceCount(), 0) << "a link is left open";
}

std::string CellName(const testing::TestParamInfo<Cell>& info) {
    return std::string(NameOf(info.param.step)) + "_" + NameOf(info.param.fault);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrixTest, testing::ValuesIn(kCells), CellName);

// The matrix holds every fault at every step, once.
TEST(FaultMatrixShape, EveryFaultAtEveryStep) {
    constexpr int kSteps = 8;
    constexpr int kFaults = 12;
    std::vector<int> seen(kSteps * kFaults, 0);
    for (const Cell& cell : kCells) {
        ++seen[static_cast<int>(cell.step) * kFaults + static_cast<int>(cell.fault)];
    }
    for (int i = 0; i < kSteps * kFaults; ++i) {
        EXPECT_EQ(seen[i], 1) << NameOf(static_cast<Step>(i / kFaults)) << " x "
                              << NameOf(static_cast<Fault>(i % kFaults));
    }
}

}  // namespace
