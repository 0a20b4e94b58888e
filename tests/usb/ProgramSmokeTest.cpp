// The qiro7 program itself, unchanged, against an emulated instrument on a desktop of its own:
// start it, press "Connect", and check what the firmware received and what the windows show.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/WindowTitle.h"
#include "tests/usb/DesktopSession.h"
#include "tests/usb/EmulatedInstrument.h"

namespace {

// Limits for the program to come up and for a Connect; both normally take well under one.
constexpr std::chrono::milliseconds kStartLimit{20000};
constexpr std::chrono::milliseconds kConnectLimit{20000};

constexpr char kApplicationName[] = "qiro7";
constexpr char kModel[] = "QIRO-7 EMU-4711";

const std::vector<std::string> kConnectRequests = {"STP",   "RM",    "WHO", "SRL", "MT",  "VER",
                                                   "TMP 0", "TMP 1", "CFR", "ACR", "MRR", "FRQR",
                                                   "ZCR",   "CFSR",  "ERR", "APR", "AFR"};

// A private folder (mode 0700), removed with its contents.
class TemporaryFolder {
public:
    TemporaryFolder() {
        char pattern[] = "/tmp/qiro7-smoke-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            path = pattern;
        }
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path.empty()) {
            std::filesystem::remove_all(path, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

std::string FileText(const std::string& path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// True when an object of that role shows the text, as its name or as its content.
bool Shows(const std::vector<AccessibleNode>& nodes, const std::string& role,
           const std::string& text) {
    return std::any_of(nodes.begin(), nodes.end(), [&](const AccessibleNode& node) {
        return node.role == role && (node.name == text || node.text == text);
    });
}

TEST(ProgramSmoke, ConnectReadsTheEmulatedInstrumentAndTheWindowShowsItsModel) {
    if (!UmockdevPreloadActive()) {
        GTEST_SKIP() << "umockdev's preload library is not available";
    }
    TemporaryFolder runtime;
    ASSERT_FALSE(runtime.Path().empty());
    EmulatedUsbBus bus;
    EmulatedInstrument* instrument = bus.Attach();
    ASSERT_NE(instrument, nullptr) << bus.LastError();
    SimulatedInstrument::Identity identity;
    identity.model = kModel;
    instrument->Firmware()->SetIdentity(identity);

    DesktopSession desktop(runtime.Path());
    std::string reason;
    if (!desktop.StartDisplay(reason)) {
        GTEST_SKIP() << reason;
    }
    std::string noAccessibility;
    const bool accessible = desktop.StartAccessibility(noAccessibility);

    // Its own runtime folder keeps a developer's running copy from refusing this one.
    ChildProcess program;
    ASSERT_TRUE(program.Start({QIRO7_PROGRAM}, desktop.ProgramEnvironment(CurrentEnvironment()),
                              runtime.Path() + "/qiro7.log"));
    const std::string mainWindowTitle = ExactTitlePattern(VersionWindowTitle());
    std::vector<std::string> mainWindows;
    WaitUntil(
        [&] {
            mainWindows = desktop.FindWindows(mainWindowTitle);
            return !mainWindows.empty() || !program.Running();
        },
        kStartLimit);
    ASSERT_FALSE(mainWindows.empty())
        << "no main window (" << program.Ending() << "); the program wrote:\n"
        << FileText(runtime.Path() + "/qiro7.log") << "Xvfb wrote:\n"
        << FileText(runtime.Path() + "/xvfb.log");
    if (accessible) {
        ASSERT_TRUE(WaitUntil(
            [&] {
                return Shows(desktop.AccessibleObjects(kApplicationName), "push button", "Connect");
            },
            kStartLimit))
            << "the window's controls were never published";
        EXPECT_FALSE(Shows(desktop.AccessibleObjects(kApplicationName), "text", kModel));
    }

    // "Connect" is the first control in tab order, so it has the focus.
    ASSERT_TRUE(desktop.TypeKey(mainWindows.front(), "space"));
    const std::string boxTitle = ExactTitlePattern("QIRO-7");
    std::vector<std::string> boxes;
    EXPECT_TRUE(WaitUntil(
        [&] {
            boxes = desktop.FindWindows(boxTitle);
            return !boxes.empty();
        },
        kConnectLimit))
        << "no message box after Connect";
    EXPECT_EQ(instrument->RequestLog(), kConnectRequests);
    EXPECT_EQ(instrument->InterfaceEvents(), LinkCycleEvents(17))
        << "one open-close cycle per step";
    if (accessible) {
        EXPECT_TRUE(WaitUntil(
            [&] {
                return Shows(desktop.AccessibleObjects(kApplicationName), "label",
                             "Connection established.");
            },
            kConnectLimit));
    }
    if (!boxes.empty()) {
        EXPECT_TRUE(desktop.TypeKey(boxes.front(), "Return"));
        EXPECT_TRUE(WaitUntil([&] { return desktop.FindWindows(boxTitle).empty(); }, kConnectLimit))
            << "the box was not dismissed";
    }
    if (!accessible) {
        GTEST_SKIP() << "the model text was not read: " << noAccessibility;
    }
    EXPECT_TRUE(Shows(desktop.AccessibleObjects(kApplicationName), "text", kModel));
}

}  // namespace
