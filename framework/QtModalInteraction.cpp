#include "framework/QtModalInteraction.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QThread>

#include "framework/FrameworkText.h"
#include "framework/QtText.h"
#include "framework/ThreadHandoff.h"

namespace {

QMessageBox::Icon QtIconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Exclamation:
            return QMessageBox::Warning;
        case MessageIcon::Question:
            return QMessageBox::Question;
        case MessageIcon::Error:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QWidget* OwnerWidget(void* owner) {
    return static_cast<QWidget*>(owner);
}

bool IsWindowThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

// Runs call on the window thread and waits for it; false when there is no application.
template <typename Call>
bool RunOnWindowThread(Call&& call) {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) {
        return false;
    }
    if (IsWindowThread()) {
        call();
        return true;
    }
    const bool ran = QMetaObject::invokeMethod(application, HandedOffCall([&call] {
                                                   call();
                                                   HandOff();
                                               }),
                                               Qt::BlockingQueuedConnection);
    TakeOver();
    return ran;
}

QString NameFilter(const FileFilterEntry& entry) {
    QString patterns = ToQString(entry.pattern);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString description = ToQString(entry.description);
    const QString bracketed = QLatin1Char('(') + patterns + QLatin1Char(')');
    return description.endsWith(bracketed) ? description
                                           : description + QLatin1Char(' ') + bracketed;
}

}  // namespace

MessageAnswer QtModalInteraction::ShowMessageBox(const MessageBoxRequest& request) {
    MessageAnswer answer = DefaultAnswer(request);
    RunOnWindowThread([this, &request, &answer] { answer = RunMessageBox(request); });
    return answer;
}

bool QtModalInteraction::ChooseSaveFileName(const SaveFileRequest& request, std::string& path) {
    bool chosen = false;
    RunOnWindowThread(
        [this, &request, &path, &chosen] { chosen = RunSaveFileDialog(request, path); });
    return chosen;
}

MessageAnswer QtModalInteraction::RunMessageBox(const MessageBoxRequest& request) {
    const std::unique_ptr<QMessageBox> box = MakeMessageBox(request);
    const int pressed = box->exec();
    if (request.buttons == MessageButtons::Ok) {
        return MessageAnswer::Ok;
    }
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

bool QtModalInteraction::RunSaveFileDialog(const SaveFileRequest& request, std::string& path) {
    QFileDialog dialog(OwnerWidget(request.owner));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtNameFilters(request.filter).split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(ToQString(request.defaultExtension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.promptOverwrite);
    dialog.selectFile(ToQString(request.initialFileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    path = ToStdString(dialog.selectedFiles().constFirst());
    return true;
}

std::unique_ptr<QMessageBox> MakeMessageBox(const MessageBoxRequest& request) {
    const QMessageBox::StandardButtons buttons = request.buttons == MessageButtons::YesNo
                                                     ? QMessageBox::Yes | QMessageBox::No
                                                     : QMessageBox::Ok;
    auto box =
        std::make_unique<QMessageBox>(QtIconOf(request.icon), ToQString(request.caption),
                                      ToQString(request.text), buttons, OwnerWidget(request.owner));
    box->setTextFormat(Qt::PlainText);
    return box;
}

QString QtNameFilters(const std::string& frameworkFilter) {
    QStringList filters;
    for (const FileFilterEntry& entry : ParseFileDialogFilter(frameworkFilter)) {
        filters.append(NameFilter(entry));
    }
    return filters.join(QStringLiteral(";;"));
}
