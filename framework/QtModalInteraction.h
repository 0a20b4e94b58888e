// The operator-interaction seam on Qt: message boxes are QMessageBoxes, the save dialog is a
// QFileDialog. Called from another thread, a request is handed to the window thread with a
// blocking queued call and the caller waits for the operator's answer.
#pragma once

#include <QString>
#include <memory>

#include "link/ModalInteraction.h"

class QMessageBox;

class QtModalInteraction : public ModalInteraction {
public:
    // Any thread; a QApplication must exist.
    MessageAnswer ShowMessageBox(const MessageBoxRequest& request) override;
    bool ChooseSaveFileName(const SaveFileRequest& request, std::string& path) override;

protected:
    // Window thread: shows the box or dialog and waits for the operator.
    virtual MessageAnswer RunMessageBox(const MessageBoxRequest& request);
    virtual bool RunSaveFileDialog(const SaveFileRequest& request, std::string& path);
};

// The box for a request, not yet shown; request.owner, when set, is its parent QWidget.
std::unique_ptr<QMessageBox> MakeMessageBox(const MessageBoxRequest& request);

// The framework's filter text ("csv file(*.csv)|*.csv|...||") as a Qt name filter list
// ("csv file(*.csv);;..."); each pattern shows in parentheses so Qt filters by it.
QString QtNameFilters(const std::string& frameworkFilter);
