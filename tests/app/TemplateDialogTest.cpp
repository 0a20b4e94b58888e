#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QThread>
#include <thread>

#include "framework/QtModalInteraction.h"
#include "framework/TemplateDialog.h"

namespace {

class MainTemplateDialog : public testing::Test {
protected:
    CTemplateDialog dialog{IDD_QIRO7_DIALOG};
};

TEST_F(MainTemplateDialog, EveryControlSitsAtItsTemplatePositionInPixels) {
    const DialogBaseUnits& base = dialog.BaseUnits();
    ASSERT_GT(base.x, 0);
    ASSERT_GT(base.y, 0);
    const PixelRect size = DialogRectToPixels(0, 0, 530, 362, base);
    EXPECT_EQ(dialog.width(), size.width);
    EXPECT_EQ(dialog.height(), size.height);

    const QList<QWidget*> children = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), qsizetype(dialog.Template().controls.size()));
    for (const ControlTemplate& control : dialog.Template().controls) {
        const PixelRect expected =
            DialogRectToPixels(control.x, control.y, control.width, control.height, base);
        const QRect rect(expected.x, expected.y, expected.width, expected.height);
        const bool placed =
            std::any_of(children.begin(), children.end(),
                        [&rect](const QWidget* w) { return w->geometry() == rect; });
        EXPECT_TRUE(placed) << control.caption << " " << control.id;
        if (control.id != IDC_STATIC) {
            ASSERT_NE(dialog.Control(control.id), nullptr) << control.id;
            EXPECT_EQ(dialog.Control(control.id)->geometry(), rect) << control.id;
        }
    }
    EXPECT_EQ(dialog.Control(4242), nullptr);
}

TEST_F(MainTemplateDialog, ControlsAreOfTheirTemplateKinds) {
    EXPECT_NE(qobject_cast<QAbstractButton*>(dialog.Control(IDC_CONNECT)), nullptr);
    EXPECT_TRUE(dialog.Button(IDC_GRAPH)->isCheckable());
    EXPECT_TRUE(dialog.Button(IDC_RANGE_AUTO)->isCheckable());
    auto* received = qobject_cast<QPlainTextEdit*>(dialog.Control(IDC_RECEIVED));
    ASSERT_NE(received, nullptr);
    EXPECT_TRUE(received->isReadOnly());
    EXPECT_EQ(received->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    auto* label = qobject_cast<QLabel*>(dialog.Control(IDC_LAST_ERROR_CODE));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText) << "instrument text must never become markup";
}

// Frames are stacked below every other control, so none can hide a control it frames (the
// "Received" frame comes after its list in the template).
TEST_F(MainTemplateDialog, GroupBoxesLieBelowEveryOtherControl) {
    const QObjectList stack = dialog.children();  // bottom to top
    qsizetype highestFrame = -1;
    qsizetype lowestControl = stack.size();
    for (qsizetype index = 0; index < stack.size(); ++index) {
        if (!stack[index]->isWidgetType()) {
            continue;
        }
        if (qobject_cast<QGroupBox*>(stack[index]) != nullptr) {
            highestFrame = index;
        } else {
            lowestControl = std::min(lowestControl, index);
        }
    }
    EXPECT_LT(highestFrame, lowestControl);
}

TEST_F(MainTemplateDialog, RadioGroupsAreIndependentOfEachOther) {
    dialog.Button(IDC_RANGE_A1)->click();
    dialog.Button(IDC_FREQUENCY_60HZ)->click();
    dialog.Button(IDC_RANGE_F3)->click();
    EXPECT_EQ(dialog.CheckedRadioIndex(IDC_RANGE_AUTO), 6);
    EXPECT_FALSE(dialog.IsButtonChecked(IDC_RANGE_A1));
    EXPECT_EQ(dialog.CheckedRadioIndex(IDC_FREQUENCY_50HZ), 1);
    EXPECT_EQ(dialog.CheckedRadioIndex(IDC_ANALOG_SLOW), -1);
}

struct RadioCase {
    int leader;
    int index;
    int checkedId;  // 0: none checked
};

TEST_F(MainTemplateDialog, ARadioGroupShowsTheIndexOrNoSelectionAtAll) {
    const RadioCase cases[] = {
        {IDC_RANGE_AUTO, 3, IDC_RANGE_A3},
        {IDC_RANGE_AUTO, -1, 0},
        {IDC_ANALOG_SLOW, 0, IDC_ANALOG_SLOW},
        {IDC_ANALOG_SLOW, 1, IDC_ANALOG_FAST},
        {IDC_ANALOG_SLOW, -1, 0},
        {IDC_AVERAGING_1, 4, IDC_AVERAGING_5},
        {IDC_AVERAGING_1, 5, 0},  // a reading with no button of its own
        {IDC_FACTOR_ON, 1, IDC_FACTOR_OFF},
        {IDC_FACTOR_ON, 2, 0},
    };
    for (const RadioCase& c : cases) {
        dialog.CheckRadioIndex(c.leader, c.index);
        for (QAbstractButton* button : dialog.RadioGroup(c.leader)->buttons()) {
            const bool expected = c.checkedId != 0 && button == dialog.Button(c.checkedId);
            EXPECT_EQ(button->isChecked(), expected) << "group " << c.leader << " index " << c.index
                                                     << " button " << button->text().toStdString();
        }
        EXPECT_EQ(dialog.CheckedRadioIndex(c.leader), c.checkedId != 0 ? c.index : -1);
    }
    dialog.Button(IDC_ANALOG_FAST)->click();
    EXPECT_EQ(dialog.CheckedRadioIndex(IDC_ANALOG_SLOW), 1) << "still exclusive after clearing";
}

// The next control Tab reaches: template order, skipping controls without a tab stop.
int NextTabStop(const CTemplateDialog& dialog, int id) {
    for (QWidget* widget = dialog.Control(id)->nextInFocusChain(); widget != dialog.Control(id);
         widget = widget->nextInFocusChain()) {
        if ((widget->focusPolicy() & Qt::TabFocus) == 0) {
            continue;
        }
        for (const ControlTemplate& control : dialog.Template().controls) {
            if (control.id != IDC_STATIC && dialog.Control(control.id) == widget) {
                return control.id;
            }
        }
    }
    return 0;
}

struct TabStep {
    int templateId;
    int from;
    int to;
};

TEST(TemplateDialogTabs, TabFollowsTheTemplateOrderThroughTabStopsOnly) {
    const TabStep steps[] = {
        {IDD_QIRO7_DIALOG, IDC_CONNECT, IDC_QUIT},
        {IDD_QIRO7_DIALOG, IDC_MODEL, IDC_SERIAL_NUMBER},
        {IDD_QIRO7_DIALOG, IDC_MAINTENANCE_DATE, IDC_VERSION},
        {IDD_QIRO7_DIALOG, IDC_RANGE_AUTO, IDC_FREQUENCY_50HZ},  // one stop per radio group
        {IDD_QIRO7_DIALOG, IDC_CORRECTION_FACTOR, IDC_ZERO_CALIBRATION_ON},
        {IDD_QIRO7_DIALOG, IDC_ZERO_CALIBRATION_ON, IDC_CALIBRATE},
        {IDD_QIRO7_DIALOG, IDC_RECEIVED, IDC_RESET},
        // The graph window stops at its two range edits and "Close" only: neither radio group,
        // "Setting" nor "Start/Stop" is a tab stop.
        {IDD_GRAPH_DIALOG, IDC_IRRADIANCE, IDC_COUNT_FROM},
        {IDD_GRAPH_DIALOG, IDC_COUNT_FROM, IDC_COUNT_TO},
        {IDD_GRAPH_DIALOG, IDC_COUNT_TO, IDC_GRAPH_CLOSE},
        {IDD_GRAPH_DIALOG, IDC_GRAPH_CLOSE, IDC_COUNT_FROM},
    };
    for (const TabStep& step : steps) {
        const CTemplateDialog dialog(step.templateId);
        EXPECT_EQ(NextTabStop(dialog, step.from), step.to)
            << "template " << step.templateId << " from " << step.from;
    }
}

TEST_F(MainTemplateDialog, MultiLineTextKeepsCrLfLineEndsAndLabelsKeepMarkupAsText) {
    dialog.SetControlText(IDC_RECEIVED, "1.0 2.0 3.0\r\n4.0 5.0 6.0\r\n");
    EXPECT_EQ(dialog.ControlText(IDC_RECEIVED), "1.0 2.0 3.0\r\n4.0 5.0 6.0\r\n");
    EXPECT_EQ(qobject_cast<QPlainTextEdit*>(dialog.Control(IDC_RECEIVED))->blockCount(), 3);

    dialog.SetControlText(IDC_LAST_ERROR_CODE, "<b>5</b>");
    EXPECT_EQ(dialog.ControlText(IDC_LAST_ERROR_CODE), "<b>5</b>");
    dialog.SetControlText(IDC_START_STOP, "Stop");
    EXPECT_EQ(dialog.ControlText(IDC_START_STOP), "Stop");
}

struct WrapCase {
    int templateId;
    int boxId;
    bool wraps;
};

// A multi-line box that scrolls to the side keeps each line on one row, without a scroll bar
// of its own for that; any other wraps its lines.
TEST(TemplateDialogText, AMultiLineBoxWrapsLongLinesOnlyWhenItDoesNotScrollToTheSide) {
    const WrapCase cases[] = {{IDD_QIRO7_DIALOG, IDC_RECEIVED, false},
                              {IDD_LOG_DIALOG, IDC_LOG_TEXT, true}};
    std::string longLine;
    for (int sample = 0; sample < 20; ++sample) {
        longLine += "1.234E-3 ";
    }
    for (const WrapCase& c : cases) {
        CTemplateDialog dialog(c.templateId);
        dialog.show();
        dialog.SetControlText(c.boxId, longLine);
        auto* box = qobject_cast<QPlainTextEdit*>(dialog.Control(c.boxId));
        ASSERT_NE(box, nullptr);
        const QTextBlock line = box->document()->firstBlock();
        QCoreApplication::processEvents();  // lays the box out, its scroll bars included
        EXPECT_EQ(line.layout()->lineCount() > 1, c.wraps) << "box " << c.boxId;
        EXPECT_FALSE(box->horizontalScrollBar()->isVisible()) << "box " << c.boxId;
    }
}

// Without an accelerator table a template dialog answers keys as any dialog does.
TEST(TemplateDialogKeys, EnterGivesTheOkCommandAndEscTheCancelCommand) {
    const std::pair<Qt::Key, int> cases[] = {{Qt::Key_Return, QDialog::Accepted},
                                             {Qt::Key_Enter, QDialog::Accepted},
                                             {Qt::Key_Escape, QDialog::Rejected}};
    for (const auto& [key, result] : cases) {
        CTemplateDialog dialog(IDD_QIRO7_DIALOG);
        dialog.show();
        dialog.FocusControl(IDC_INTERVAL);
        dialog.setResult(-1);
        QTest::keyClick(dialog.Control(IDC_INTERVAL), key);
        EXPECT_FALSE(dialog.isVisible()) << key;
        EXPECT_EQ(dialog.result(), result) << key;
    }
}

struct IconCase {
    MessageIcon icon;
    QMessageBox::Icon qtIcon;
};

TEST(QtMessageBox, ShowsTheRequestsTextCaptionIconButtonsAndOwner) {
    QWidget owner;
    const IconCase cases[] = {
        {MessageIcon::None, QMessageBox::NoIcon},
        {MessageIcon::Information, QMessageBox::Information},
        {MessageIcon::Exclamation, QMessageBox::Warning},
        {MessageIcon::Question, QMessageBox::Question},
        {MessageIcon::Error, QMessageBox::Critical},
    };
    for (const IconCase& c : cases) {
        MessageBoxRequest request;
        request.text = "Are you sure you want to quit?";
        request.caption = "QIRO-7";
        request.icon = c.icon;
        request.buttons =
            c.icon == MessageIcon::Question ? MessageButtons::YesNo : MessageButtons::Ok;
        request.owner = &owner;
        const std::unique_ptr<QMessageBox> box = MakeMessageBox(request);
        EXPECT_EQ(box->icon(), c.qtIcon);
        EXPECT_EQ(box->text(), "Are you sure you want to quit?");
        EXPECT_EQ(box->windowTitle(), "QIRO-7");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->parentWidget(), &owner);
        EXPECT_EQ(box->standardButtons(), c.icon == MessageIcon::Question
                                              ? (QMessageBox::Yes | QMessageBox::No)
                                              : QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

TEST(QtFileDialogFilter, ShowsEachPatternInParentheses) {
    EXPECT_EQ(QtNameFilters("csv file(*.csv)|*.csv|all file(*.*)|*.*||"),
              "csv file(*.csv);;all file(*.*)");
    EXPECT_EQ(QtNameFilters("Text|*.txt;*.log||"), "Text (*.txt *.log)");
}

// Records where boxes and dialogs ran instead of showing them.
class RecordingInteraction final : public QtModalInteraction {
public:
    QThread* boxThread = nullptr;
    QThread* dialogThread = nullptr;

protected:
    MessageAnswer RunMessageBox(const MessageBoxRequest&) override {
        boxThread = QThread::currentThread();
        return MessageAnswer::Yes;
    }
    bool RunSaveFileDialog(const SaveFileRequest&, std::string& path) override {
        dialogThread = QThread::currentThread();
        path = "/data/run.csv";
        return true;
    }
};

TEST(QtModalInteractionThreads, AnotherThreadsRequestRunsOnTheWindowThreadAndWaits) {
    RecordingInteraction interaction;
    MessageAnswer answer = MessageAnswer::Ok;
    bool chosen = false;
    std::string path;
    QEventLoop loop;
    std::thread worker([&] {
        MessageBoxRequest request;
        request.buttons = MessageButtons::YesNo;
        answer = interaction.ShowMessageBox(request);
        chosen = interaction.ChooseSaveFileName(SaveFileRequest{}, path);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    EXPECT_EQ(interaction.boxThread, qApp->thread());
    EXPECT_EQ(interaction.dialogThread, qApp->thread());
    EXPECT_EQ(answer, MessageAnswer::Yes);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(path, "/data/run.csv");
}

}  // namespace
