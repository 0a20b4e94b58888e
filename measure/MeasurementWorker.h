// The measurement run's worker: starts the instrument's stream over a link of its own, thins
// the stream to the operator's interval, hands samples to the main window and reports how the
// run ended. Free of any window system; the main window implements MeasurementWindow.
#pragma once

#include <string>

// What the worker needs of the main window. Every call comes from the worker thread, while the
// window thread runs its own message loop; the window forwards what must run on its thread.
class MeasurementWindow {
public:
    virtual ~MeasurementWindow() = default;

    // Worker thread, once each at the start of the run: the averaging button index (-1 when
    // none is checked), the interval and the count (0 for 9,999; kUnlimitedCount of
    // CreditRule.h to run until stopped).
    virtual int AveragingIndex() = 0;
    virtual int IntervalSeconds() = 0;
    virtual int MeasureCount() = 0;

    // Worker thread: one accepted reading, without its CR.
    virtual void AppendSample(const std::string& line) = 0;

    // Worker thread: delivers one application message (AppMessages.h, both parameters 0) and
    // returns only when the window has handled it, including any box its handler shows.
    virtual void SendAppMessage(unsigned message) = 0;

    // Worker thread: the start exchange failed with this code (ExchangeResult of
    // link/Instrument.h), before the failure's box is shown; a refusal is kRefused.
    virtual void StartFailed(int /*exchangeResult*/) {}

    // True when the window sets runActive itself before it starts the worker. The worker then
    // leaves the flag as it finds it, so a stop requested before the worker got going is kept.
    virtual bool SetsRunActiveBeforeStart() const { return false; }
};

// Outcome codes of a run, which MeasurementThreadProc returns.
namespace MeasurementResult {
inline constexpr int kCompleted = 0;      // "END"
inline constexpr int kInstrumentNg = -1;  // "NG"
inline constexpr int kInstrumentNo = -2;  // "NO"
inline constexpr int kStartFailed = 1;    // StartMeasurement did not return 0
// A read failed, silence, a line past the limit, or the stop could not be sent.
inline constexpr int kStreamFailed = 2;
}  // namespace MeasurementResult

// The message that reports a run's outcome code.
unsigned OutcomeMessage(int result);

// Runs one measurement to its end on the calling thread (the worker thread) and returns the
// outcome code, also the thread's exit code. Blocks on USB reads and on the window's handling
// of each message. Sets runActive at its start (see SetsRunActiveBeforeStart) and clears it
// as its last step, after the end message has been handled. Its link is closed before the end
// message is sent, so the window's own instrument operations then find the device free.
int MeasurementThreadProc(MeasurementWindow& window);
