// The instrument log: its text rows, the modal log window and how it closes, and the Log button.
#include <QAbstractButton>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/LogDlg.h"
#include "tests/services/ServicesFixture.h"

namespace {

TEST(LogText, EveryCarriageReturnEndsARow) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"one line", "one line"},
        {"a\rb", "a\r\nb"},
        {"a\rb\rc", "a\r\nb\r\nc"},
        {"trailing\r", "trailing\r\n"},
        {"\r\r", "\r\n\r\n"},
    };
    for (const auto& [log, shown] : cases) {
        EXPECT_EQ(LogTextForDisplay(log), shown) << '"' << log << '"';
    }
}

const std::vector<std::string> kLogLines = {"0001 POWER ON", "0002 NO ERROR",
                                            "0003 ZERO CALIBRATION DONE"};

// What the test saw of the log window while it was open.
struct OpenLogWindow {
    bool found = false;
    std::string caption;
    std::string text;
    int rows = 0;
    bool readOnly = false;
    bool closeBox = true;
    std::string closeCaption;
    UiState mainWindowState = UiState::Initial;
    bool stayedOpen = false;
};

using CloseAction = std::function<void(CLogDlg&)>;

class LogWindow : public ServicesTest {
protected:
    // Clicks "Log" and, once the log window runs its modal loop, looks at it and closes it.
    OpenLogWindow ClickLogAndClose(const CloseAction& close) {
        OpenLogWindow seenWindow;
        // A local timer: when no window opens it is cancelled here, never fired later.
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [this, &seenWindow, &close] {
            auto* logWindow = qobject_cast<CLogDlg*>(QApplication::activeModalWidget());
            if (logWindow == nullptr) {
                return;
            }
            seenWindow.found = true;
            Inspect(*logWindow, seenWindow);
            close(*logWindow);
            if (logWindow->isVisible()) {
                seenWindow.stayedOpen = true;
                logWindow->done(QDialog::Rejected);
            }
        });
        timer.start(0);
        Click(IDC_LOG);
        return seenWindow;
    }

    void Inspect(CLogDlg& logWindow, OpenLogWindow& seenWindow) const {
        seenWindow.caption = logWindow.QWidget::windowTitle().toStdString();
        seenWindow.text = logWindow.ControlText(IDC_LOG_TEXT);
        const auto* box = qobject_cast<QPlainTextEdit*>(logWindow.Control(IDC_LOG_TEXT));
        if (box != nullptr) {
            seenWindow.rows = box->document()->blockCount();
            seenWindow.readOnly = box->isReadOnly();
        }
        seenWindow.closeBox = logWindow.windowFlags().testFlag(Qt::WindowCloseButtonHint);
        seenWindow.closeCaption = logWindow.ControlText(IDC_LOG_CLOSE);
        seenWindow.mainWindowState = ShownState();
    }
};

TEST_F(LogWindow, ShowsOneLogLinePerRowReadOnlyWhileTheMainWindowIsBusy) {
    driver->Instrument()->SetLog(kLogLines);
    ConnectFirst();

    const OpenLogWindow shown =
        ClickLogAndClose([](CLogDlg& logWindow) { logWindow.Button(IDC_LOG_CLOSE)->click(); });

    ASSERT_TRUE(shown.found) << "no modal log window";
    EXPECT_EQ(shown.caption, "Log");
    EXPECT_EQ(shown.text, "0001 POWER ON\r\n0002 NO ERROR\r\n0003 ZERO CALIBRATION DONE");
    EXPECT_EQ(shown.rows, 3);
    EXPECT_TRUE(shown.readOnly);
    EXPECT_FALSE(shown.closeBox) << "the title bar's close box is greyed";
    EXPECT_EQ(shown.closeCaption, "Close");
    EXPECT_EQ(shown.mainWindowState, UiState::Busy);
    EXPECT_FALSE(shown.stayedOpen);
    EXPECT_EQ(Requests(), std::vector<std::string>{"LOG"});
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(ShownState(), UiState::Connected);
}

struct CloseCase {
    const char* name;
    CloseAction close;
};

TEST_F(LogWindow, CloseEscAndEnterAllCloseIt) {
    const CloseCase cases[] = {
        {"Close", [](CLogDlg& w) { w.Button(IDC_LOG_CLOSE)->click(); }},
        {"Esc on the text",
         [](CLogDlg& w) { QTest::keyClick(w.Control(IDC_LOG_TEXT), Qt::Key_Escape); }},
        {"Enter on the text",
         [](CLogDlg& w) { QTest::keyClick(w.Control(IDC_LOG_TEXT), Qt::Key_Return); }},
        {"Enter on Close",
         [](CLogDlg& w) { QTest::keyClick(w.Button(IDC_LOG_CLOSE), Qt::Key_Return); }},
        {"Esc on the window", [](CLogDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
    };
    driver->Instrument()->SetLog(kLogLines);
    for (const CloseCase& c : cases) {
        ConnectFirst();

        const OpenLogWindow shown = ClickLogAndClose(c.close);

        ASSERT_TRUE(shown.found) << c.name;
        EXPECT_FALSE(shown.stayedOpen) << c.name;
        EXPECT_EQ(ShownState(), UiState::Connected) << c.name;
    }
}

TEST_F(LogWindow, AFailedReadShowsNoWindowAndEndsDisconnected) {
    ConnectFirst();
    driver->Instrument()->SetSilentFromCommand("LOG");

    const OpenLogWindow shown = ClickLogAndClose([](CLogDlg&) {});

    EXPECT_FALSE(shown.found);
    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTING_ERROR, MessageIcon::Exclamation);
    EXPECT_EQ(seen[0].state, UiState::Disconnected);
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

}  // namespace
