// The main window with the simulated instrument behind it, for whole measurement runs. Each
// test gets its own empty folder.
#pragma once

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "measure/RunActive.h"
#include "res/StringTable.h"
#include "tests/support/MainWindowFixture.h"

inline constexpr const char* kRunTestApplicationName = "run_tests";

inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

// The system's own text for a file whose folder does not exist.
inline std::string MissingFolderText() {
#ifdef _WIN32
    constexpr int kErrorPathNotFound = 3;
    return std::error_code(kErrorPathNotFound, std::system_category()).message();
#else
    return std::make_error_code(std::errc::no_such_file_or_directory).message();
#endif
}

// Stream line number n as the simulator sends it: "nE-1 nE+0 nE+1".
inline std::string NumberedLine(int n) {
    const std::string number = std::to_string(n);
    return number + "E-1 " + number + "E+0 " + number + "E+1";
}

inline std::vector<std::string> NumberedLines(int first, int last) {
    std::vector<std::string> lines;
    for (int n = first; n <= last; ++n) {
        lines.push_back(NumberedLine(n));
    }
    return lines;
}

// The CSV bytes of the numbered lines.
inline std::string NumberedCsv(const std::vector<int>& numbers) {
    std::string bytes;
    for (const int n : numbers) {
        const std::string number = std::to_string(n);
        bytes += number + "E-1," + number + "E+0," + number + "E+1\r\n";
    }
    return bytes;
}

inline std::string ReceivedOf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\r\n";
    }
    return text;
}

class RunWindowTest : public MainWindowFixture {
protected:
    RunWindowTest() : MainWindowFixture(kRunTestApplicationName) {
        // One flat folder per test and process: parameterised names hold "/", and the suites of
        // two builds may run at the same time.
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("qiro7-run-") + test->test_suite_name() + "-" +
                           test->name() + "-" + std::to_string(QCoreApplication::applicationPid());
        std::replace(name.begin(), name.end(), '/', '_');
        folder = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~RunWindowTest() override {
        if (window != nullptr && window->IsWorkerRunning()) {
            ADD_FAILURE() << "the test left a run going";
        }
        window.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // --- the operator ---------------------------------------------------------------------
    void ConnectFirst() {
        window->OnConnect();
        ASSERT_TRUE(window->IsControlEnabled(IDC_REFRESH)) << "the first connect failed";
        Forget();
    }
    void Forget() {
        operatorScript->Clear();
        driver->Instrument()->ClearRequestLog();
    }
    // The automatic output to a file of the folder.
    std::filesystem::path AutoOutputTo(const std::string& name) {
        window->CheckButton(IDC_AUTO_OUTPUT, true);
        const std::filesystem::path path = folder / name;
        Type(IDC_CSV_FILE_NAME, path.string());
        return path;
    }
    void ScriptStream(std::vector<std::string> lines) {
        driver->Instrument()->SetScriptedStream(std::move(lines));
    }
    // Confirms the start with Yes and presses "start/stop".
    void Start() {
        AnswerNext(MessageAnswer::Yes);
        Click(IDC_START_STOP);
    }

    // --- what the operator sees -------------------------------------------------------------
    std::vector<std::string> BoxTexts() const { return operatorScript->Texts(); }

    // Connected and Disconnected as the controls show them after a run.
    bool ShowsConnected() const { return Enabled(IDC_REFRESH) && Enabled(IDC_START_STOP); }
    bool ShowsDisconnected() const {
        return !Enabled(IDC_REFRESH) && Enabled(IDC_CONNECT) && Enabled(IDC_CSV_FILE_NAME);
    }

    std::vector<std::string> SampleLines() const {
        std::vector<std::string> lines;
        for (const MeasurementSample& sample : window->samples.Snapshot()) {
            lines.push_back(sample.rawLine);
        }
        return lines;
    }
    std::size_t CountRequests(const std::string& line) const {
        std::size_t count = 0;
        for (const std::string& request : Requests()) {
            count += request == line ? 1 : 0;
        }
        return count;
    }

    std::filesystem::path folder;
};
