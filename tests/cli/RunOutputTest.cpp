// A run's output by the day: the file its name gives at each line's arrival time.
#include "cli/RunOutput.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

const system_clock::time_point kBeforeMidnight{milliseconds(1773532799900)};  // 03-14 23:59:59.9
const system_clock::time_point kAfterMidnight{milliseconds(1773532800100)};   // 03-15 00:00:00.1

class Folder {
public:
    Folder()
        : path(std::filesystem::temp_directory_path() /
               ("qiro7-run-output-" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::string Text(const std::string& name) const {
        std::ifstream file(path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

private:
    std::filesystem::path path;
};

TEST(RunOutput, FillsTheTimeFieldsOfItsName) {
    EXPECT_EQ(ExpandTimeFields("line3-%Y-%m-%d.csv", kBeforeMidnight, false),
              "line3-2026-03-14.csv");
    EXPECT_EQ(ExpandTimeFields("%Y%m%dT%H%M%S 100%%.csv", kAfterMidnight, false),
              "20260315T000000 100%.csv");
    EXPECT_TRUE(HasTimeFields("a-%F.csv"));
    EXPECT_FALSE(HasTimeFields("100%%.csv"));
    EXPECT_FALSE(HasTimeFields("plain.csv"));
    EXPECT_FALSE(HasTimeFields("ends in %"));
}

TEST(RunOutput, StartsANewFileWhenTheNameChanges) {
    Folder folder;
    RunOutput output(folder / "line3-%Y-%m-%d.csv", OutputRules{}, false);
    std::string failure;
    ASSERT_TRUE(output.Open(kBeforeMidnight, failure)) << failure;
    EXPECT_EQ(output.Write("a\r\n", kBeforeMidnight, failure), WriteOutcome::Written) << failure;
    EXPECT_EQ(output.Write("b\r\n", kAfterMidnight, failure), WriteOutcome::Written) << failure;
    EXPECT_EQ(output.CurrentName(), folder / "line3-2026-03-15.csv");
    EXPECT_EQ(output.Close(), "");
    EXPECT_EQ(folder.Text("line3-2026-03-14.csv"), "a\r\n");
    EXPECT_EQ(folder.Text("line3-2026-03-15.csv"), "b\r\n");
}

// A later file that exists already is continued with --append, and otherwise left alone: the
// run then stops there, as at any other file it cannot write.
TEST(RunOutput, ALaterFileThatExistsIsContinuedOnlyWithAppend) {
    for (const bool append : {false, true}) {
        SCOPED_TRACE(append ? "append" : "no append");
        Folder folder;
        std::ofstream(folder / "day-2026-03-15.csv", std::ios::binary) << "old\r\n";
        RunOutput output(folder / "day-%Y-%m-%d.csv", OutputRules{false, append, false}, false);
        std::string failure;
        ASSERT_TRUE(output.Open(kBeforeMidnight, failure)) << failure;
        EXPECT_EQ(output.Write("b\r\n", kAfterMidnight, failure),
                  append ? WriteOutcome::Written : WriteOutcome::Failed);
        EXPECT_EQ(failure.find("already exists") != std::string::npos, !append) << failure;
        output.Close();
        EXPECT_EQ(folder.Text("day-2026-03-15.csv"), append ? "old\r\nb\r\n" : "old\r\n");
    }
}

}  // namespace
