// A fresh, empty folder for one test under the system's temporary folder, removed with the
// object. Its name holds the test's name and the process id, so parallel runs do not meet.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#define QIRO7_TEST_PID _getpid()
#else
#include <unistd.h>
#define QIRO7_TEST_PID getpid()
#endif

class TestFolder {
public:
    explicit TestFolder(const std::string& purpose = "publish") {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "qiro7-" + purpose + "-" +
                           (test != nullptr ? std::string(test->name()) : std::string("none")) +
                           "-" + std::to_string(QIRO7_TEST_PID);
        std::replace(name.begin(), name.end(), '/', '_');
        path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    std::string Path() const { return path.string(); }
    std::string Sub(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};
