#include "framework/MessageBoxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <system_error>

#include "framework/WaitCursor.h"
#include "res/StringTable.h"
#include "tests/support/ScriptedModalInteraction.h"

namespace {

TEST(MessageBoxes, StringBoxesAndPromptsCarryTheirCaptions) {
    ScopedScriptedInteraction operatorScript;
    SetApplicationName("app_tests");
    QWidget owner;
    ShowStringMessage(IDS_FILE_SAVED, MessageIcon::Information, MessageButtons::Ok, &owner);
    ShowFrameworkPrompt("Enter a number.", &owner);

    const std::vector<MessageBoxRequest> boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "The saving file is completed.");
    EXPECT_EQ(boxes[0].caption, "QIRO-7");
    EXPECT_EQ(boxes[1].text, "Enter a number.");
    EXPECT_EQ(boxes[1].caption, "app_tests");
    EXPECT_EQ(boxes[1].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes[1].owner, &owner);
}

TEST(MessageBoxes, TheSystemErrorBoxShowsThePlatformsTextWithoutCaption) {
    ScopedScriptedInteraction operatorScript;
    QWidget owner;
    const std::error_code error = std::make_error_code(std::errc::permission_denied);
    ShowSystemError(error, &owner);

    ASSERT_EQ(operatorScript->Boxes().size(), 1u);
    const MessageBoxRequest box = operatorScript->Boxes().front();
    EXPECT_EQ(box.text, error.message());
    EXPECT_FALSE(box.text.empty());
    EXPECT_EQ(box.caption, "");
    EXPECT_EQ(box.icon, MessageIcon::Error);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.owner, &owner);
}

TEST(WaitCursorGuard, ShowsTheWaitCursorWhileAliveAndNests) {
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    {
        WaitCursor outer;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        { WaitCursor inner; }
        ASSERT_NE(QApplication::overrideCursor(), nullptr) << "the outer guard still holds";
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
