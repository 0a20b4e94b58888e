// The command set: the exact request of every operation, the reply each expects, the start and
// stop of a measurement over one link, Calibrate's boxes and the integer reply rule.
#include <climits>
#include <functional>

#include "LinkTestFixture.h"
#include "res/StringTable.h"

namespace {

using namespace ExchangeResult;

struct WriteCase {
    const char* name;
    std::function<int(CInstrument&)> operation;
    std::string request;
};

class WriteRequests : public LinkTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteRequests, SendTheirRequestAndSucceedOnOkEnd) {
    device->QueuePackets({"OK\r", "END\r"});
    CInstrument instrument;
    EXPECT_EQ(GetParam().operation(instrument), kSuccess);
    EXPECT_EQ(Requests(), std::vector<std::string>{GetParam().request});
    EXPECT_EQ(device->OpenHandles(), 0u) << "write operations close their own link";
}

TEST_P(WriteRequests, ReportASecondLineOtherThanEnd) {
    device->QueuePackets({"OK\rNG\r"});
    CInstrument instrument;
    EXPECT_EQ(GetParam().operation(instrument), kSecondLineNotEnd);
}

TEST_P(WriteRequests, ReportARefusalEvenWhenTheReplyEnds) {
    device->QueuePackets({"NG\rEND\r"});
    CInstrument instrument;
    EXPECT_EQ(GetParam().operation(instrument), kRefused);
    EXPECT_EQ(device->OpenHandles(), 0u);
}

TEST_P(WriteRequests, ReportAnAbsentInstrumentAsOpenFailure) {
    device->present = false;
    CInstrument instrument;
    EXPECT_EQ(GetParam().operation(instrument), kOpenFailed);
    EXPECT_TRUE(Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WriteRequests,
    ::testing::Values(
        WriteCase{"AveragingOne", [](CInstrument& i) { return i.WriteAveraging(1); }, "ACW 1\r"},
        WriteCase{"AveragingFive", [](CInstrument& i) { return i.WriteAveraging(5); }, "ACW 5\r"},
        WriteCase{"RangeAuto", [](CInstrument& i) { return i.WriteRange(-1); }, "MRW -1\r"},
        WriteCase{"RangeF3", [](CInstrument& i) { return i.WriteRange(6); }, "MRW 6\r"},
        WriteCase{"Frequency60", [](CInstrument& i) { return i.WriteFrequency(1); }, "FRQW 1\r"},
        WriteCase{"Factor", [](CInstrument& i) { return i.WriteCorrectionFactor("1.000"); },
                  "CFW 1.000\r"},
        WriteCase{"FactorSwitchOn", [](CInstrument& i) { return i.WriteCorrectionFactorSwitch(1); },
                  "CFSW 1\r"},
        WriteCase{"FactorSwitchOff",
                  [](CInstrument& i) { return i.WriteCorrectionFactorSwitch(0); }, "CFSW 0\r"},
        WriteCase{"ZeroCalibrationOn", [](CInstrument& i) { return i.WriteZeroCalibration(1); },
                  "ZCW 1\r"},
        WriteCase{"ZeroCalibrationOff", [](CInstrument& i) { return i.WriteZeroCalibration(0); },
                  "ZCW 0\r"},
        WriteCase{"AutoPowerOff30", [](CInstrument& i) { return i.WriteAutoPowerOff(4); },
                  "APW 4\r"},
        WriteCase{"AnalogFast", [](CInstrument& i) { return i.WriteAnalogResponse(1); },
                  "AFW 1\r"}),
    CaseName());

struct QueryOperationCase {
    const char* name;
    std::function<int(CInstrument&, std::string&)> operation;
    std::string request;
};

class QueryRequests : public LinkTest, public ::testing::WithParamInterface<QueryOperationCase> {};

TEST_P(QueryRequests, SendTheirRequestAndHandOutTheData) {
    device->QueuePackets({"OK\r", "value 42\r", "END\r"});
    CInstrument instrument;
    std::string data;
    EXPECT_EQ(GetParam().operation(instrument, data), 1);
    EXPECT_EQ(data, "value 42");
    EXPECT_EQ(Requests(), std::vector<std::string>{GetParam().request});
    EXPECT_EQ(device->OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, QueryRequests,
    ::testing::Values(
        QueryOperationCase{"Model", [](CInstrument& i, std::string& d) { return i.ReadModel(d); },
                           "WHO\r"},
        QueryOperationCase{"Serial",
                           [](CInstrument& i, std::string& d) { return i.ReadSerialNumber(d); },
                           "SRL\r"},
        QueryOperationCase{"Maintenance",
                           [](CInstrument& i, std::string& d) { return i.ReadMaintenanceDate(d); },
                           "MT\r"},
        QueryOperationCase{
            "Version", [](CInstrument& i, std::string& d) { return i.ReadVersion(d); }, "VER\r"},
        QueryOperationCase{"DetectorTemperature",
                           [](CInstrument& i, std::string& d) { return i.ReadTemperature(0, d); },
                           "TMP 0\r"},
        QueryOperationCase{"ControllerTemperature",
                           [](CInstrument& i, std::string& d) { return i.ReadTemperature(1, d); },
                           "TMP 1\r"},
        QueryOperationCase{"Factor",
                           [](CInstrument& i, std::string& d) { return i.ReadCorrectionFactor(d); },
                           "CFR\r"},
        QueryOperationCase{"Averaging",
                           [](CInstrument& i, std::string& d) { return i.ReadAveraging(d); },
                           "ACR\r"},
        QueryOperationCase{"Range", [](CInstrument& i, std::string& d) { return i.ReadRange(d); },
                           "MRR\r"},
        QueryOperationCase{"Frequency",
                           [](CInstrument& i, std::string& d) { return i.ReadFrequency(d); },
                           "FRQR\r"},
        QueryOperationCase{"ZeroCalibration",
                           [](CInstrument& i, std::string& d) { return i.ReadZeroCalibration(d); },
                           "ZCR\r"},
        QueryOperationCase{
            "FactorSwitch",
            [](CInstrument& i, std::string& d) { return i.ReadCorrectionFactorSwitch(d); },
            "CFSR\r"},
        QueryOperationCase{"LastError",
                           [](CInstrument& i, std::string& d) { return i.ReadLastError(d); },
                           "ERR\r"},
        QueryOperationCase{"AutoPowerOff",
                           [](CInstrument& i, std::string& d) { return i.ReadAutoPowerOff(d); },
                           "APR\r"},
        QueryOperationCase{"AnalogResponse",
                           [](CInstrument& i, std::string& d) { return i.ReadAnalogResponse(d); },
                           "AFR\r"},
        QueryOperationCase{"Log", [](CInstrument& i, std::string& d) { return i.ReadLog(d); },
                           "LOG\r"}),
    CaseName());

TEST_F(LinkTest, LogOfSeveralLinesIsJoinedByCrWithoutATrailingCr) {
    device->QueuePackets(
        {"OK\r", "2026/01/02 START\r2026/01/02 ZERO\r", "2026/01/03 NO ERROR\r", "END\r"});
    CInstrument instrument;
    std::string log;
    EXPECT_EQ(instrument.ReadLog(log), 1);
    EXPECT_EQ(log, "2026/01/02 START\r2026/01/02 ZERO\r2026/01/03 NO ERROR");
}

TEST_F(LinkTest, StartMeasurementLeavesTheLinkOpenWithTheStreamPending) {
    device->QueuePackets({"OK\rEND\r1.0 2.0 3.0\r"});
    CInstrument instrument;
    EXPECT_EQ(instrument.StartMeasurement(), kSuccess);
    EXPECT_TRUE(instrument.IsOpen());
    EXPECT_EQ(Requests(), std::vector<std::string>{"CST\r"});
    EXPECT_EQ(instrument.TakePendingText(), "1.0 2.0 3.0\r");
}

TEST_F(LinkTest, StartMeasurementKeepsTheLinkOpenEvenWhenRefused) {
    device->QueuePackets({"OK\rNG\r"});
    CInstrument instrument;
    EXPECT_EQ(instrument.StartMeasurement(), kSecondLineNotEnd);
    EXPECT_TRUE(instrument.IsOpen());
}

TEST_F(LinkTest, StartMeasurementRefusedWithEndIsNoStart) {
    device->QueuePackets({"NG\rEND\r"});
    CInstrument instrument;
    EXPECT_EQ(instrument.StartMeasurement(), kRefused);
    EXPECT_TRUE(instrument.IsOpen()) << "the worker closes it";
}

TEST_F(LinkTest, StartMeasurementWithoutInstrumentIsAnOpenFailure) {
    device->present = false;
    CInstrument instrument;
    EXPECT_EQ(instrument.StartMeasurement(), kOpenFailed);
    EXPECT_TRUE(Requests().empty());
}

struct StopCase {
    const char* name;
    std::vector<std::string> packets;
    int expectedCode;
    std::string expectedReplyText;
    std::string expectedPending;
};

class StopMeasurementReplies : public LinkTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopMeasurementReplies, ReadOneLineOverTheOpenLink) {
    const StopCase& c = GetParam();
    CInstrument instrument;
    std::string productId;
    ASSERT_EQ(instrument.OpenLink(productId), 1);
    device->QueuePackets(c.packets);
    std::string replyText;
    EXPECT_EQ(instrument.StopMeasurement(replyText), c.expectedCode);
    EXPECT_EQ(replyText, c.expectedReplyText);
    EXPECT_EQ(instrument.PendingText(), c.expectedPending);
    EXPECT_EQ(Requests(), std::vector<std::string>{"STP\r"});
    EXPECT_TRUE(instrument.IsOpen());
    EXPECT_EQ(device->reads.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, StopMeasurementReplies,
    ::testing::Values(StopCase{"No", {"NO\r"}, kSuccess, "NO\r", ""},
                      StopCase{"OkAndItsLine", {"OK\rEND\r"}, kSuccess, "OK\r", "END\r"},
                      StopCase{"StreamBeforeTheReply",
                               {"1.0 2.0 3.0\r", "OK\rEND\r"},
                               kSuccess,
                               "1.0 2.0 3.0\r",
                               "OK\rEND\r"},
                      // The reply's "OK" line ends the read though no packet begins with it.
                      StopCase{"StreamLineReplyAndEndInOnePacket",
                               {"1.0 2.0 3.0\rOK\rEND\r"},
                               kSuccess,
                               "1.0 2.0 3.0\r",
                               "OK\rEND\r"},
                      StopCase{"ReadFails", {}, kFirstReadFailed, "", ""}),
    CaseName());

// Calibration answers with empty packets for far longer than the idle limit, then completes.
std::vector<std::string> PatientCalibrationReply() {
    std::vector<std::string> packets(2000, "");
    packets.push_back("OK\r");
    packets.push_back("END\r");
    return packets;
}

struct CalibrateCase {
    const char* name;
    std::vector<std::string> packets;
    int expectedCode;
    int expectedStringId;  // 0: no box
    MessageIcon expectedIcon;
};

class CalibrateOutcomes : public LinkTest, public ::testing::WithParamInterface<CalibrateCase> {};

TEST_P(CalibrateOutcomes, ShowTheirOwnBoxThroughTheFrameworkFunction) {
    const CalibrateCase& c = GetParam();
    device->QueuePackets(c.packets);
    CInstrument instrument;
    EXPECT_EQ(instrument.Calibrate(), c.expectedCode);
    EXPECT_EQ(Requests(), std::vector<std::string>{"CAL\r"});
    EXPECT_EQ(device->OpenHandles(), 0u);
    if (c.expectedStringId == 0) {
        EXPECT_TRUE(interaction->boxes.empty());
        return;
    }
    ASSERT_EQ(interaction->boxes.size(), 1u);
    const MessageBoxRequest& box = interaction->boxes[0];
    EXPECT_EQ(box.text, LoadResourceString(c.expectedStringId));
    EXPECT_EQ(box.caption, "qiro7");
    EXPECT_EQ(box.icon, c.expectedIcon);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CalibrateOutcomes,
    ::testing::Values(
        CalibrateCase{"Completed",
                      {"OK\r", "END\r"},
                      kSuccess,
                      IDS_ZERO_CALIBRATION_COMPLETED,
                      MessageIcon::Information},
        CalibrateCase{"CompletedAfterALongWait", PatientCalibrationReply(), kSuccess,
                      IDS_ZERO_CALIBRATION_COMPLETED, MessageIcon::Information},
        CalibrateCase{"LightOnDetector",
                      {"OK\r", "NG\r"},
                      kSuccess,
                      IDS_BLOCK_OUT_LIGHT,
                      MessageIcon::Exclamation},
        CalibrateCase{"FirstLineNotOkButEnd", {"BUSY\r", "END\r"}, kSuccess, 0, MessageIcon::None},
        CalibrateCase{"OtherSecondLine", {"OK\r", "NO\r"}, kSecondLineNotEnd, 0, MessageIcon::None},
        CalibrateCase{"NoReplyAtAll", {}, kFirstReadFailed, 0, MessageIcon::None}),
    CaseName());

TEST_F(LinkTest, CalibrateWithoutInstrumentShowsNothing) {
    device->present = false;
    CInstrument instrument;
    EXPECT_EQ(instrument.Calibrate(), kOpenFailed);
    EXPECT_TRUE(interaction->boxes.empty());
}

struct IntegerCase {
    const char* text;
    int expected;
};

class IntegerReplies : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerReplies, FollowTheDecimalReplyRule) {
    EXPECT_EQ(ParseReplyInteger(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, IntegerReplies,
    ::testing::Values(IntegerCase{"3", 3}, IntegerCase{"-1", -1}, IntegerCase{"+4", 4},
                      IntegerCase{"  \t6", 6}, IntegerCase{"007", 7}, IntegerCase{"12abc", 12},
                      IntegerCase{"5.9", 5}, IntegerCase{"", 0}, IntegerCase{"abc", 0},
                      IntegerCase{"-", 0}, IntegerCase{"- 5", 0}, IntegerCase{"--5", 0},
                      IntegerCase{"2147483647", INT_MAX}, IntegerCase{"2147483648", INT_MAX},
                      IntegerCase{"99999999999999999999999", INT_MAX},
                      IntegerCase{"-2147483648", INT_MIN}, IntegerCase{"-2147483649", INT_MIN},
                      IntegerCase{"-99999999999999999999999", INT_MIN}));

}  // namespace
