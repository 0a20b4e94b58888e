// The manual CSV output, its preparation and the file name dialog, through the main window.
#include "tests/run/RunFixture.h"

#include <QWidget>
#include <system_error>

#include "tests/common/FileSizeLimit.h"
#include "tests/run/SyncRecorder.h"

namespace {

class CsvOutput : public RunWindowTest {
protected:
    void AddSamples(int first, int last) {
        for (const std::string& line : NumberedLines(first, last)) {
            MeasurementSample sample;
            sample.Parse(line);
            window->samples.Append(sample);
        }
    }
    std::filesystem::path NameBox(const std::string& name) {
        const std::filesystem::path path = folder / name;
        Type(IDC_CSV_FILE_NAME, path.string());
        return path;
    }
};

struct ReplaceCase {
    MessageAnswer answer;
    std::vector<int> expectedBoxes;
    bool replaced;
};

TEST_F(CsvOutput, AnExistingFileIsReplacedOnlyAfterYes) {
    const ReplaceCase cases[] = {
        {MessageAnswer::Yes, {IDS_CONFIRM_REPLACE_FILE, IDS_FILE_SAVED}, true},
        {MessageAnswer::No, {IDS_CONFIRM_REPLACE_FILE}, false},
    };
    AddSamples(1, 3);
    for (const ReplaceCase& c : cases) {
        const auto path = NameBox("existing.csv");
        WriteBytes(path, "older content\r\n");
        operatorScript->Clear();
        AnswerNext(c.answer);

        window->OnOutput();

        std::vector<std::string> expected;
        for (const int id : c.expectedBoxes) {
            expected.push_back(String(id));
        }
        EXPECT_EQ(BoxTexts(), expected);
        EXPECT_EQ(ReadBytes(path), c.replaced ? NumberedCsv({1, 2, 3}) : "older content\r\n");
    }
}

TEST_F(CsvOutput, TheBoxesOfTheOutputHaveTheirIconsAndCaption) {
    AddSamples(1, 1);
    const auto path = NameBox("boxes.csv");
    WriteBytes(path, "x");
    AnswerNext(MessageAnswer::Yes);

    window->OnOutput();

    const auto boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].icon, MessageIcon::Question);
    EXPECT_EQ(boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(boxes[1].icon, MessageIcon::Information);
    for (const MessageBoxRequest& box : boxes) {
        EXPECT_EQ(box.caption, "QIRO-7");
        EXPECT_EQ(box.owner, static_cast<QWidget*>(window.get()));
    }
}

TEST_F(CsvOutput, AnEmptyNameIsRefusedAndNothingIsWritten) {
    AddSamples(1, 2);
    Type(IDC_CSV_FILE_NAME, "");

    window->OnOutput();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_INPUT_FILE_NAME)});
    EXPECT_EQ(operatorScript->Boxes()[0].icon, MessageIcon::Exclamation);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// Only files are deleted: a folder of that name stays, and the system's reason is shown.
TEST_F(CsvOutput, AFolderOfThatNameIsNotDeletedAndTheSystemSaysWhy) {
    AddSamples(1, 2);
    const auto path = NameBox("a-folder.csv");
    std::filesystem::create_directory(path);
    std::filesystem::create_directory(path / "inside");
    AnswerNext(MessageAnswer::Yes);

    window->OnOutput();

    const auto boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, String(IDS_CONFIRM_REPLACE_FILE));
    EXPECT_EQ(boxes[1].caption, "");
    EXPECT_EQ(boxes[1].icon, MessageIcon::Error);
    EXPECT_EQ(boxes[1].buttons, MessageButtons::Ok);
#ifdef __linux__
    EXPECT_EQ(boxes[1].text, std::make_error_code(std::errc::is_a_directory).message());
#else
    EXPECT_FALSE(boxes[1].text.empty());
#endif
    EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
}

TEST_F(CsvOutput, ZeroSamplesGiveAnEmptyFileAndTheCompletionMessage) {
    const auto path = NameBox("nothing.csv");

    window->OnOutput();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_FILE_SAVED)});
    ASSERT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadBytes(path), "");
}

// Later runs and outputs use the same file whatever the current folder is then.
TEST_F(CsvOutput, ABareNameBecomesTheFullPathOfTheFileCreated) {
    AddSamples(4, 5);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::current_path(folder / "sub");
    Type(IDC_CSV_FILE_NAME, "../bare.csv");

    window->OnOutput();

    std::filesystem::current_path(previous);
    EXPECT_EQ(Text(IDC_CSV_FILE_NAME), (folder / "bare.csv").string());
    EXPECT_EQ(ReadBytes(folder / "bare.csv"), NumberedCsv({4, 5}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_FILE_SAVED)});
}

TEST_F(CsvOutput, AFileThatCannotBeCreatedGetsTheSystemsReasonAndTheFullPathStill) {
    AddSamples(1, 1);
    const auto path = NameBox("no-such-folder/out.csv");

    window->OnOutput();

    const auto boxes = operatorScript->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, MissingFolderText());
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[0].icon, MessageIcon::Error);
    EXPECT_EQ(Text(IDC_CSV_FILE_NAME), std::filesystem::path(path).make_preferred().string());
}

TEST_F(CsvOutput, BrowseOffersCsvFilesAndCancelLeavesTheNameAlone) {
    Type(IDC_CSV_FILE_NAME, "kept.csv");
    operatorScript->ChooseNext(std::nullopt);

    window->OnBrowse();

    EXPECT_EQ(Text(IDC_CSV_FILE_NAME), "kept.csv");
    const auto dialogs = operatorScript->SaveDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].filter, "csv file(*.csv)|*.csv|all file(*.*)|*.*||");
    EXPECT_EQ(dialogs[0].defaultExtension, "csv");
    EXPECT_EQ(dialogs[0].initialFileName, "kept.csv");
    EXPECT_TRUE(dialogs[0].promptOverwrite);
    EXPECT_EQ(dialogs[0].owner, static_cast<QWidget*>(window.get()));
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(CsvOutput, BrowseConfirmedPutsTheChosenPathInTheBox) {
    const std::string chosen = (folder / "chosen.csv").string();
    operatorScript->ChooseNext(chosen);

    window->OnBrowse();

    EXPECT_EQ(Text(IDC_CSV_FILE_NAME), chosen);
    EXPECT_FALSE(std::filesystem::exists(chosen));
}

TEST_F(CsvOutput, AManualOutputAfterARunWritesTheSameBytesAsTheRunDid) {
    ConnectFirst();
    ScriptStream({"1.0 2.0 3.0", "1.5 2.5", "1.0  2.0 3.0"});
    SetRun("0", "3");
    const auto path = AutoOutputTo("same.csv");
    Start();
    FinishRun();
    const std::string automatic = ReadBytes(path);
    operatorScript->Clear();
    AnswerNext(MessageAnswer::Yes);

    Click(IDC_OUTPUT);

    EXPECT_EQ(BoxTexts(),
              (std::vector<std::string>{String(IDS_CONFIRM_REPLACE_FILE), String(IDS_FILE_SAVED)}));
    EXPECT_EQ(ReadBytes(path), automatic);
    EXPECT_EQ(automatic, "1.0,2.0,3.0\r\n1.5,2.5,\r\n1.0,,2.0\r\n");
}

// A file that could not be synced may miss lines after a power loss, as good as a lost line;
// the last sync, at the end of the run, counts too.
TEST_F(CsvOutput, ARunWhoseFileCouldNotBeSyncedEndsWithTheFileFailure) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 3));
    SetRun("0", "3");
    const auto path = AutoOutputTo("unsynced.csv");
    const SyncRecorder failingSync({std::make_error_code(std::errc::io_error)});

    Start();
    FinishRun();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_FILE_OUTPUT_FAILED),
                                                    String(IDS_MEASUREMENT_COMPLETED)}));
    EXPECT_EQ(failingSync.Calls(), 1u);
    EXPECT_EQ(ReadBytes(path), NumberedCsv({1, 2, 3}));
}

#ifdef QIRO7_HAVE_FILE_SIZE_LIMIT
TEST_F(CsvOutput, AManualOutputThatCannotWriteEveryLineReportsFailureNotCompletion) {
    AddSamples(1, 3);
    const auto path = NameBox("full.csv");
    const FileSizeLimit limit(NumberedCsv({1}).size());

    window->OnOutput();

    EXPECT_EQ(BoxTexts(), std::vector<std::string>{String(IDS_FILE_OUTPUT_FAILED)});
    EXPECT_EQ(ReadBytes(path), NumberedCsv({1}));
}

// A run whose file misses lines says so at its end, besides its own message.
TEST_F(CsvOutput, ARunWithALineThatCouldNotBeWrittenEndsWithTheFileFailure) {
    ConnectFirst();
    ScriptStream(NumberedLines(1, 4));
    SetRun("0", "3");
    const auto path = AutoOutputTo("run-full.csv");
    const FileSizeLimit limit(NumberedCsv({1}).size());

    Start();
    FinishRun();

    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{String(IDS_CONFIRM_START_MEASUREMENT),
                                                    String(IDS_FILE_OUTPUT_FAILED),
                                                    String(IDS_MEASUREMENT_COMPLETED)}));
    EXPECT_EQ(SampleLines(), NumberedLines(1, 3));
    EXPECT_EQ(ReadBytes(path), NumberedCsv({1}));
    EXPECT_TRUE(ShowsConnected());
}
#endif

}  // namespace
