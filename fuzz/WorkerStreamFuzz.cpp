// A whole measurement run (MeasurementThreadProc, on this thread) against an instrument whose
// start reply and stream come from the input, with a window that records what reaches it and
// may ask for a stop after a given sample.
//
// Input: [averaging][interval][count][stop after][mode][packet script, see PacketScript.h]
// Mode: bit 0 silent end (empty packets for ever instead of failing reads), bits 1-2 the start
// reply (0: "OK" and "END" alone in the first packet, 1: the stream's first packet follows them
// in the same packet, 2-3: scripted like the rest), bit 3 the link cannot be opened, bit 4 the
// window sets runActive before the worker, bit 5 with bit 4: the stop is asked before it runs.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "PacketScript.h"
#include "ScriptedUsbDriver.h"
#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "measure/AppMessages.h"
#include "measure/CreditRule.h"
#include "measure/MeasurementWorker.h"
#include "measure/RunActive.h"
#include "measure/StreamLineAssembler.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"
#include "tests/common/RecordingBoxes.h"

namespace {

constexpr char kCr = '\r';
const std::string kStartReply = "OK\rEND\r";
constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
// Once nothing arrives each read of the run gives up after 502 empty packets: the start reply's
// two lines, the stop's reply and the stream.
constexpr std::size_t kSilentReads = 4 * (CInstrument::kIdleLimit + 2);

void NoSleep(int) {}

bool IsEndToken(const std::string& line) {
    return line == "END" || line == "NG" || line == "NO";
}

bool IsOutcome(unsigned message) {
    return message == WM_APP_MEAS_DONE || message == WM_APP_MEAS_ERROR ||
           message == WM_APP_MEAS_FAILED;
}

struct RunSettings {
    int averagingIndex = 0;
    int intervalSeconds = 0;
    int measureCount = 0;
    std::size_t stopAfterSamples = kNever;
    ScriptEnd end = ScriptEnd::ReadsFail;
    int startReply = 0;
    bool openFails = false;
    bool setsRunActive = false;
    bool stopBeforeStart = false;
};

struct SeenMessage {
    unsigned message = 0;
    std::size_t openHandles = 0;
    int runFlag = 0;
    bool stopWritten = false;
};

class FuzzWindow final : public MeasurementWindow {
public:
    FuzzWindow(const RunSettings& run, ScriptedDevice& scripted)
        : settings(run), device(scripted) {}

    int AveragingIndex() override { return settings.averagingIndex; }
    int IntervalSeconds() override { return settings.intervalSeconds; }
    int MeasureCount() override { return settings.measureCount; }
    bool SetsRunActiveBeforeStart() const override { return settings.setsRunActive; }

    void AppendSample(const std::string& line) override {
        Require(!StopWritten(), "a sample arrives after the stop was sent");
        Require(line.find(kCr) == std::string::npos, "a sample holds a CR");
        Require(line.size() <= StreamLineAssembler::kLineLimitBytes, "a sample past the limit");
        Require(!IsEndToken(line), "an end token is taken for a sample");
        samples.push_back(line);
        if (samples.size() == settings.stopAfterSamples) {
            runActive.store(0);
            readsAtStopRequest = device.ReadCount();
        }
    }

    void SendAppMessage(unsigned message) override {
        messages.push_back({message, device.OpenHandles(), runActive.load(), StopWritten()});
    }

    bool StopWritten() const {
        return std::count(device.writes.begin(), device.writes.end(), "STP\r") != 0;
    }

    std::vector<std::string> samples;
    std::vector<SeenMessage> messages;
    std::size_t readsAtStopRequest = kNever;

private:
    const RunSettings& settings;
    ScriptedDevice& device;
};

RunSettings DecodeSettings(ByteReader& input) {
    RunSettings settings;
    settings.averagingIndex = input.Byte() % 7 - 1;
    const std::uint8_t interval = input.Byte();
    settings.intervalSeconds = interval < 128 ? 0 : interval % 4;
    settings.measureCount = input.Byte() % 32;
    const std::uint8_t stopAfter = input.Byte() % 32;
    settings.stopAfterSamples = stopAfter == 0 ? kNever : stopAfter;
    const std::uint8_t mode = input.Byte();
    settings.end = (mode & 0x01) != 0 ? ScriptEnd::EmptyPackets : ScriptEnd::ReadsFail;
    settings.startReply = (mode >> 1) & 0x03;
    settings.openFails = (mode & 0x08) != 0;
    settings.setsRunActive = (mode & 0x10) != 0;
    settings.stopBeforeStart = settings.setsRunActive && (mode & 0x20) != 0;
    return settings;
}

// The start reply goes first: alone, or with the stream's first packet behind it.
std::vector<ScriptedRead> WithStartReply(std::vector<ScriptedRead> reads, int startReply) {
    if (startReply >= 2) {
        return reads;
    }
    if (startReply == 1 && !reads.empty() && reads.front().succeeds &&
        !reads.front().bytes.empty()) {
        const std::size_t room = CInstrument::kPacketBufferSize - 1 - kStartReply.size();
        reads.front().bytes = kStartReply + reads.front().bytes.substr(0, room);
        return reads;
    }
    reads.insert(reads.begin(), ScriptedRead{true, kStartReply});
    return reads;
}

// What a started run's worker gets: the text after the start's two reply lines ("OK" and
// "END"), however the packets cut them; the start reads no further.
std::string StreamAfterStart(const std::string& delivered) {
    const std::size_t first = delivered.find(kCr);
    const std::size_t second = first == std::string::npos ? first : delivered.find(kCr, first + 1);
    return second == std::string::npos ? std::string() : delivered.substr(second + 1);
}

// The complete lines of text, in order.
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines = SplitText(text, kCr);
    if (!lines.empty()) {
        lines.pop_back();  // after the last CR: not a line yet
    }
    return lines;
}

bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    auto next = whole.begin();
    for (const std::string& line : part) {
        next = std::find(next, whole.end(), line);
        if (next == whole.end()) {
            return false;
        }
        ++next;
    }
    return true;
}

bool HasLine(const std::string& text, const std::string& line) {
    const std::vector<std::string> lines = LinesOf(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Stream lines before the run must end: those before the first end token or overlong line.
std::size_t TakeableLines(const std::vector<std::string>& lines) {
    std::size_t count = 0;
    for (const std::string& line : lines) {
        if (IsEndToken(line) || line.size() > StreamLineAssembler::kLineLimitBytes) {
            break;
        }
        ++count;
    }
    return count;
}

// The first END or NG line of the stream, which must end the run; empty when an overlong line
// ends it first or there is none. ("NO" is left out: as the stop's own reply it is ignored.)
std::string FirstEnding(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (line.size() > StreamLineAssembler::kLineLimitBytes) {
            return {};
        }
        if (line == "END" || line == "NG") {
            return line;
        }
    }
    return {};
}

class RunCheck {
public:
    RunCheck(const RunSettings& run, const ScriptedDevice& scripted,
             const std::vector<ScriptedRead>& script, const FuzzWindow& recorder,
             const RecordingBoxes& shown, std::size_t readsAtStopWrite)
        : settings(run),
          device(scripted),
          reads(script),
          window(recorder),
          boxes(shown),
          readsAtStop(readsAtStopWrite) {}

    void All(int result) const {
        Messages(result);
        Boxes(result);
        Requests(result);
        Outcome(result);
        Samples(result);
        Silence();
    }

private:
    void Messages(int result) const {
        const std::vector<SeenMessage>& seen = window.messages;
        Require(!seen.empty() && seen.back().message == OutcomeMessage(result),
                "the run does not end with its outcome message");
        Require(std::count_if(seen.begin(), seen.end(),
                              [](const SeenMessage& m) { return IsOutcome(m.message); }) == 1,
                "more than one outcome message");
        Require(seen.back().openHandles == 0, "the link is still open at the outcome message");
        const auto stopping = std::count_if(seen.begin(), seen.end(), [](const SeenMessage& m) {
            return m.message == WM_APP_MEAS_STOPPING;
        });
        Require(stopping == (window.StopWritten() ? 1 : 0),
                "the stopping message does not follow the one stop");
        for (const SeenMessage& m : seen) {
            Require(m.message != WM_APP_MEAS_STOPPING || m.stopWritten,
                    "stopping is reported before the stop was sent");
        }
        Require(runActive.load() == 0, "runActive is left set");
    }

    void Boxes(int result) const {
        if (result != MeasurementResult::kStartFailed) {
            Require(boxes.boxes.empty(), "a box during a run that started");
            return;
        }
        Require(boxes.boxes.size() == 1, "a failed start shows one box");
        const MessageBoxRequest& box = boxes.boxes.front();
        const int expected = settings.openFails ? IDS_CONNECTION_ERROR : IDS_CONNECTING_ERROR;
        Require(box.text == LoadResourceString(expected), "a failed start shows the wrong text");
        Require(box.icon == MessageIcon::Exclamation && box.caption == ApplicationName(),
                "a failed start's box is not the framework's exclamation box");
    }

    void Requests(int result) const {
        if (settings.openFails) {
            Require(device.writes.empty(), "a request without a link");
            return;
        }
        Require(!device.writes.empty() && device.writes.front() == "CST\r",
                "the run starts not with CST");
        const std::vector<std::string> rest(device.writes.begin() + 1, device.writes.end());
        Require(rest.empty() || rest == std::vector<std::string>{"STP\r"},
                "the run sends more than one stop, or something else");
        if (result == MeasurementResult::kStartFailed) {
            Require(rest.empty(), "a stop after a failed start");
        }
        if (window.readsAtStopRequest != kNever) {
            Require(readsAtStop == window.readsAtStopRequest,
                    "a packet is read between the stop request and the stop");
        }
    }

    void Outcome(int result) const {
        const std::string all = DeliveredText(reads, 0, device.ReadCount());
        switch (result) {
            case MeasurementResult::kCompleted:
                Require(HasLine(all, "END"), "completed without an END line");
                break;
            case MeasurementResult::kInstrumentNg:
                Require(HasLine(all, "NG"), "an NG outcome without an NG line");
                break;
            case MeasurementResult::kInstrumentNo:
                Require(HasLine(all, "NO"), "a NO outcome without a NO line");
                break;
            case MeasurementResult::kStartFailed:
            case MeasurementResult::kStreamFailed:
                break;
            default:
                Require(false, "an outcome code out of range");
        }
        if (result == MeasurementResult::kStartFailed) {
            return;
        }
        const std::vector<std::string> lines = LinesOf(all);
        Require(lines.size() >= 2 && lines[0] == "OK" && lines[1] == "END",
                "a run starts without OK and END as its first lines");
        // Every line reaches the worker, the stop's reply included: the first END or NG ends
        // the run, and a run that saw one never ends as failed.
        const std::string ending = FirstEnding(LinesOf(StreamAfterStart(all)));
        if (result == MeasurementResult::kCompleted || result == MeasurementResult::kInstrumentNg) {
            Require(ending == (result == MeasurementResult::kCompleted ? "END" : "NG"),
                    "the run ends at other than its first END or NG line");
        }
        if (result == MeasurementResult::kStreamFailed) {
            Require(ending.empty(), "a run whose stream sent END or NG ends as failed");
        }
    }

    // Once started, every line the stream delivered before the stop is a candidate, whatever
    // packets the start's reply came in; with interval 0 every one of them up to the count or
    // the stop request is a sample.
    void Samples(int result) const {
        const std::size_t limit =
            static_cast<std::size_t>(RunCountLimit(settings.measureCount).value());
        Require(window.samples.size() <= limit, "more samples than the count");
        if (result == MeasurementResult::kStartFailed) {
            return;
        }
        const std::size_t streamEnd = std::min(readsAtStop, device.ReadCount());
        const std::string stream = StreamAfterStart(DeliveredText(reads, 0, streamEnd));
        const std::vector<std::string> lines = LinesOf(stream);
        Require(IsSubsequence(window.samples, lines), "a sample the stream did not send");
        if (settings.intervalSeconds != 0 || settings.averagingIndex < 0) {
            return;
        }
        std::size_t expected = std::min(limit, TakeableLines(lines));
        expected = std::min(expected, settings.stopBeforeStart ? 1 : settings.stopAfterSamples);
        Require(window.samples.size() == expected, "a stream line is lost");
        Require(std::equal(window.samples.begin(), window.samples.end(), lines.begin()),
                "samples out of order");
    }

    void Silence() const {
        const std::size_t count = device.ReadCount();
        Require(count <= reads.size() + kSilentReads, "a silent instrument holds the run");
    }

    const RunSettings& settings;
    const ScriptedDevice& device;
    const std::vector<ScriptedRead>& reads;
    const FuzzWindow& window;
    const RecordingBoxes& boxes;
    std::size_t readsAtStop;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetSleepFunction(&NoSleep);
    SetApplicationName("qiro7-fuzz");
    ByteReader input(data, size);
    const RunSettings settings = DecodeSettings(input);
    std::vector<ScriptedRead> reads = DecodeReads(input);
    if (!settings.openFails) {
        reads = WithStartReply(std::move(reads), settings.startReply);
    }

    auto device = std::make_shared<ScriptedDevice>();
    device->openFails = settings.openFails;
    LoadScript(*device, reads, settings.end);
    std::size_t readsAtStopWrite = kNever;
    device->responder = [&readsAtStopWrite](const std::string& request, ScriptedDevice& target) {
        if (request == "STP\r") {
            readsAtStopWrite = target.ReadCount();
        }
    };
    InstallUsbDriver(std::make_shared<ScriptedUsbDriver>(device));
    auto boxes = std::make_shared<RecordingBoxes>();
    InstallModalInteraction(boxes);

    FuzzWindow window(settings, *device);
    runActive.store(settings.setsRunActive && !settings.stopBeforeStart ? 1 : 0);
    const int result = MeasurementThreadProc(window);

    RunCheck(settings, *device, reads, window, *boxes, readsAtStopWrite).All(result);
    Require(device->OpenHandles() == 0, "the run leaves its link open");
    InstallModalInteraction(nullptr);
    InstallUsbDriver(nullptr);
    return 0;
}
