// The window's side of a measurement run: start and stop, the worker's way into the window, and
// reset. The samples are shown by RunDisplay.
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "app/Qiro7Dlg.h"
#include "app/RunDisplay.h"
#include "framework/ThreadHandoff.h"
#include "framework/WaitCursor.h"
#include "graph/GraphDlg.h"
#include "link/ModalInteraction.h"
#include "measure/CreditRule.h"
#include "measure/RunActive.h"
#include "measure/TextRules.h"
#include "res/StringTable.h"

// The worker's way into the main window, its boxes included. A sample costs the worker no wait:
// the list and the file already hold it, and the window is told with one posted call for
// however many arrive before it runs. Only a worker more than kSamplesAhead samples ahead of
// the window's event loop waits for it to catch up, so a stop pressed in the window still finds
// the run going. Messages and boxes run on the window thread while the worker waits; an end
// message shows the samples that have arrived first. Once the window has detached, nothing
// reaches it any more: a waiting call is released at once (a box counts as its default answer,
// a save dialog as cancelled), posted and queued calls are dropped, and later calls return
// without touching it.
// Threads: Detach on the window thread; every other operation on any thread.
class MeasurementRunLink final : public RunSink,
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

    void SampleAccepted(const MeasurementSample& sample, std::size_t number) override;
    void RunMessage(unsigned message) override;

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
    // Window thread: the window has been told of every sample accepted so far.
    void SamplesTold();

    static constexpr std::size_t kSamplesAhead = 1000;

    CQiro7Dlg& window;
    QThread* const windowThread;
    std::mutex mutex;
    std::condition_variable callDone;
    bool detached = false;
    // A call telling the window of new samples is posted and has not started yet.
    std::atomic<bool> samplesPosted{false};
    std::atomic<std::size_t> samplesAccepted{0};
    std::size_t samplesTold = 0;  // guarded by mutex
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
    QMetaObject::invokeMethod(
        &window, HandedOffCall([link = shared_from_this(), call] { link->RunQueued(*call); }),
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

// The flag is cleared before the window looks at the list: a sample appended after that look
// posts the next call.
void MeasurementRunLink::SampleAccepted(const MeasurementSample&, std::size_t number) {
    samplesAccepted.store(number);
    if (!samplesPosted.exchange(true) && !IsDetached()) {
        QMetaObject::invokeMethod(&window, HandedOffCall([link = shared_from_this()] {
            link->samplesPosted.store(false);
            link->SamplesTold();
        }),
                                  Qt::QueuedConnection);
    }
    std::unique_lock lock(mutex);
    callDone.wait(lock,
                  [this, number] { return number - samplesTold <= kSamplesAhead || detached; });
}

void MeasurementRunLink::SamplesTold() {
    {
        std::lock_guard lock(mutex);
        if (detached) {
            return;
        }
        samplesTold = samplesAccepted.load();
    }
    callDone.notify_all();
    window.OnSamplesArrived();
}

void MeasurementRunLink::RunMessage(unsigned message) {
    RunOnWindowThread([this, message] {
        window.ShowArrivedSamples();
        window.SendAppMessage(message);
    });
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

void RefuseInput(CQiro7Dlg& window, int focusId) {
    window.ShowError(IDS_CHECK_INPUT_VALUE);
    window.FocusControl(focusId);
}

// Interval, count and factor texts, the range-checked pull, then an averaging the instrument
// has (none is checked when it answered 0, 7 or nothing: no sample would ever be kept). False
// when the start is abandoned; the reason has been shown.
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
    if (!window.UpdateData(true)) {
        return false;
    }
    if (window.conditions.averagingIndex < 0) {
        RefuseInput(window, IDC_AVERAGING_1);
        return false;
    }
    return true;
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
        MeasurementRunner::RequestStop();  // the worker sends the stop at its next line or read
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

// The run takes the window's values now: no control can change them while it is going.
void CQiro7Dlg::StartWorker() {
    runLink = std::make_shared<MeasurementRunLink>(*this);
    const RunSettings settings{.intervalSeconds = IntervalSeconds(),
                               .measureCount = MeasureCount(),
                               .averagingIndex = AveragingIndex()};
    // The worker's boxes (its start failure) show on the window thread like its other calls,
    // so they too are released when the window goes.
    if (!runner.Start(settings, {&samples, csvFile.get()}, runLink, runLink)) {
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
    return runner.IsRunning();
}

void CQiro7Dlg::EndWorkerWithWindow() {
    if (runner.IsRunning()) {
        runLink->Detach();
        MeasurementRunner::RequestStop();
    }
    runner.Wait();
}

void CQiro7Dlg::OnSamplesArrived() {
    runDisplay->SamplesArrived();
}

void CQiro7Dlg::ShowArrivedSamples() {
    runDisplay->ShowArrived();
}

void CQiro7Dlg::OnReset() {
    UpdateData(true);
    samples.Clear();
    SetControlText(IDC_RECEIVED, "");
    runDisplay->Cleared();
    if (graphWindow != nullptr && graphWindow->isVisible()) {
        graphWindow->ShowGraphWindow(false);
    }
    EnableControl(IDC_SHOW_GRAPH, false);
    EnableControl(IDC_OUTPUT, false);
    UpdateData(false);
}
