// Connection and the full information read. Not written yet: the handlers do nothing and the
// read reports "instrument not found".
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnConnect() {}

void CQiro7Dlg::OnRefresh() {}

int CQiro7Dlg::ReadInstrumentInfo() {
    return -1;
}
