#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Qiro7App.h"
#include "app/Qiro7Dlg.h"
#include "tests/support/ScriptedModalInteraction.h"

namespace {

namespace fs = std::filesystem;

const char* const kTestLockName = "qiro7-app-startup-test";

class ApplicationStartup : public testing::Test {
protected:
    void SetUp() override {
        if (const char* value = std::getenv("XDG_RUNTIME_DIR")) {
            savedRuntimeDir = value;
        }
        std::string pattern = (fs::temp_directory_path() / "qiro7-app-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
        options.lockName = kTestLockName;
    }
    void TearDown() override {
        if (savedRuntimeDir) {
            setenv("XDG_RUNTIME_DIR", savedRuntimeDir->c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        fs::remove_all(folder);
    }

    // Once the main window runs modally: looks at it, runs check, then quits it with Yes.
    void WhenTheWindowRuns(std::function<void(CQiro7Dlg&)> check) {
        QTimer::singleShot(0, [this, check] {
            auto* window = qobject_cast<CQiro7Dlg*>(QApplication::activeModalWidget());
            if (window == nullptr) {
                ADD_FAILURE() << "no modal main window";
                return;
            }
            shownTitle = window->QWidget::windowTitle().toStdString();
            check(*window);
            operatorScript->AnswerNext(MessageAnswer::Yes);
            window->Button(IDC_QUIT)->click();
        });
    }

    ScopedScriptedInteraction operatorScript;
    CQiro7App::Options options;
    std::optional<std::string> shownTitle;
    std::optional<std::string> savedRuntimeDir;
    fs::path folder;
};

TEST_F(ApplicationStartup, RunsTheMainWindowWithTheVersionTitleUntilQuit) {
    WhenTheWindowRuns([](CQiro7Dlg&) {});
    CQiro7App program(options);
    EXPECT_EQ(program.Run(), 0);
    EXPECT_FALSE(program.StartRefused());
    EXPECT_EQ(shownTitle, "QIRO-7 ver 1.1.0");
    EXPECT_EQ(operatorScript->Texts(), std::vector<std::string>{"Are you sure you want to quit?"});
    EXPECT_EQ(ApplicationName(), "app_tests") << "named after the executable";
}

TEST_F(ApplicationStartup, TheTitleCarriesTheGivenSuffix) {
    options.titleSuffix = " [simulated instrument]";
    WhenTheWindowRuns([](CQiro7Dlg&) {});
    CQiro7App program(options);
    program.Run();
    EXPECT_EQ(shownTitle, "QIRO-7 ver 1.1.0 [simulated instrument]");
}

TEST_F(ApplicationStartup, ASecondCopyIsRefusedWhileTheFirstRunsAndANewOneStartsAfterIt) {
    int secondExitCode = -1;
    bool secondShowedAWindow = true;
    WhenTheWindowRuns([this, &secondExitCode, &secondShowedAWindow](CQiro7Dlg& first) {
        CQiro7App second(options);
        secondExitCode = second.Run();
        secondShowedAWindow = QApplication::activeModalWidget() != &first;
        EXPECT_TRUE(first.isVisible()) << "the first copy is unaffected";
    });
    CQiro7App first(options);
    EXPECT_EQ(first.Run(), 0);

    EXPECT_EQ(secondExitCode, 1);
    EXPECT_FALSE(secondShowedAWindow);
    const std::vector<MessageBoxRequest> boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Multiple launches of this application is not allowed.");
    EXPECT_EQ(boxes[0].caption, "app_tests");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[1].text, "Are you sure you want to quit?");

    operatorScript->Clear();
    shownTitle.reset();
    WhenTheWindowRuns([](CQiro7Dlg&) {});
    CQiro7App third(options);
    EXPECT_EQ(third.Run(), 0);
    EXPECT_EQ(shownTitle, "QIRO-7 ver 1.1.0");
}

TEST_F(ApplicationStartup, ALockHeldElsewhereRefusesTheStartWithoutAWindow) {
    SingleInstanceLock other(kTestLockName);
    ASSERT_TRUE(other.Acquire());
    CQiro7App program(options);
    EXPECT_EQ(program.Run(), 1);
    EXPECT_TRUE(program.StartRefused());
    EXPECT_FALSE(shownTitle.has_value());
    EXPECT_EQ(operatorScript->Texts(),
              std::vector<std::string>{"Multiple launches of this application is not allowed."});
}

}  // namespace

#endif
