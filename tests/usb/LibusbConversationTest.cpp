// The program's conversations with the firmware over real libusb transfers: single packets,
// the connection read, writing the conditions, a measurement stream and time-outs.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/Instrument.h"
#include "measure/StreamLineAssembler.h"
#include "tests/common/ConnectSequence.h"
#include "tests/usb/EmulatedUsbTest.h"

namespace {

using Lines = std::vector<std::string>;
using IdleReads = SimulatedInstrument::IdleReads;
using Packetisation = SimulatedInstrument::Packetisation;

bool WriteText(CUsbDevice& usb, const std::string& text) {
    std::uint32_t transferred = 0;
    return usb.WritePacket(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<std::uint32_t>(text.size()), transferred) &&
           transferred == text.size();
}

class LibusbConversation : public EmulatedUsbTest {};

TEST_F(LibusbConversation, QueryTravelsOverTheBulkPipesAndTheInterfaceIsReleased) {
    ASSERT_TRUE(Present({{}}));
    SimulatedInstrument::Identity identity;
    identity.model = "QIRO-7 EMU";
    devices[0]->Firmware()->SetIdentity(identity);
    {
        CInstrument link;
        std::string model;
        EXPECT_EQ(link.ReadModel(model), 1);
        EXPECT_EQ(model, "QIRO-7 EMU");
    }
    EXPECT_EQ(devices[0]->RequestLog(), Lines{"WHO"});
    EXPECT_EQ(devices[0]->InterfaceEvents(), LinkCycleEvents());
}

TEST_F(LibusbConversation, ZeroLengthPacketIsASuccessfulEmptyRead) {
    ASSERT_TRUE(Present({{}}));
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::uint8_t buffer[CInstrument::kPacketBufferSize];
    std::uint32_t transferred = 99;
    EXPECT_TRUE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 0u);
    ASSERT_TRUE(WriteText(usb, "RM\r"));
    EXPECT_TRUE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), transferred), "OK\r");
    EXPECT_EQ(buffer[transferred], 0) << "the received bytes are followed by a NUL";
}

TEST_F(LibusbConversation, ReadWithNothingToSendFailsAtTheTimeOutAndLeavesTheLinkOpen) {
    ASSERT_TRUE(Present({{}}));
    devices[0]->Firmware()->SetIdleReads(IdleReads::NoPacket);
    CUsbDevice usb;
    ASSERT_TRUE(usb.Open(GUID_DEVINTERFACE_INSTRUMENT));
    std::uint8_t buffer[CInstrument::kPacketBufferSize];
    std::uint32_t transferred = 99;
    EXPECT_FALSE(usb.ReadPacket(buffer, sizeof(buffer), transferred));
    EXPECT_EQ(transferred, 0u);
    EXPECT_TRUE(usb.IsOpen());
    EXPECT_EQ(devices[0]->DiscardedReads(), 1u);
    EXPECT_EQ(devices[0]->PendingReads(), 0u);
}

struct PacketMode {
    const char* name;
    Packetisation packetisation;
    std::size_t packetBytes;
    IdleReads idleReads;
};

void PrintTo(const PacketMode& value, std::ostream* out) {
    *out << value.name;
}

class ConnectOverLibusb : public EmulatedUsbTest,
                          public ::testing::WithParamInterface<PacketMode> {};

TEST_P(ConnectOverLibusb, ReadsEverythingInOrderOneInterfaceClaimPerStep) {
    ASSERT_TRUE(Present({{}}));
    devices[0]->Firmware()->SetPacketisation(GetParam().packetisation, GetParam().packetBytes);
    devices[0]->Firmware()->SetIdleReads(GetParam().idleReads);
    const ConnectRead read = RunConnectSequence();
    EXPECT_EQ(read.steps, 17);
    EXPECT_EQ(read.data, kDefaultConnectData);
    EXPECT_EQ(devices[0]->RequestLog(), kConnectRequests);
    EXPECT_EQ(devices[0]->InterfaceEvents(), LinkCycleEvents(17));
    EXPECT_EQ(devices[0]->DiscardedReads(), 0u);
    // One search for the whole Connect, its product-string read included; then one open a step.
    EXPECT_EQ(devices[0]->ProductStringReads(), 1u);
    EXPECT_EQ(devices[0]->Opens(), 1u + 17u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ConnectOverLibusb,
    ::testing::Values(
        PacketMode{"LinePerPacket", Packetisation::LinePerPacket, 64, IdleReads::EmptyPacket},
        PacketMode{"WholeReply", Packetisation::WholeReply, 64, IdleReads::EmptyPacket},
        PacketMode{"LinePerPacketNoIdlePackets", Packetisation::LinePerPacket, 64,
                   IdleReads::NoPacket},
        PacketMode{"RandomCutsNoIdlePackets", Packetisation::RandomCuts, 64, IdleReads::NoPacket}),
    [](const ::testing::TestParamInfo<PacketMode>& param) {
        return std::string(param.param.name);
    });

// One condition: how it is written and read back, in the order Save writes them.
struct Condition {
    int (CInstrument::*write)(int);
    int value;
    const char* request;
    int (CInstrument::*read)(std::string&);
    const char* readBack;
};

TEST_F(LibusbConversation, WritesTheEightConditionsInSaveOrderAndReadsThemBack) {
    ASSERT_TRUE(Present({{}}));
    SimulatedInstrument::Conditions before;
    before.range = 3;
    devices[0]->Firmware()->SetConditions(before);
    const Condition conditions[] = {
        {&CInstrument::WriteAveraging, 4, "ACW 4", &CInstrument::ReadAveraging, "4"},
        {&CInstrument::WriteRange, -1, "MRW -1", &CInstrument::ReadRange, "-1"},
        {&CInstrument::WriteFrequency, 1, "FRQW 1", &CInstrument::ReadFrequency, "1"},
        {nullptr, 0, "CFW 2.345", &CInstrument::ReadCorrectionFactor, "2.345"},
        {&CInstrument::WriteCorrectionFactorSwitch, 1, "CFSW 1",
         &CInstrument::ReadCorrectionFactorSwitch, "1"},
        {&CInstrument::WriteZeroCalibration, 0, "ZCW 0", &CInstrument::ReadZeroCalibration, "0"},
        {&CInstrument::WriteAutoPowerOff, 4, "APW 4", &CInstrument::ReadAutoPowerOff, "4"},
        {&CInstrument::WriteAnalogResponse, 1, "AFW 1", &CInstrument::ReadAnalogResponse, "1"},
    };
    Lines expectedRequests;
    {
        CInstrument instrument;
        for (const Condition& condition : conditions) {
            const int result = condition.write != nullptr
                                   ? (instrument.*condition.write)(condition.value)
                                   : instrument.WriteCorrectionFactor("2.345");
            EXPECT_EQ(result, ExchangeResult::kSuccess) << condition.request;
            expectedRequests.push_back(condition.request);
        }
        for (const Condition& condition : conditions) {
            std::string data;
            EXPECT_EQ((instrument.*condition.read)(data), 1) << condition.request;
            EXPECT_EQ(data, condition.readBack) << condition.request;
        }
    }
    const Lines log = devices[0]->RequestLog();
    ASSERT_GE(log.size(), expectedRequests.size());
    EXPECT_EQ(Lines(log.begin(), log.begin() + 8), expectedRequests);
    const SimulatedInstrument::Conditions after = devices[0]->Firmware()->GetConditions();
    EXPECT_EQ(after.averaging, 4);
    EXPECT_EQ(after.range, -1);
    EXPECT_EQ(after.factorText, "2.345");
    EXPECT_EQ(after.zeroCalibration, 0);
}

// Reads packets until a whole line is there; false when a read fails or the line overflows.
bool NextStreamLine(CInstrument& link, StreamLineAssembler& stream, std::string& line) {
    StreamLineAssembler::Line taken;
    for (;;) {
        switch (stream.TakeLine(taken)) {
            case StreamLineAssembler::Take::Line:
                line = taken.text;
                return true;
            case StreamLineAssembler::Take::TooLong:
                return false;
            case StreamLineAssembler::Take::NeedMore:
                break;
        }
        std::uint8_t buffer[CInstrument::kPacketBufferSize];
        std::uint32_t transferred = 0;
        if (!link.ReadPacket(buffer, sizeof(buffer), transferred)) {
            return false;
        }
        stream.Append(std::string_view(reinterpret_cast<const char*>(buffer), transferred));
    }
}

struct StreamMode {
    const char* name;
    Packetisation packetisation;
    std::size_t packetBytes;
};

void PrintTo(const StreamMode& value, std::ostream* out) {
    *out << value.name;
}

class StreamOverLibusb : public EmulatedUsbTest,
                         public ::testing::WithParamInterface<StreamMode> {};

// The stop's reply arrives on the stream's pipe, so whatever its read collected goes back
// into the stream: no reading is lost, whatever the packets.
TEST_P(StreamOverLibusb, ReadingsFlowOverTheOpenLinkUntilStopAndEnd) {
    ASSERT_TRUE(Present({{}}));
    devices[0]->Firmware()->SetPacketisation(GetParam().packetisation, GetParam().packetBytes);
    constexpr std::size_t kReadingsBeforeStop = 25;
    CInstrument worker;
    ASSERT_EQ(worker.StartMeasurement(), ExchangeResult::kSuccess);
    StreamLineAssembler stream;
    stream.Append(worker.TakePendingText());
    std::size_t readings = 0;
    std::string line;
    while (readings < kReadingsBeforeStop) {
        ASSERT_TRUE(NextStreamLine(worker, stream, line)) << "reading " << readings;
        EXPECT_TRUE(IsInstrumentReading(line)) << line;
        ++readings;
    }
    std::string stopReply;
    EXPECT_EQ(worker.StopMeasurement(stopReply), ExchangeResult::kSuccess);
    stream.AppendStopReply(stopReply + worker.TakePendingText());
    Lines afterStop;
    while (line != "END" && afterStop.size() < 100) {
        ASSERT_TRUE(NextStreamLine(worker, stream, line));
        afterStop.push_back(line);
        readings += IsInstrumentReading(line) ? 1 : 0;
    }
    worker.CloseLink();

    EXPECT_EQ(afterStop.back(), "END");
    EXPECT_EQ(std::count(afterStop.begin(), afterStop.end(), "OK"), 1);
    EXPECT_EQ(readings, devices[0]->Firmware()->StreamLinesSent());
    EXPECT_EQ(devices[0]->RequestLog(), (Lines{"CST", "STP"}));
    EXPECT_FALSE(devices[0]->Firmware()->IsStreaming());
    EXPECT_EQ(devices[0]->InterfaceEvents(), LinkCycleEvents());
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamOverLibusb,
                         ::testing::Values(StreamMode{"LinePerPacket", Packetisation::LinePerPacket,
                                                      64},
                                           StreamMode{"WholeReply", Packetisation::WholeReply, 64},
                                           StreamMode{"Split7", Packetisation::FixedSize, 7}),
                         [](const ::testing::TestParamInfo<StreamMode>& param) {
                             return std::string(param.param.name);
                         });

// A firmware that stops answering at a request: every read of the reply waits for the
// transfer time-out, and each kind of conversation fails with its own code.
struct SilentCase {
    const char* name;
    int (*converse)(CInstrument&);
    int expected;
};

void PrintTo(const SilentCase& value, std::ostream* out) {
    *out << value.name;
}

class SilentFirmware : public EmulatedUsbTest, public ::testing::WithParamInterface<SilentCase> {};

TEST_P(SilentFirmware, TheReadTimeOutFailsTheConversationAndTheInterfaceIsReleased) {
    ASSERT_TRUE(Present({{}}));
    devices[0]->Firmware()->SetIdleReads(IdleReads::NoPacket);
    devices[0]->Firmware()->SetSilentFromRequest(1);
    {
        CInstrument instrument;
        EXPECT_EQ(GetParam().converse(instrument), GetParam().expected);
    }
    EXPECT_EQ(devices[0]->DiscardedReads(), 1u);
    EXPECT_EQ(devices[0]->PendingReads(), 0u);
    EXPECT_EQ(devices[0]->InterfaceEvents(), LinkCycleEvents());
}

INSTANTIATE_TEST_SUITE_P(
    LibusbDriver, SilentFirmware,
    ::testing::Values(SilentCase{"Query",
                                 [](CInstrument& i) {
                                     std::string data;
                                     return i.ReadSerialNumber(data);
                                 },
                                 0},
                      SilentCase{"Write", [](CInstrument& i) { return i.WriteAveraging(2); },
                                 ExchangeResult::kFirstReadFailed},
                      SilentCase{"StopAndReset",
                                 [](CInstrument& i) { return i.StopAndReset(true); }, 0}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LibusbConversation, ASecondReplyLineThatNeverComesFailsTheWriteAtTheTimeOut) {
    ASSERT_TRUE(Present({{}}));
    devices[0]->Firmware()->SetIdleReads(IdleReads::NoPacket);
    devices[0]->Firmware()->SetReplyOverride("ACW", {"OK"});
    CInstrument instrument;
    EXPECT_EQ(instrument.WriteAveraging(2), ExchangeResult::kSecondReadFailed);
    EXPECT_EQ(devices[0]->DiscardedReads(), 1u);
}

}  // namespace
