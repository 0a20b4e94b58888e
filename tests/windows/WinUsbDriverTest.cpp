#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/UsbDevice.h"
#include "link/WinUsbDriver.h"
#include "tests/windows/ScriptedWindows.h"

namespace {

const std::string kInstrumentPath =
    "\\\\?\\usb#vid_0a1b&pid_7c07#5&2f1e0c3&0&2#{6e1feb40-485f-4d00-b20d-da63b8637b45}";
const std::string kGuidText = "6E1FEB40-485F-4D00-B20D-DA63B8637B45";

std::vector<std::string> CallNames(const std::vector<std::string>& calls) {
    std::vector<std::string> names;
    for (const std::string& call : calls) {
        names.push_back(call.substr(0, call.find(' ')));
    }
    return names;
}

bool HasWinUsbCall(const std::vector<std::string>& calls) {
    for (const std::string& call : calls) {
        if (call.starts_with("WinUsb_")) {
            return true;
        }
    }
    return false;
}

// --- device path text ------------------------------------------------------------------------

struct CopyCase {
    const char* name;
    std::string source;  // copied with its NUL unless unterminated
    bool unterminated;
    std::size_t capacity;
    bool expectedOk;
};

TEST(CopyDevicePathTest, CopiesWholePathsAndRefusesTruncation) {
    const std::string longest(260, 'p');
    const CopyCase cases[] = {
        {"ordinary path", kInstrumentPath, false, 261, true},
        {"empty path", "", false, 261, true},
        {"260 characters fill the buffer", longest, false, 261, true},
        {"261 characters would be truncated", longest + "q", false, 261, false},
        {"no NUL inside the source buffer", kInstrumentPath, true, 261, false},
        {"one character, buffer of one", "x", false, 1, false},
        {"no buffer at all", "x", false, 0, false},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> source(c.source.begin(), c.source.end());
        if (!c.unterminated) {
            source.push_back('\0');
        }
        std::vector<char> path(c.capacity + 1, '#');  // one guard byte past the capacity
        const bool ok = CopyDevicePath(source.data(), source.size(), path.data(), c.capacity);
        EXPECT_EQ(ok, c.expectedOk);
        if (c.capacity > 0) {
            EXPECT_EQ(std::string(path.data()), ok ? c.source : "");
        }
        EXPECT_EQ(path[c.capacity], '#') << "wrote past the buffer";
    }
}

TEST(CopyDevicePathTest, StopsAtTheFirstNul) {
    const char source[] = "\\\\?\\usb#a\0garbage";
    char path[kWinUsbDevicePathCapacity];
    ASSERT_TRUE(CopyDevicePath(source, sizeof(source), path, sizeof(path)));
    EXPECT_STREQ(path, "\\\\?\\usb#a");
}

TEST(IsOpenableDevicePathTest, AcceptsOnlyFittingDeviceNamespacePaths) {
    struct Case {
        std::string path;
        bool expected;
    };
    const Case cases[] = {
        {kInstrumentPath, true},
        {"\\\\.\\COM3", true},
        {"\\\\?\\" + std::string(256, 'x'), true},   // 260 characters
        {"\\\\?\\" + std::string(257, 'x'), false},  // 261: longer than any found path
        {"\\\\?\\" + std::string(1000, 'x'), false},
        {"C:\\Windows\\notepad.exe", false},
        {"usb#vid_0a1b&pid_7c07", false},
        {"\\\\server\\share\\file", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.substr(0, 40));
        EXPECT_EQ(IsOpenableDevicePath(c.path.c_str()), c.expected);
    }
    EXPECT_FALSE(IsOpenableDevicePath(nullptr));
}

TEST(DevicePathIdsTest, TakesFourCharactersAfterTheFirstLowerCaseMarker) {
    struct Case {
        std::string path;
        std::string vendorId;
        std::string productId;
    };
    const Case cases[] = {
        {kInstrumentPath, "0a1b", "7c07"},
        {"\\\\?\\USB#VID_0A1B&PID_7C07#1#{guid}", "", ""},
        {"\\\\?\\usb#vid_0a1b&pid_7c07#pid_9999", "0a1b", "7c07"},
        {"\\\\?\\usb#vid_0a1b&pid_7c", "0a1b", "7c"},
        {"\\\\?\\hid#something#{guid}", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(IdTextAfterMarker(c.path, "vid_"), c.vendorId);
        EXPECT_EQ(IdTextAfterMarker(c.path, "pid_"), c.productId);
    }
}

// --- the driver against a scripted system ----------------------------------------------------

class ScriptedWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetScriptedWindows();
        driver = CreateWinUsbDriver(ScriptedWinUsbApi());
        InstallUsbDriver(driver);
    }
    void TearDown() override { InstallUsbDriver(nullptr); }

    static void AttachInstrument(const std::string& path = kInstrumentPath) {
        Scripted().interfacePaths.push_back(path);
        Scripted().pipes = {Pipe(UsbdPipeTypeBulk, 0x81), Pipe(UsbdPipeTypeBulk, 0x02),
                            Pipe(UsbdPipeTypeInterrupt, 0x83)};
    }

    std::shared_ptr<UsbDriver> driver;
};

TEST_F(ScriptedWindowsTest, FindDevicePathMakesTheDeviceSetupCallsWithTheirArguments) {
    AttachInstrument();
    char path[kWinUsbDevicePathCapacity];
    ASSERT_TRUE(driver->FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof(path)));
    EXPECT_EQ(std::string(path), kInstrumentPath);

    const std::string size = std::to_string(4 + kInstrumentPath.size() + 1);
    const std::vector<std::string> expected = {
        "SetupDiGetClassDevsA " + kGuidText + " enumerator=null window=null flags=0x12",
        "SetupDiEnumDeviceInterfaces set device=null " + kGuidText + " index=0 cbSize=32",
        "SetupDiGetDeviceInterfaceDetailA set data=set buffer=null size=0 required=set "
        "device=null",
        "LocalAlloc flags=0 size=" + size,
        "SetupDiGetDeviceInterfaceDetailA set data=set buffer=cbSize=8 size=" + size +
            " required=null device=null",
        "LocalFree set",
        "SetupDiDestroyDeviceInfoList set",
    };
    EXPECT_EQ(Scripted().calls, expected);
}

struct FindCase {
    const char* name;
    std::function<void(ScriptedWindows&)> arrange;
    bool expectedFound;
    std::string expectedPath;
    std::vector<std::string> expectedCalls;
};

TEST_F(ScriptedWindowsTest, FindDevicePathReleasesEverythingOnEveryPath) {
    const std::string longest = "\\\\?\\" + std::string(256, 'x');
    const std::vector<std::string> fullSearch = {"SetupDiGetClassDevsA",
                                                 "SetupDiEnumDeviceInterfaces",
                                                 "SetupDiGetDeviceInterfaceDetailA",
                                                 "LocalAlloc",
                                                 "SetupDiGetDeviceInterfaceDetailA",
                                                 "LocalFree",
                                                 "SetupDiDestroyDeviceInfoList"};
    const FindCase cases[] = {
        {"no instrument",
         [](ScriptedWindows&) {},
         false,
         "",
         {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiDestroyDeviceInfoList"}},
        {"two instruments: the first enumerated",
         [](ScriptedWindows& s) {
             s.interfacePaths = {kInstrumentPath, "\\\\?\\usb#second"};
         },
         true, kInstrumentPath, fullSearch},
        {"no device information set",
         [](ScriptedWindows& s) { s.classDevsFails = true; },
         false,
         "",
         {"SetupDiGetClassDevsA"}},
        {"required size 0",
         [](ScriptedWindows& s) {
             s.interfacePaths = {kInstrumentPath};
             s.reportZeroDetailSize = true;
         },
         false,
         "",
         {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
          "SetupDiDestroyDeviceInfoList"}},
        {"allocation fails",
         [](ScriptedWindows& s) {
             s.interfacePaths = {kInstrumentPath};
             s.allocFails = true;
         },
         false,
         "",
         {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
          "LocalAlloc", "SetupDiDestroyDeviceInfoList"}},
        {"detail fails",
         [](ScriptedWindows& s) {
             s.interfacePaths = {kInstrumentPath};
             s.detailFails = true;
         },
         false, "", fullSearch},
        {"path of 260 characters", [&](ScriptedWindows& s) { s.interfacePaths = {longest}; }, true,
         longest, fullSearch},
        {"path of 261 characters", [&](ScriptedWindows& s) { s.interfacePaths = {longest + "y"}; },
         false, "", fullSearch},
        {"path without NUL",
         [](ScriptedWindows& s) {
             s.interfacePaths = {kInstrumentPath};
             s.pathUnterminated = true;
         },
         false, "", fullSearch},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScriptedWindows();
        c.arrange(Scripted());
        char path[kWinUsbDevicePathCapacity];
        std::memset(path, '#', sizeof(path));
        EXPECT_EQ(driver->FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path, sizeof(path)),
                  c.expectedFound);
        EXPECT_EQ(std::string(path, strnlen(path, sizeof(path))), c.expectedPath);
        EXPECT_EQ(CallNames(Scripted().calls), c.expectedCalls);
        EXPECT_EQ(Scripted().liveAllocations, 0);
        EXPECT_EQ(Scripted().liveDeviceInfoSets, 0);
    }
}

// Windows tells a device that does not open only as unopenable (see ListDevices).
TEST_F(ScriptedWindowsTest, ListDevicesNamesEveryInterfaceInMemberOrderAndReleasesEverything) {
    const std::string second = "\\\\?\\usb#vid_0a1b&pid_7c07#second";
    struct Case {
        const char* name;
        bool createFileFails;
        bool initializeFails;
        UsbDeviceAccess access;
    };
    const Case cases[] = {
        {"both open", false, false, UsbDeviceAccess::Available},
        {"file refused", true, false, UsbDeviceAccess::Unopenable},
        {"interface refused", false, true, UsbDeviceAccess::Unopenable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScriptedWindows();
        Scripted().interfacePaths = {kInstrumentPath, second};
        Scripted().createFileFails = c.createFileFails;
        Scripted().initializeFails = c.initializeFails;
        const std::vector<UsbDeviceListing> listed =
            driver->ListDevices(GUID_DEVINTERFACE_INSTRUMENT);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].path, kInstrumentPath);
        EXPECT_EQ(listed[1].path, second);
        EXPECT_EQ(listed[0].access, c.access);
        EXPECT_EQ(listed[1].access, c.access);
        EXPECT_EQ(Scripted().liveAllocations, 0);
        EXPECT_EQ(Scripted().liveDeviceInfoSets, 0);
        EXPECT_EQ(Scripted().liveFiles, 0);
        EXPECT_EQ(Scripted().liveInterfaces, 0);
    }
}

TEST_F(ScriptedWindowsTest, OpenAndCloseMakeTheFileAndWinUsbCallsInOrder) {
    AttachInstrument();
    CUsbDevice device;
    ASSERT_TRUE(device.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetProductId(), "7c07");

    const std::vector<std::string> afterSearch(Scripted().calls.begin() + 7,
                                               Scripted().calls.end());
    const std::vector<std::string> expected = {
        "CreateFileA " + kInstrumentPath +
            " access=0xC0000000 share=3 security=null disposition=3 flags=0x40000080 "
            "template=null",
        "WinUsb_Initialize file",
        "WinUsb_QueryDeviceInformation winusb type=1 length=1",
        "WinUsb_QueryInterfaceSettings winusb alt=0",
        "WinUsb_QueryPipe winusb alt=0 index=0",
        "WinUsb_QueryPipe winusb alt=0 index=1",
        "WinUsb_QueryPipe winusb alt=0 index=2",
        "WinUsb_SetPipePolicy winusb pipe=0x81 policy=3 length=4 value=30000",
        "WinUsb_SetPipePolicy winusb pipe=0x2 policy=3 length=4 value=30000",
    };
    EXPECT_EQ(afterSearch, expected);

    Scripted().calls.clear();
    EXPECT_TRUE(device.Close());
    EXPECT_TRUE(device.Close());
    EXPECT_EQ(Scripted().calls,
              (std::vector<std::string>{"WinUsb_Free winusb", "CloseHandle file"}));
    EXPECT_FALSE(device.IsOpen());
}

TEST_F(ScriptedWindowsTest, PacketsMoveSynchronouslyOverTheBulkPipes) {
    AttachInstrument();
    CUsbDevice device;
    ASSERT_TRUE(device.Open(GUID_DEVINTERFACE_INSTRUMENT));
    Scripted().calls.clear();
    Scripted().readPackets = {"OK\rEND\r", std::string(80, 'z')};

    std::uint8_t buffer[65];
    std::uint32_t transferred = 99;
    ASSERT_TRUE(device.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 7u);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "OK\rEND\r");

    ASSERT_TRUE(device.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 64u);
    EXPECT_EQ(buffer[64], 0) << "the byte after the received ones is a NUL";

    EXPECT_FALSE(device.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 0u);

    const std::string request = "MRW -1\r";
    ASSERT_TRUE(device.WritePacket(reinterpret_cast<const std::uint8_t*>(request.data()),
                                   static_cast<std::uint32_t>(request.size()), transferred));
    EXPECT_EQ(transferred, request.size());
    EXPECT_EQ(Scripted().written, std::vector<std::string>{request});

    Scripted().writeFails = true;
    EXPECT_FALSE(device.WritePacket(reinterpret_cast<const std::uint8_t*>(request.data()),
                                    static_cast<std::uint32_t>(request.size()), transferred));

    const std::vector<std::string> expected = {
        "WinUsb_ReadPipe winusb pipe=0x81 length=64 overlapped=null",
        "WinUsb_ReadPipe winusb pipe=0x81 length=64 overlapped=null",
        "WinUsb_ReadPipe winusb pipe=0x81 length=64 overlapped=null",
        "WinUsb_WritePipe winusb pipe=0x2 length=7 overlapped=null",
        "WinUsb_WritePipe winusb pipe=0x2 length=7 overlapped=null",
    };
    EXPECT_EQ(Scripted().calls, expected);
}

struct OpenCase {
    const char* name;
    std::function<void(ScriptedWindows&)> arrange;
    bool expectedOpen;
    const char* lastOpenCall;
};

TEST_F(ScriptedWindowsTest, AFailedOpenKeepsItsHandlesUntilCloseReleasesThemInOrder) {
    const OpenCase cases[] = {
        {"device file cannot be opened", [](ScriptedWindows& s) { s.createFileFails = true; },
         false, "CreateFileA"},
        {"WinUSB refuses the file", [](ScriptedWindows& s) { s.initializeFails = true; }, false,
         "WinUsb_Initialize"},
        {"speed query fails", [](ScriptedWindows& s) { s.speedQueryFails = true; }, false,
         "WinUsb_QueryDeviceInformation"},
        {"interface settings fail", [](ScriptedWindows& s) { s.settingsQueryFails = true; }, false,
         "WinUsb_QueryInterfaceSettings"},
        {"isochronous endpoint",
         [](ScriptedWindows& s) { s.pipes[1] = Pipe(UsbdPipeTypeIsochronous, 0x02); }, false,
         "WinUsb_QueryPipe"},
        {"no bulk OUT pipe", [](ScriptedWindows& s) { s.pipes.erase(s.pipes.begin() + 1); }, false,
         "WinUsb_QueryPipe"},
        {"last pipe query fails", [](ScriptedWindows& s) { s.failingPipeQueries = {2}; }, false,
         "WinUsb_QueryPipe"},
        {"OUT time-out refused", [](ScriptedWindows& s) { s.failingPolicyPipes = {0x02}; }, false,
         "WinUsb_SetPipePolicy"},
        {"IN time-out refused: only the second outcome counts",
         [](ScriptedWindows& s) { s.failingPolicyPipes = {0x81}; }, true, "WinUsb_SetPipePolicy"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetScriptedWindows();
        AttachInstrument();
        c.arrange(Scripted());
        {
            CUsbDevice device;
            EXPECT_EQ(device.Open(GUID_DEVINTERFACE_INSTRUMENT), c.expectedOpen);
            EXPECT_EQ(CallNames(Scripted().calls).back(), c.lastOpenCall);
            const bool fileOpened = Scripted().liveFiles == 1;
            const bool interfaceInitialized = Scripted().liveInterfaces == 1;
            Scripted().calls.clear();
            EXPECT_TRUE(device.Close());
            std::vector<std::string> expectedRelease;
            if (interfaceInitialized) {
                expectedRelease.push_back("WinUsb_Free");
            }
            if (fileOpened) {
                expectedRelease.push_back("CloseHandle");
            }
            EXPECT_EQ(CallNames(Scripted().calls), expectedRelease);
            EXPECT_FALSE(device.IsOpen());
        }
        EXPECT_EQ(Scripted().liveFiles, 0);
        EXPECT_EQ(Scripted().liveInterfaces, 0);
    }
}

TEST_F(ScriptedWindowsTest, DestructionReleasesAnOpenLink) {
    AttachInstrument();
    {
        CUsbDevice device;
        ASSERT_TRUE(device.Open(GUID_DEVINTERFACE_INSTRUMENT));
        Scripted().calls.clear();
    }
    EXPECT_EQ(Scripted().calls,
              (std::vector<std::string>{"WinUsb_Free winusb", "CloseHandle file"}));
}

// --- the real system, with no instrument attached ------------------------------------------

// The system's device setup and file calls, with the WinUSB calls recorded instead of made.
WinUsbApi SystemApiWithRecordedWinUsb() {
    WinUsbApi api = SystemWinUsbApi();
    const WinUsbApi scripted = ScriptedWinUsbApi();
    api.initialize = scripted.initialize;
    api.queryDeviceInformation = scripted.queryDeviceInformation;
    api.queryInterfaceSettings = scripted.queryInterfaceSettings;
    api.queryPipe = scripted.queryPipe;
    api.setPipePolicy = scripted.setPipePolicy;
    api.readPipe = scripted.readPipe;
    api.writePipe = scripted.writePipe;
    api.freeInterface = scripted.freeInterface;
    return api;
}

class SystemWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { ResetScriptedWindows(); }
    void TearDown() override { InstallUsbDriver(nullptr); }
};

TEST_F(SystemWindowsTest, WithoutAnInstrumentFindAndOpenFailCleanly) {
    InstallUsbDriver(nullptr);  // the platform's own driver
    CUsbDevice device;
    char path[CUsbDevice::kDevicePathCapacity];
    std::memset(path, '#', sizeof(path));
    EXPECT_FALSE(device.FindDevicePath(GUID_DEVINTERFACE_INSTRUMENT, path));
    EXPECT_EQ(path[0], '\0');
    EXPECT_FALSE(device.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(device.Close());
    EXPECT_EQ(device.GetProductId(), "");
}

TEST_F(SystemWindowsTest, UnusablePathsFailBeforeAnyWinUsbCall) {
    const std::shared_ptr<UsbDriver> driver = CreateWinUsbDriver(SystemApiWithRecordedWinUsb());
    char ownExecutable[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameA(nullptr, ownExecutable, MAX_PATH), 0u);
    const std::string paths[] = {
        "\\\\?\\usb#vid_0a1b&pid_7c07#no-such-device#{6e1feb40-485f-4d00-b20d-da63b8637b45}",
        "\\\\?\\usb#vid_0a1b&pid_7c07#" + std::string(400, 'x'),
        ownExecutable,
        "",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path.substr(0, 60));
        EXPECT_EQ(driver->OpenDevicePath(path.c_str()), nullptr);
    }
    EXPECT_FALSE(HasWinUsbCall(Scripted().calls));
}

TEST_F(SystemWindowsTest, WithoutAnInstrumentOpenMakesNoWinUsbCall) {
    InstallUsbDriver(CreateWinUsbDriver(SystemApiWithRecordedWinUsb()));
    CUsbDevice device;
    EXPECT_FALSE(device.Open(GUID_DEVINTERFACE_INSTRUMENT));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(Scripted().calls.empty());
}

}  // namespace
