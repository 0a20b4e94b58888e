// CQiro7Dlg: the program's main window, built from dialog template 102. It holds the values
// bound to its controls, applies the UI states, routes every button to its operation, receives
// the application messages of the measurement worker and the graph window, and shows the
// program's message boxes. It lives for the whole program.
//
// Threads: everything runs on the window thread, except where a member says otherwise. A run's
// worker reaches the window through its run link (MeasurementRunWindow.cpp).
#pragma once

#include <memory>
#include <string>

#include "app/UiState.h"
#include "framework/TemplateDialog.h"
#include "link/ModalInteraction.h"
#include "measure/CsvFile.h"
#include "measure/SampleList.h"
#include "services/MeasurementConditions.h"
#include "services/MeasurementRunner.h"

class CGraphDlg;
class MeasurementRunLink;
class RunDisplay;

class CQiro7Dlg : public CTemplateDialog {
    Q_OBJECT

public:
    explicit CQiro7Dlg(QWidget* parent = nullptr);
    ~CQiro7Dlg() override;

    // --- values (window thread) -------------------------------------------------------------
    // The title to show; it hides QWidget::windowTitle(), which reads the title shown.
    std::string windowTitle = "Measurement program";
    MeasurementConditions conditions;  // bound to the seven radio groups and 1067
    std::string lastErrorCode;         // bound to label 1101
    // Range checks of the next data exchange only (every exchange resets it to 0): 1 checks the
    // correction factor, 2 also the count and the interval.
    int validationMode = 0;
    int runAveragingIndex = 0;  // copies taken when a run starts
    int runIntervalSeconds = 0;
    int intervalSeconds = 0;  // box 1071
    int measureCount = 0;     // box 1086

    // The run's samples: the worker appends, the window thread reads and clears (never during
    // a run).
    SampleList samples;

    // Owned graph window; null until first created. A child widget of this window, so it is
    // destroyed with it, after the CSV file.
    CGraphDlg* GraphWindow() const { return graphWindow; }

    // --- window ------------------------------------------------------------------------------
    // The one place where controls are enabled, disabled and relabelled.
    void SetUiState(UiState state);

    // String-table boxes owned by this window, caption "QIRO-7".
    MessageAnswer AskYesNo(int stringId);
    void ShowError(int stringId);
    void ShowInfo(int stringId);

    // --- button handlers -----------------------------------------------------------------------
    void OnConnect();
    void OnRefresh();
    void OnSave();
    void OnCalibrate();
    void OnGetLastError();
    void OnLog();
    void OnBrowse();
    void OnOutput();
    void OnReset();
    void OnStartStopMeas();
    void OnShowGraph();
    void OnQuit();
    void OnInput();

    // --- instrument services with their boxes, and the file services ------------------------
    // The full read (ConnectionServices.h), each text shown as it arrives; an InfoReadResult.
    int ReadInstrumentInfo();
    int CheckFactorText(std::string& factorText);
    // The factor text's check, the write and the re-read, each failure with its box: 1 when the
    // window shows what the instrument reports after the write, else 0.
    int WriteConditionsAndReread();
    int CompareConditions();
    // Save's write after its checks, also the rewrite before a run: a validationMode 1 pull
    // (0 when it fails, state unchanged), Busy, WriteConditionsAndReread, then Connected with
    // string 141 (1), or Disconnected without a box of its own (-1).
    int RewriteConditions();
    int PrepareOutputFile(std::string& path);
    int OpenRunOutputFile(const std::string& path);
    void CloseRunOutputFile();
    int WriteCsvFile(const std::string& path);

    // --- a run ------------------------------------------------------------------------------
    // The values a run starts with. Any thread: from another one, each is read on the window
    // thread while the caller waits.
    int AveragingIndex();
    int IntervalSeconds();
    int MeasureCount();

    // True from the start of a run's worker until its thread procedure has returned.
    bool IsWorkerRunning() const;
    // New samples are in the list: the Received box and a visible graph window show them, at
    // once or within 40 ms of the last time.
    void OnSamplesArrived();
    // Every sample in the list shown now; the run's messages come after this.
    void ShowArrivedSamples();

public slots:
    // Application messages; they take no parameters. Window thread (SendAppMessage brings them
    // there from any thread and waits).
    void OnMeasDone();
    void OnMeasError();
    void OnMeasFailed();
    void OnToggleMeas();
    void OnMeasStopping();

protected:
    void DoDataExchange(CDataExchange& exchange) override;
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnOK() override;
    void OnCancel() override;
    void OnSetCursor() override;
    void OnAppMessage(unsigned message) override;

private:
    // Closes the run's CSV file and resets the graph window's button: the first steps of every
    // end-of-run message.
    void EndRunOutput();
    // The reaction to a run that the instrument aborted: reads and reports its error code.
    void ReactToMeasurementError();
    // Stores the code in lastErrorCode and pushes it to the label.
    void ShowLastErrorCode(const std::string& code);
    // Runs "ERR" and on success shows the code. The code is what the read handed back, also
    // when it failed.
    bool ReadLastErrorIntoLabel(std::string& code);
    // The graph window's Start/Stop takes the caption and enabled state of "start/stop".
    void CopyStartStopToGraphWindow();
    // Start/Stop of a visible graph window reads "Start" (true) or "Stop".
    void SetGraphStartCaption(bool start);

    // Creates the graph window if need be, prepares it for the new run and shows it.
    void ShowGraphForRun();
    // Starts the run's worker with the window's values; a failed start ends as a failed run.
    void StartWorker();
    // A worker still running when the window goes is asked to stop, cut off from the window
    // and waited for, so it never reaches a dead window: whatever it waits for on this thread,
    // a box included, is released. Destructor only.
    void EndWorkerWithWindow();

    // The run's automatic output; null when none. The worker writes it from the start of a
    // run until its end message, which closes it on this thread.
    std::unique_ptr<CsvFile> csvFile;
    std::unique_ptr<RunDisplay> runDisplay;
    // The running or last run: its worker, and the worker's calls into this window.
    MeasurementRunner runner;
    std::shared_ptr<MeasurementRunLink> runLink;
    CGraphDlg* graphWindow = nullptr;
};
