// The window's side of a measurement run: start and stop, the samples as they arrive, reset,
// and the worker thread with its way into the window.
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>

#include "app/Qiro7Dlg.h"
#include "framework/QtText.h"
#include "framework/ThreadHandoff.h"
#include "framework/WaitCursor.h"
#include "graph/GraphDlg.h"
#include "link/ModalInteraction.h"
#include "measure/CreditRule.h"
#include "measure/RunActive.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"

// The worker's way into the main window, its boxes included: the worker thread asks for every
// box and dialog through here (see StartWorker). What must run on the window thread is queued
// there and waited for. Once the window has detached, nothing reaches it any more: a waiting
// call is released at once (a box counts as its default answer, a save dialog as cancelled),
// queued calls are dropped, and later calls return without touching it.
// Threads: Detach on the window thread; every other operation on any thread.
class MeasurementRunLink final : public MeasurementWindow,
                                 public ModalInteraction,
                                 public std::enable_shared_from_this<MeasurementRunLink> {
public:
    explicit MeasurementRunLink(CQiro7Dlg& mainWindow)
        : window(mainWindow), windowThread(mainWindow.thread()) {}

    // Before the window dies.
    void Detach();
    // Runs action on the window thread and returns after it has run; false, without running
    // it, once detached.
    bool RunOnWindowThread(const std::function<void()>& action);

    // The thread procedure has returned.
    void MarkFinished() { finished.store(true); }
    bool Finished() const { return finished.load(); }

    int AveragingIndex() override;
    int IntervalSeconds() override;
    int MeasureCount() override;
    void AppendSample(const std::string& line) override;
    void SendAppMessage(unsigned message) override;
    bool SetsRunActiveBeforeStart() const override { return true; }

    // Shown by the window thread's own interaction.
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    bool ChooseSaveFileName(const SaveFileRequest& request, std::string& path) override;

private:
    struct QueuedCall {
        std::function<void()> action;
        bool done = false;  // guarded by the link's mutex
    };

    bool IsDetached();
    void RunQueued(QueuedCall& call);
    int ReadOnWindowThread(int (CQiro7Dlg::*read)(), std::atomic<int>& lastValue);

    CQiro7Dlg& window;
    QThread* const windowThread;
    std::mutex mutex;
    std::condition_variable callDone;
    bool detached = false;
    std::atomic<bool> finished{false};
    // Values already read, handed out again once the window is gone.
    std::atomic<int> lastAveragingIndex{0};
    std::atomic<int> lastIntervalSeconds{0};
    std::atomic<int> lastMeasureCount{0};
};

void MeasurementRunLink::Detach() {
    {
        std::lock_guard lock(mutex);
        detached = true;
    }
    callDone.notify_all();
}

bool MeasurementRunLink::IsDetached() {
    std::lock_guard lock(mutex);
    return detached;
}

bool MeasurementRunLink::RunOnWindowThread(const std::function<void()>& action) {
    if (QThread::currentThread() == windowThread) {
        if (IsDetached()) {
            return false;
        }
        action();
        return true;
    }
    auto call = std::make_shared<QueuedCall>();
    call->action = action;
    std::unique_lock lock(mutex);
    if (detached) {
        return false;
    }
    // Posted to the window itself: should it die first, Qt drops the call unrun.
    HandOff();
    QMetaObject::invokeMethod(
        &window,
        [link = shared_from_this(), call] {
            TakeOver();
            link->RunQueued(*call);
        },
        Qt::QueuedConnection);
    callDone.wait(lock, [this, &call] { return call->done || detached; });
    return call->done;
}

void MeasurementRunLink::RunQueued(QueuedCall& call) {
    if (IsDetached()) {
        return;
    }
    call.action();
    {
        std::lock_guard lock(mutex);
        call.done = true;
    }
    callDone.notify_all();
}

int MeasurementRunLink::ReadOnWindowThread(int (CQiro7Dlg::*read)(), std::atomic<int>& lastValue) {
    RunOnWindowThread([this, read, &lastValue] { lastValue.store((window.*read)()); });
    return lastValue.load();
}

int MeasurementRunLink::AveragingIndex() {
    return ReadOnWindowThread(&CQiro7Dlg::AveragingIndex, lastAveragingIndex);
}

int MeasurementRunLink::IntervalSeconds() {
    return ReadOnWindowThread(&CQiro7Dlg::IntervalSeconds, lastIntervalSeconds);
}

int MeasurementRunLink::MeasureCount() {
    return ReadOnWindowThread(&CQiro7Dlg::MeasureCount, lastMeasureCount);
}

void MeasurementRunLink::AppendSample(const std::string& line) {
    if (!IsDetached()) {
        window.AppendSample(line);
    }
}

void MeasurementRunLink::SendAppMessage(unsigned message) {
    RunOnWindowThread([this, message] { window.SendAppMessage(message); });
}

// The box works on a copy of its own: released while it is still on screen, it must not write
// into a caller that has gone on.
MessageAnswer MeasurementRunLink::ShowMessageBox(const MessageBoxRequest& request) {
    struct Box {
        MessageBoxRequest request;
        MessageAnswer answer;
    };
    const auto box = std::make_shared<Box>(Box{request, DefaultAnswer(request)});
    const bool answered = RunOnWindowThread(
        [box] { box->answer = ActiveModalInteraction()->ShowMessageBox(box->request); });
    return answered ? box->answer : DefaultAnswer(request);
}

bool MeasurementRunLink::ChooseSaveFileName(const SaveFileRequest& request, std::string& path) {
    struct Dialog {
        SaveFileRequest request;
        std::string path;
        bool chosen = false;
    };
    const auto dialog = std::make_shared<Dialog>(Dialog{request, {}, false});
    const bool closed = RunOnWindowThread([dialog] {
        dialog->chosen =
            ActiveModalInteraction()->ChooseSaveFileName(dialog->request, dialog->path);
    });
    if (!closed || !dialog->chosen) {
        return false;
    }
    path = dialog->path;
    return true;
}

namespace {

constexpr std::size_t kReceivedLines = 50;
constexpr int kReceivedRepaintMs = 40;

// The Received box's whole text: each record's line followed by CR LF, oldest first.
std::string ReceivedText(const std::vector<MeasurementSample>& newest) {
    std::string text;
    for (const MeasurementSample& sample : newest) {
        text += sample.rawLine;
        text += "\r\n";
    }
    return text;
}

// True when the box holds one row per shown record and nothing else, so the newest record can
// be added as one more row.
bool HoldsRowsOnly(const QTextDocument& document, std::size_t rows) {
    return static_cast<std::size_t>(document.blockCount()) == rows + 1 &&
           document.lastBlock().text().isEmpty();
}

// The newest record as one more row, the oldest row dropped when it is beyond the shown ones:
// only those two rows are laid out again.
void AppendRow(QTextDocument& document, const std::string& line, bool dropOldest) {
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ToQString(line) + QLatin1Char('\n'));
    if (dropOldest) {
        cursor.movePosition(QTextCursor::Start);
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
}

// What the box holds is always current; painting it follows at most every 40 ms, as a fast
// run would otherwise repaint it for every sample.
void ThrottleRepaint(QWidget& viewport) {
    if (!viewport.updatesEnabled()) {
        return;
    }
    viewport.setUpdatesEnabled(false);
    QTimer::singleShot(kReceivedRepaintMs, &viewport,
                       [target = &viewport] { target->setUpdatesEnabled(true); });
}

// Window thread, after each new record: the box shows the rawLine of the newest 50 records,
// the caret at its end so that the newest row is in view. When the box does not hold one row
// per record before this one (a line with a line feed spans two), it is rebuilt from the list.
void ShowNewestSample(CQiro7Dlg& window, const std::string& line) {
    auto* box = qobject_cast<QPlainTextEdit*>(window.Control(IDC_RECEIVED));
    const std::size_t count = window.samples.Size();
    if (box == nullptr || count == 0) {
        return;
    }
    QTextDocument& document = *box->document();
    document.setUndoRedoEnabled(false);  // read-only: nothing to undo, nothing to keep
    if (HoldsRowsOnly(document, std::min(count - 1, kReceivedLines))) {
        AppendRow(document, line, count > kReceivedLines);
    } else {
        window.SetControlText(IDC_RECEIVED, ReceivedText(window.samples.Newest(kReceivedLines)));
    }
    // An added row leaves the caret at the end already; moving it there lays the row out.
    if (!box->textCursor().atEnd()) {
        box->moveCursor(QTextCursor::End);
    }
    QScrollBar& rows = *box->verticalScrollBar();
    rows.setValue(rows.maximum());
    ThrottleRepaint(*box->viewport());
}

void RefuseInput(CQiro7Dlg& window, int focusId) {
    window.ShowError(IDS_CHECK_INPUT_VALUE);
    window.FocusControl(focusId);
}

// Interval, count and factor texts, then the range-checked pull. False when the start is
// abandoned; the reason has been shown.
bool RunInputsAccepted(CQiro7Dlg& window) {
    for (const int id : {IDC_INTERVAL, IDC_COUNT}) {
        if (!IsNumberText(window.ControlText(id), false)) {
            RefuseInput(window, id);
            return false;
        }
    }
    std::string factorText;
    if (window.CheckFactorText(factorText) == 0) {
        RefuseInput(window, IDC_CORRECTION_FACTOR);
        return false;
    }
    window.validationMode = 2;
    return window.UpdateData(true);
}

// The instrument's conditions against the window's, rewritten if the operator agrees. False
// when the start is abandoned.
bool ConditionsAgreed(CQiro7Dlg& window) {
    const int difference = window.CompareConditions();
    if (difference == 0) {
        return true;
    }
    if (difference < 0) {
        window.SetUiState(UiState::Disconnected);
        window.ShowError(IDS_CONNECTING_ERROR);
        return false;
    }
    if (window.AskYesNo(IDS_CONDITIONS_DIFFER) == MessageAnswer::No) {
        return false;
    }
    const int rewritten = window.RewriteConditions();
    if (rewritten < 0) {
        window.ShowError(IDS_CONNECTING_ERROR);
    }
    if (rewritten <= 0) {
        return false;
    }
    window.update();
    return true;
}

// Prepares and opens the automatic output before anything of the previous run is touched, so
// an abandoned start leaves that run as it was. False when the start is abandoned.
bool RunOutputReady(CQiro7Dlg& window) {
    window.CloseRunOutputFile();
    if (!window.IsButtonChecked(IDC_AUTO_OUTPUT)) {
        return true;
    }
    std::string path;
    return window.PrepareOutputFile(path) != 0 && window.OpenRunOutputFile(path) != 0;
}

}  // namespace

void CQiro7Dlg::OnStartStopMeas() {
    if (runActive.load() != 0) {
        runActive.store(0);  // the worker sends the stop at its next line or read
        update();
        return;
    }
    // A stopped run whose worker has not ended yet: the press is not a new start.
    if (IsWorkerRunning()) {
        return;
    }
    if (!RunInputsAccepted(*this) || !ConditionsAgreed(*this)) {
        return;
    }
    if (AskYesNo(IDS_CONFIRM_START_MEASUREMENT) == MessageAnswer::No) {
        return;
    }
    WaitCursor wait;
    if (!RunOutputReady(*this)) {
        return;
    }
    OnReset();
    runIntervalSeconds = intervalSeconds;
    runAveragingIndex = conditions.averagingIndex;
    if (IsButtonChecked(IDC_GRAPH)) {
        ShowGraphForRun();
    }
    SetUiState(UiState::Measuring);
    StartWorker();
    update();
}

void CQiro7Dlg::StartWorker() {
    if (workerThread.joinable()) {
        workerThread.join();  // the last run's worker, already past its end
    }
    runLink = std::make_shared<MeasurementRunLink>(*this);
    // Set before the worker exists, so a press of "Stop" is never taken for a start.
    runActive.store(1);
    try {
        workerThread = std::thread([link = runLink] {
            // The worker's boxes (its start failure) show on the window thread like its other
            // calls, so they too are released when the window goes.
            const ThreadModalInteraction boxes(link);
            MeasurementThreadProc(*link);
            link->MarkFinished();
        });
    } catch (const std::system_error&) {
        runActive.store(0);
        runLink->MarkFinished();
        OnMeasFailed();
    }
}

void CQiro7Dlg::ShowGraphForRun() {
    if (graphWindow == nullptr) {
        graphWindow = new CGraphDlg(this);
    }
    graphWindow->ResetForRun(RunIntervalMs(runIntervalSeconds, PeriodMs(runAveragingIndex)));
    graphWindow->ShowGraphWindow(true);
    graphWindow->SetStartCaption(false);
}

bool CQiro7Dlg::IsWorkerRunning() const {
    return runLink != nullptr && !runLink->Finished();
}

void CQiro7Dlg::EndWorkerWithWindow() {
    if (IsWorkerRunning()) {
        runLink->Detach();
        runActive.store(0);
    }
    if (workerThread.joinable()) {
        workerThread.join();
    }
}

void CQiro7Dlg::AppendSample(const std::string& line) {
    MeasurementSample sample;
    sample.Parse(line);
    samples.Append(sample);
    const std::size_t number = samples.Size();
    if (csvFile != nullptr) {
        csvFile->WriteLine(sample);  // a failed line is reported when the file is closed
    }
    // The graph window is fed on the window thread too, within the same wait, so that the
    // worker never blocks on a window of its own accord (see EndWorkerWithWindow).
    const std::function<void()> show = [this, &line, &sample, number] {
        ShowNewestSample(*this, line);
        if (graphWindow != nullptr && graphWindow->isVisible()) {
            graphWindow->AddRunSample(sample, number);
        }
    };
    if (runLink != nullptr) {
        runLink->RunOnWindowThread(show);
    } else {
        InvokeOnWindowThread(show);
    }
}

void CQiro7Dlg::OnReset() {
    UpdateData(true);
    samples.Clear();
    SetControlText(IDC_RECEIVED, "");
    if (graphWindow != nullptr && graphWindow->isVisible()) {
        graphWindow->ShowGraphWindow(false);
    }
    EnableControl(IDC_SHOW_GRAPH, false);
    EnableControl(IDC_OUTPUT, false);
    UpdateData(false);
}

// The start sets runActive before the worker exists, so "Stop" is never taken for a start.
bool CQiro7Dlg::SetsRunActiveBeforeStart() const {
    return true;
}
