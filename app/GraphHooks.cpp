// Where the main window drives the graph window. The graph window is not written yet, so
// graphWindow stays null and these do nothing.
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnShowGraph() {}

void CQiro7Dlg::CopyStartStopToGraphWindow() {}

void CQiro7Dlg::SetGraphStartCaption(bool) {}
