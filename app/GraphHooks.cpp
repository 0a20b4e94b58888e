// Where the main window drives the graph window: "Show Graph" and the graph window's copy of
// the start/stop button. Window thread.
#include "app/Qiro7Dlg.h"
#include "graph/GraphDlg.h"
#include "measure/CreditRule.h"
#include "measure/RunActive.h"

void CQiro7Dlg::OnShowGraph() {
    if (graphWindow == nullptr) {
        graphWindow = new CGraphDlg(this);
    }
    graphWindow->ResetForRun(RunIntervalMs(runIntervalSeconds, PeriodMs(runAveragingIndex)));
    graphWindow->ShowRunSamples(samples.Snapshot());
    graphWindow->ShowGraphWindow(true);
    graphWindow->SetStartCaption(runActive.load() == 0);
    graphWindow->EnableControl(IDC_GRAPH_START_STOP, IsControlEnabled(IDC_START_STOP));
}

void CQiro7Dlg::CopyStartStopToGraphWindow() {
    if (graphWindow == nullptr) {
        return;
    }
    graphWindow->SetControlText(IDC_GRAPH_START_STOP, ControlText(IDC_START_STOP));
    graphWindow->EnableControl(IDC_GRAPH_START_STOP, IsControlEnabled(IDC_START_STOP));
    graphWindow->update();
}

void CQiro7Dlg::SetGraphStartCaption(bool start) {
    if (graphWindow != nullptr && graphWindow->isVisible()) {
        graphWindow->SetStartCaption(start);
    }
}
