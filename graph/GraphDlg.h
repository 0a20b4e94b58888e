// CGraphDlg: the graph window (template 103). Modeless; the main window creates it once, keeps
// it (a child object, destroyed with the main window) and afterwards only shows, hides, resets
// and feeds it. It hosts the graph control, lets the operator choose the quantity drawn and
// all samples or a range of sample numbers, and starts or stops a run through the main window.
// "Close" only hides it; the close box is greyed, Esc and Enter do nothing.
//
// Threads: AddRunSample and AddRunSamples may run on any thread; everything else on the window
// thread.
#pragma once

#include <string>
#include <vector>

#include "framework/TemplateDialog.h"
#include "graph/RealTimeGraph.h"
#include "measure/MeasurementSample.h"

class QAbstractButton;
class QLabel;
class QLineEdit;

class CGraphDlg : public CTemplateDialog {
    Q_OBJECT

public:
    // Created hidden; the framework initialises the window when it is first shown. "Start/Stop"
    // goes to parent as WM_APP_TOGGLE_MEAS when parent is a template dialog (the main window).
    explicit CGraphDlg(QWidget* parent);
    ~CGraphDlg() override;

    // Prepares the window and the graph for a run, with the radio choices last stored.
    void ResetForRun(double intervalMs);
    // The graph holds the origin entry and a copy of these, then the count text follows.
    void ShowRunSamples(const std::vector<MeasurementSample>& samples);
    // Sample `number` (counted from 1) of the run: a copy goes to the graph unless the graph
    // holds that many samples already (a reload took it in while the sample was on its way),
    // and the count text follows on the window thread. Any thread; from another one it returns
    // once the text is set.
    void AddRunSample(const MeasurementSample& sample, std::size_t number);
    // The same for samples numbered firstNumber, firstNumber + 1, ..., drawn with one repaint.
    void AddRunSamples(const std::vector<MeasurementSample>& samples, std::size_t firstNumber);
    // "Start" when start is true, else "Stop".
    void SetStartCaption(bool start);
    void ShowGraphWindow(bool show);

    // Button handlers: "Setting" (1098) and "Start/Stop" (1099).
    void OnSetting();
    void OnStartStop();

    CRealTimeGraph& GraphControl() { return graphControl; }

    // Bound values: the radio groups 1082 and 1094 and the text of 1103.
    int dataTypeIndex = Irradiance;
    int countModeIndex = 0;  // 0 "ALL", 1 range
    std::string intervalText;

protected:
    void DoDataExchange(CDataExchange& exchange) override;
    bool OnInitDialog() override;
    void OnCommand(int id) override;

private:
    // The caption of the data-type radio at index, empty for any other index.
    std::string DataTypeCaption(int index) const;
    void SetCountText();
    // Checks one range edit as "Setting" does; false after the message and the focus move.
    bool ReadRangeEdit(int editId, int& value);
    void RejectRangeInput(int focusId);

    CRealTimeGraph graphControl;
    QAbstractButton* startStopButton;
    QLineEdit* rangeFromEdit;
    QLineEdit* rangeToEdit;
    QLabel* countLabel;
};
