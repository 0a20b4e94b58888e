// CSV output: choosing the file, preparing it, the run's automatic output and the manual one.
// Not written yet: the handlers do nothing and every service reports failure.
#include "app/Qiro7Dlg.h"

void CQiro7Dlg::OnBrowse() {}

void CQiro7Dlg::OnOutput() {}

int CQiro7Dlg::PrepareOutputFile(std::string& path) {
    path.clear();
    return 0;
}

int CQiro7Dlg::OpenRunOutputFile(const std::string&) {
    return 0;
}

void CQiro7Dlg::CloseRunOutputFile() {}

int CQiro7Dlg::WriteCsvFile(const std::string&) {
    return 0;
}
