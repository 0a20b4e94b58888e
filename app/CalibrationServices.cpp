// Zero calibration, the last error code, the instrument log, and the reaction to a run the
// instrument aborted. Not written yet: the handlers and the reaction do nothing.
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnCalibrate() {}

void CQiro7Dlg::OnGetLastError() {}

void CQiro7Dlg::OnLog() {}

void CQiro7Dlg::ReactToMeasurementError() {}
