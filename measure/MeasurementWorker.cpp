#include "measure/MeasurementWorker.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "link/Instrument.h"
#include "link/ModalInteraction.h"
#include "link/Sleep.h"
#include "measure/AppMessages.h"
#include "measure/CreditRule.h"
#include "measure/RunActive.h"
#include "measure/StreamLineAssembler.h"
#include "res/StringTable.h"

namespace {

bool IsStopReplyToken(const std::string& line) {
    return line == "OK" || line == "NO";
}

// One started run: the stream is flowing over the instrument's open link.
class MeasurementRun {
public:
    MeasurementRun(MeasurementWindow& mainWindow, CInstrument& startedInstrument)
        : window(mainWindow),
          instrument(startedInstrument),
          rule(window.IntervalSeconds(), window.AveragingIndex(), window.MeasureCount()) {
        // The start exchange may have read the stream's first text along with its "END".
        stream.Append(instrument.TakePendingText());
    }

    int Run();

private:
    bool NextLine(StreamLineAssembler::Line& line);
    bool ReadStreamPacket(int& emptyPackets);
    bool SendStop();
    void OfferToCredit(const std::string& line, bool& stopDue);

    MeasurementWindow& window;
    CInstrument& instrument;
    CreditRule rule;
    bool stopped = false;
    StreamLineAssembler stream;
};

int MeasurementRun::Run() {
    StreamLineAssembler::Line line;
    for (;;) {
        if (!NextLine(line)) {
            return MeasurementResult::kStreamFailed;
        }
        if (line.fromStopReply && IsStopReplyToken(line.text)) {
            continue;
        }
        if (line.text == "NG") {
            return MeasurementResult::kInstrumentNg;
        }
        if (line.text == "NO") {
            return MeasurementResult::kInstrumentNo;
        }
        if (line.text == "END") {
            return MeasurementResult::kCompleted;
        }
        if (stopped) {
            continue;
        }
        bool stopDue = false;
        OfferToCredit(line.text, stopDue);
        if ((stopDue || runActive.load() == 0) && !SendStop()) {
            return MeasurementResult::kStreamFailed;
        }
    }
}

void MeasurementRun::OfferToCredit(const std::string& line, bool& stopDue) {
    switch (rule.TakeLine()) {
        case LineUse::Sample:
            window.AppendSample(line);
            break;
        case LineUse::StopDue:
            stopDue = true;
            break;
        case LineUse::Skipped:
            break;
    }
}

// Fails on a failed read, on too many empty packets in a row, on an overlong line, or when a
// requested stop cannot be sent.
bool MeasurementRun::NextLine(StreamLineAssembler::Line& line) {
    int emptyPackets = 0;
    for (;;) {
        switch (stream.TakeLine(line)) {
            case StreamLineAssembler::Take::Line:
                return true;
            case StreamLineAssembler::Take::TooLong:
                return false;
            case StreamLineAssembler::Take::NeedMore:
                break;
        }
        if (!stopped && runActive.load() == 0) {
            if (!SendStop()) {
                return false;
            }
            continue;  // the stop's reply may already hold the next line
        }
        if (!ReadStreamPacket(emptyPackets)) {
            return false;
        }
    }
}

bool MeasurementRun::ReadStreamPacket(int& emptyPackets) {
    std::uint8_t buffer[CInstrument::kPacketBufferSize];
    std::uint32_t transferred = 0;
    if (!instrument.ReadPacket(buffer, sizeof buffer, transferred)) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(buffer);
    const std::size_t received = std::min<std::size_t>(transferred, sizeof buffer - 1);
    const std::string_view packet(text, std::find(text, text + received, '\0') - text);
    if (packet.empty()) {
        if (emptyPackets > CInstrument::kIdleLimit) {
            return false;
        }
        SleepMilliseconds(CInstrument::kEmptyPacketSleepMs);
        ++emptyPackets;
        return true;
    }
    emptyPackets = 0;
    stream.Append(packet);
    return true;
}

// The stop's reply is read from the stream's pipe, so all the text it collected is stream text
// too and goes back into the stream ahead of later packets. The reply is not examined: the run
// still waits for "END". False when "STP" could not be written: nothing would ever end the
// stream, so the run must end as failed rather than read it for ever.
bool MeasurementRun::SendStop() {
    std::string collected;
    if (instrument.StopMeasurement(collected) == ExchangeResult::kWriteFailed) {
        return false;
    }
    collected += instrument.TakePendingText();
    stream.AppendStopReply(collected);
    window.SendAppMessage(WM_APP_MEAS_STOPPING);
    stopped = true;
    return true;
}

int StartAndRun(MeasurementWindow& window, CInstrument& instrument) {
    const int started = instrument.StartMeasurement();
    if (started != ExchangeResult::kSuccess) {
        window.StartFailed(started);
        const int text =
            started == ExchangeResult::kOpenFailed ? IDS_CONNECTION_ERROR : IDS_CONNECTING_ERROR;
        FrameworkMessageBox(text, MessageIcon::Exclamation);
        return MeasurementResult::kStartFailed;
    }
    MeasurementRun run(window, instrument);
    return run.Run();
}

}  // namespace

unsigned OutcomeMessage(int result) {
    switch (result) {
        case MeasurementResult::kCompleted:
            return WM_APP_MEAS_DONE;
        case MeasurementResult::kInstrumentNg:
        case MeasurementResult::kInstrumentNo:
            return WM_APP_MEAS_ERROR;
        default:
            return WM_APP_MEAS_FAILED;
    }
}

int MeasurementThreadProc(MeasurementWindow& window) {
    if (!window.SetsRunActiveBeforeStart()) {
        runActive.store(1);
    }
    CInstrument instrument;
    const int result = StartAndRun(window, instrument);
    instrument.CloseLink();
    window.SendAppMessage(OutcomeMessage(result));
    runActive.store(0);
    return result;
}
