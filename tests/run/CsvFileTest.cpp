// The CSV file layer without any window: how files are opened, written, synced, replaced and
// named.
#include "measure/CsvFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "measure/FileSync.h"
#include "tests/run/SyncRecorder.h"

namespace {

class CsvFileTest : public testing::Test {
protected:
    CsvFileTest() {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        folder =
            std::filesystem::temp_directory_path() / (std::string("qiro7-csvfile-") + test->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~CsvFileTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string PathOf(const std::string& name) const { return (folder / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    static MeasurementSample Sample(const std::string& line) {
        MeasurementSample sample;
        sample.Parse(line);
        return sample;
    }

    std::filesystem::path folder;
};

TEST_F(CsvFileTest, OpenCreatesAMissingFileEmpty) {
    std::error_code error;
    auto file = CsvFile::Open(PathOf("new.csv"), error);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(error);
    EXPECT_FALSE(file->Close());
    EXPECT_TRUE(std::filesystem::exists(PathOf("new.csv")));
    EXPECT_EQ(Read(PathOf("new.csv")), "");
}

TEST_F(CsvFileTest, OpenKeepsWhatIsThereAndAppendsAfterIt) {
    { std::ofstream(PathOf("old.csv"), std::ios::binary) << "a,b,c\r\n"; }
    std::error_code error;
    auto file = CsvFile::Open(PathOf("old.csv"), error);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteLine(Sample("1 2 3")));
    file->Close();
    EXPECT_EQ(Read(PathOf("old.csv")), "a,b,c\r\n1,2,3\r\n");
}

#ifndef _WIN32
// Exactly the instrument's texts, CR LF on every platform, each line on disk at once. (On
// Windows nobody else may open the file meanwhile: see the test below.)
TEST_F(CsvFileTest, EachLineIsInTheFileAsSoonAsItIsWritten) {
    std::error_code error;
    auto file = CsvFile::Open(PathOf("lines.csv"), error);
    ASSERT_NE(file, nullptr);
    const struct {
        const char* line;
        const char* fileAfter;
    } steps[] = {
        {"1.0 2.0 3.0", "1.0,2.0,3.0\r\n"},
        {"1.5 2.5", "1.0,2.0,3.0\r\n1.5,2.5,\r\n"},
        {"1.0  2.0 3.0", "1.0,2.0,3.0\r\n1.5,2.5,\r\n1.0,,2.0\r\n"},
    };
    for (const auto& step : steps) {
        EXPECT_TRUE(file->WriteLine(Sample(step.line)));
        EXPECT_EQ(Read(PathOf("lines.csv")), step.fileAfter) << step.line;
    }
    EXPECT_FALSE(file->AnyLineFailed());
}
#else
TEST_F(CsvFileTest, NobodyElseCanOpenTheFileWhileItIsOpen) {
    std::error_code error;
    auto file = CsvFile::Open(PathOf("lines.csv"), error);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteLine(Sample("1.0 2.0 3.0")));
    EXPECT_TRUE(file->WriteLine(Sample("1.0  2.0 3.0")));
    EXPECT_EQ(CsvFile::Open(PathOf("lines.csv"), error), nullptr);
    EXPECT_TRUE(error);
    EXPECT_EQ(Read(PathOf("lines.csv")), "");
    file->Close();
    EXPECT_EQ(Read(PathOf("lines.csv")), "1.0,2.0,3.0\r\n1.0,,2.0\r\n");
}
#endif

TEST_F(CsvFileTest, OpenInAMissingFolderFailsWithTheSystemsCode) {
    std::error_code error;
    auto file = CsvFile::Open(PathOf("missing/x.csv"), error);
    EXPECT_EQ(file, nullptr);
    EXPECT_TRUE(error);
    EXPECT_FALSE(error.message().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST_F(CsvFileTest, ClosingTwiceIsHarmless) {
    std::error_code error;
    auto file = CsvFile::Open(PathOf("twice.csv"), error);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->Close());
    EXPECT_FALSE(file->Close());
    EXPECT_FALSE(file->WriteLine(Sample("1 2 3")));
    EXPECT_TRUE(file->AnyLineFailed());
}

TEST_F(CsvFileTest, DeleteRemovesFilesButNeverFolders) {
    { std::ofstream(PathOf("file.csv")) << "x"; }
    std::filesystem::create_directory(folder / "dir.csv");

    EXPECT_FALSE(DeleteFileOnly(PathOf("file.csv")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("file.csv")));

    const std::error_code folderError = DeleteFileOnly(PathOf("dir.csv"));
    EXPECT_TRUE(folderError);
    EXPECT_FALSE(folderError.message().empty());
    EXPECT_TRUE(std::filesystem::is_directory(folder / "dir.csv"));

    EXPECT_TRUE(DeleteFileOnly(PathOf("never-there.csv")));
}

TEST_F(CsvFileTest, ExistenceCoversFilesAndFolders) {
    { std::ofstream(PathOf("file.csv")) << "x"; }
    std::filesystem::create_directory(folder / "dir.csv");
    EXPECT_TRUE(PathExists(PathOf("file.csv")));
    EXPECT_TRUE(PathExists(PathOf("dir.csv")));
    EXPECT_FALSE(PathExists(PathOf("none.csv")));
    EXPECT_FALSE(PathExists(""));
}

TEST_F(CsvFileTest, FullPathResolvesAgainstTheCurrentFolder) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::create_directory(folder / "sub");
    std::filesystem::current_path(folder / "sub");
    const std::filesystem::path base = std::filesystem::current_path();
    const struct {
        std::string name;
        std::filesystem::path expected;
    } cases[] = {
        {"out.csv", base / "out.csv"},
        {"./out.csv", base / "out.csv"},
        {"../out.csv", base.parent_path() / "out.csv"},
        {(folder / "abs.csv").string(), folder / "abs.csv"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FullPath(c.name), c.expected.lexically_normal().string()) << c.name;
    }
    std::filesystem::current_path(previous);
}

// --- syncing to the device -----------------------------------------------------------------

// A file for FileSync to keep; the recorder stands in for its syncs.
class FileSyncTest : public CsvFileTest {
protected:
    FileSyncTest() : file(std::fopen(PathOf("synced.csv").c_str(), "wb")) {}
    ~FileSyncTest() override {
        if (file != nullptr) {
            std::fclose(file);
        }
    }

    int Descriptor() const { return DescriptorOf(file); }

    std::FILE* file;
};

constexpr std::chrono::milliseconds kNeverDuringTheTest = std::chrono::hours(1);

TEST_F(FileSyncTest, AWriteWithNoneAfterItIsSyncedWithinThePeriodWithoutWaitingForFinish) {
    ASSERT_NE(file, nullptr);
    SyncRecorder recorder;
    FileSync sync(Descriptor(), std::chrono::milliseconds(10));

    sync.Written();

    EXPECT_TRUE(recorder.WaitForCalls(1));
    EXPECT_FALSE(sync.Finish());
    EXPECT_EQ(recorder.Calls(), 1u) << "Finish found nothing left to sync";
}

TEST_F(FileSyncTest, FinishSyncsWhatIsLeftOnceHoweverManyWritesThereWere) {
    ASSERT_NE(file, nullptr);
    const struct {
        int writes;
        std::size_t syncs;
    } cases[] = {{0, 0}, {1, 1}, {100000, 1}};
    for (const auto& c : cases) {
        SyncRecorder recorder;
        FileSync sync(Descriptor(), kNeverDuringTheTest);
        for (int i = 0; i < c.writes; ++i) {
            sync.Written();
        }
        EXPECT_FALSE(sync.Finish()) << c.writes;
        EXPECT_EQ(recorder.Calls(), c.syncs) << c.writes;
        EXPECT_FALSE(sync.Finish()) << c.writes;
        EXPECT_EQ(recorder.Calls(), c.syncs) << "a second Finish syncs again: " << c.writes;
    }
}

TEST_F(FileSyncTest, TheFirstFailedSyncIsReportedAtOnceAndByFinish) {
    ASSERT_NE(file, nullptr);
    const std::error_code first = std::make_error_code(std::errc::io_error);
    SyncRecorder recorder({first, std::make_error_code(std::errc::no_space_on_device)});
    FileSync sync(Descriptor(), std::chrono::milliseconds(10));

    sync.Written();
    ASSERT_TRUE(recorder.WaitForCalls(1));
    sync.Written();
    // The thread records the failure before it syncs again.
    ASSERT_TRUE(recorder.WaitForCalls(2));
    EXPECT_TRUE(sync.Failed());

    EXPECT_EQ(sync.Finish(), first);
    EXPECT_EQ(recorder.Calls(), 2u);
}

// The window's file counts a sync that fails, the last one at Close included, as a lost line.
TEST_F(CsvFileTest, AFailedSyncMakesTheFileFailedAndCloseSaysWhy) {
    const std::error_code failure = std::make_error_code(std::errc::io_error);
    SyncRecorder recorder({failure});
    std::error_code error;
    auto file = CsvFile::Open(PathOf("unsynced.csv"), error);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->WriteLine(Sample("1 2 3")));

    EXPECT_EQ(file->Close(), failure);

    EXPECT_TRUE(file->AnyLineFailed());
    EXPECT_EQ(recorder.Calls(), 1u);
    EXPECT_EQ(Read(PathOf("unsynced.csv")), "1,2,3\r\n");
}

TEST_F(CsvFileTest, TheFolderOfAFileIsSyncedOnlyWhenItExists) {
    { std::ofstream(PathOf("there.csv")) << "x"; }
    EXPECT_FALSE(SyncFolderOf(PathOf("there.csv")));
    EXPECT_FALSE(SyncFolderOf(PathOf("not-yet.csv")));
#ifndef _WIN32
    const std::error_code missing = SyncFolderOf(PathOf("missing/x.csv"));
    EXPECT_EQ(missing, std::errc::no_such_file_or_directory);
#endif
}

}  // namespace
