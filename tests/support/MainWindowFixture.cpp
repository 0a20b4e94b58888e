#include "tests/support/MainWindowFixture.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "link/ModalInteraction.h"
#include "link/UsbDriver.h"
#include "measure/RunActive.h"
#include "res/StringTable.h"

void SleepHook::Set(std::function<void()> hook) {
    std::lock_guard lock(mutex);
    current = std::move(hook);
}

void SleepHook::Sleep(int) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex);
        hook = current;
    }
    if (hook) {
        hook();
    }
}

MainWindowFixture::MainWindowFixture(const char* applicationName) {
    runActive = 0;
    SetApplicationName(applicationName);
    InstallUsbDriver(driver);
    previousSleep = SetSleepFunction(&SleepHook::Sleep);
    window = std::make_unique<CQiro7Dlg>();
    window->show();
}

MainWindowFixture::~MainWindowFixture() {
    window.reset();
    SleepHook::Set(nullptr);
    SetSleepFunction(previousSleep);
    InstallUsbDriver(nullptr);
    runActive = 0;
}

void MainWindowFixture::Click(int id) {
    QAbstractButton* button = window->Button(id);
    ASSERT_NE(button, nullptr) << id;
    ASSERT_TRUE(button->isEnabled()) << "button " << id << " is disabled";
    button->click();
}

void MainWindowFixture::Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled()) << button->text().toStdString() << " is disabled";
    button->click();
}

void MainWindowFixture::Type(int id, const std::string& text) {
    window->SetControlText(id, text);
}

void MainWindowFixture::AnswerNext(MessageAnswer answer) {
    operatorScript->AnswerNext(answer);
}

void MainWindowFixture::SetRun(const std::string& interval, const std::string& count) {
    Type(IDC_INTERVAL, interval);
    Type(IDC_COUNT, count);
}

// The timer wakes the loop so that a condition changing without an event is seen; the
// watchdog only ends a hang.
bool MainWindowFixture::ServeUntil(const std::function<bool()>& done) {
    QTimer wake;
    wake.start(1);
    const QDeadlineTimer watchdog(120000);
    while (!done()) {
        if (watchdog.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void MainWindowFixture::FinishRun() {
    ASSERT_TRUE(ServeUntil([this] { return !window->IsWorkerRunning(); })) << "the run did not end";
}

std::string MainWindowFixture::Text(int id) const {
    return window->ControlText(id);
}

bool MainWindowFixture::Enabled(int id) const {
    return window->IsControlEnabled(id);
}

std::string MainWindowFixture::String(int id) {
    return LoadResourceString(id);
}

std::vector<std::string> MainWindowFixture::Requests() const {
    return driver->RequestLog();
}
