// The window's side of a measurement run: start and stop, the samples as they arrive, reset.
// Not written yet: the handlers do nothing and received lines are dropped.
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnStartStopMeas() {}

void CQiro7Dlg::OnReset() {}

void CQiro7Dlg::AppendSample(const std::string&) {}

// The start sets runActive before the worker exists, so "Stop" is never taken for a start.
bool CQiro7Dlg::SetsRunActiveBeforeStart() const {
    return true;
}
