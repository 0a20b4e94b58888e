// CSV output: choosing the file, preparing it, the run's automatic output and the manual one.
// Window thread; during a run the worker writes the lines of the automatic output.
#include <QWidget>

#include "app/Qiro7Dlg.h"
#include "framework/MessageBoxes.h"
#include "framework/WaitCursor.h"
#include "res/StringTable.h"

namespace {

constexpr const char* kCsvFileFilter = "csv file(*.csv)|*.csv|all file(*.*)|*.*||";

}  // namespace

void CQiro7Dlg::OnBrowse() {
    UpdateData(true);
    SaveFileRequest request;
    request.filter = kCsvFileFilter;
    request.defaultExtension = "csv";
    request.initialFileName = ControlText(IDC_CSV_FILE_NAME);
    request.promptOverwrite = true;
    request.owner = static_cast<QWidget*>(this);
    std::string chosen;
    if (!ActiveModalInteraction()->ChooseSaveFileName(request, chosen)) {
        return;
    }
    SetControlText(IDC_CSV_FILE_NAME, chosen);
    UpdateData(false);
}

void CQiro7Dlg::OnOutput() {
    std::string path;
    if (PrepareOutputFile(path) == 0) {
        return;
    }
    WaitCursor wait;
    if (WriteCsvFile(path) != 0) {
        ShowInfo(IDS_FILE_SAVED);
    }
}

// Leaves an empty file of the box's name, so the file will hold exactly one run.
int CQiro7Dlg::PrepareOutputFile(std::string& path) {
    const std::string name = ControlText(IDC_CSV_FILE_NAME);
    if (name.empty()) {
        ShowError(IDS_INPUT_FILE_NAME);
        return 0;
    }
    if (PathExists(name)) {
        if (AskYesNo(IDS_CONFIRM_REPLACE_FILE) == MessageAnswer::No) {
            return 0;
        }
        if (const std::error_code error = DeleteFileOnly(name)) {
            ShowSystemError(error, static_cast<QWidget*>(this));
            return 0;
        }
    }
    std::error_code error;
    std::unique_ptr<CsvFile> file = CsvFile::Open(name, error);
    path = FullPath(name);
    SetControlText(IDC_CSV_FILE_NAME, path);
    UpdateData(false);
    if (file == nullptr) {
        ShowSystemError(error, static_cast<QWidget*>(this));
        return 0;
    }
    file->Close();
    return 1;
}

int CQiro7Dlg::OpenRunOutputFile(const std::string& path) {
    std::error_code error;
    csvFile = CsvFile::Open(path, error);
    if (csvFile == nullptr) {
        ShowSystemError(error, static_cast<QWidget*>(this));
        return 0;
    }
    return 1;
}

// A run whose file misses lines says so, so an incomplete file is never taken for a whole run.
// Closed first: the file's last sync counts like a line.
void CQiro7Dlg::CloseRunOutputFile() {
    if (csvFile == nullptr) {
        return;
    }
    const bool closeFailed = static_cast<bool>(csvFile->Close());
    const bool anyLineFailed = csvFile->AnyLineFailed() || closeFailed;
    csvFile.reset();
    if (anyLineFailed) {
        ShowError(IDS_FILE_OUTPUT_FAILED);
    }
}

// Lines already written stay in the file when a later one fails.
int CQiro7Dlg::WriteCsvFile(const std::string& path) {
    std::error_code error;
    std::unique_ptr<CsvFile> file = CsvFile::Open(path, error);
    if (file == nullptr) {
        ShowSystemError(error, static_cast<QWidget*>(this));
        return 0;
    }
    for (const MeasurementSample& sample : samples.Snapshot()) {
        if (!file->WriteLine(sample)) {
            ShowError(IDS_FILE_OUTPUT_FAILED);
            return 0;
        }
    }
    if (file->Close()) {
        ShowError(IDS_FILE_OUTPUT_FAILED);
        return 0;
    }
    return 1;
}
