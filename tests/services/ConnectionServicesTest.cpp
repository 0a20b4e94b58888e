// Connect and Refresh: the seventeen-step read, what it shows, and how it fails.
#include <array>

#include "tests/services/ServicesFixture.h"

namespace {

constexpr std::array kInformationBoxes = {
    IDC_MODEL,   IDC_SERIAL_NUMBER,        IDC_MAINTENANCE_DATE,
    IDC_VERSION, IDC_DETECTOR_TEMPERATURE, IDC_CONTROLLER_TEMPERATURE};

using Connection = ServicesTest;

TEST_F(Connection, ReadsEverythingInSeventeenStepsAndShowsIt) {
    SimulatedInstrument::Identity identity;
    identity.model = "QIRO-7A";
    identity.serialNumber = "SN 0042";
    identity.maintenanceDate = "NOV 2025";
    identity.version = "2.10";
    identity.detectorTemperature = "25.1";
    identity.controllerTemperature = "-3.5";
    driver->Instrument()->SetIdentity(identity);
    driver->Instrument()->SetLastError(12);

    Click(IDC_CONNECT);

    EXPECT_EQ(Requests(), kConnectRequests);
    EXPECT_EQ(Text(IDC_MODEL), "QIRO-7A");
    EXPECT_EQ(Text(IDC_SERIAL_NUMBER), "SN 0042");
    EXPECT_EQ(Text(IDC_MAINTENANCE_DATE), "NOV 2025");
    EXPECT_EQ(Text(IDC_VERSION), "2.10");
    EXPECT_EQ(Text(IDC_DETECTOR_TEMPERATURE), "25.1");
    EXPECT_EQ(Text(IDC_CONTROLLER_TEMPERATURE), "-3.5");
    EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), "12");
    EXPECT_EQ(window->lastErrorCode, "12");
    // The simulator's defaults: range Auto, 50Hz, averaging 1, factor 1.000 switched off, zero
    // calibration on, auto power off 10 minutes, slow analog output.
    EXPECT_TRUE(Checked(IDC_RANGE_AUTO));
    EXPECT_TRUE(Checked(IDC_FREQUENCY_50HZ));
    EXPECT_TRUE(Checked(IDC_AVERAGING_1));
    EXPECT_TRUE(Checked(IDC_FACTOR_OFF));
    EXPECT_TRUE(Checked(IDC_ZERO_CALIBRATION_ON));
    EXPECT_TRUE(Checked(IDC_AUTO_POWER_OFF_10));
    EXPECT_TRUE(Checked(IDC_ANALOG_SLOW));
    EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), "1");
    EXPECT_EQ(window->conditions.correctionFactor, 1.0);

    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTION_ESTABLISHED, MessageIcon::Information);
    EXPECT_EQ(seen[0].state, UiState::Connected) << "the box comes after the controls are enabled";
    EXPECT_EQ(ShownState(), UiState::Connected);
}

TEST_F(Connection, WithoutAnInstrumentShowsTheConnectionErrorAndKeepsNone) {
    driver->SetPresent(false);

    Click(IDC_CONNECT);

    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTION_ERROR, MessageIcon::Exclamation);
    for (const int id : kInformationBoxes) {
        EXPECT_EQ(Text(id), "none") << id;
    }
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

TEST_F(Connection, EmptiesTheReceivedListEvenWhenTheReadFails) {
    ConnectFirst();
    Type(IDC_RECEIVED, "1.0E-1 2.0E-1 3.0E-1\r\n");
    window->SetUiState(UiState::Connected);
    ASSERT_TRUE(Enabled(IDC_OUTPUT));
    driver->SetPresent(false);

    Click(IDC_CONNECT);

    EXPECT_EQ(Text(IDC_RECEIVED), "");
    EXPECT_FALSE(Enabled(IDC_OUTPUT));
    EXPECT_FALSE(Enabled(IDC_SHOW_GRAPH));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{LoadResourceString(IDS_CONNECTION_ERROR)});
}

TEST_F(Connection, AnInstrumentFallingSilentAfterTheSerialNumberKeepsWhatWasRead) {
    ConnectFirst();
    const std::string oldDate = Text(IDC_MAINTENANCE_DATE);
    const std::string oldVersion = Text(IDC_VERSION);
    SimulatedInstrument::Identity identity;
    identity.model = "NEW MODEL";
    identity.serialNumber = "NEW SERIAL";
    identity.maintenanceDate = "NEW DATE";
    identity.version = "NEW VERSION";
    driver->Instrument()->SetIdentity(identity);
    driver->Instrument()->SetSilentFromCommand("MT");

    Click(IDC_CONNECT);

    EXPECT_EQ(Text(IDC_MODEL), "NEW MODEL");
    EXPECT_EQ(Text(IDC_SERIAL_NUMBER), "NEW SERIAL");
    EXPECT_EQ(Text(IDC_MAINTENANCE_DATE), oldDate);
    EXPECT_EQ(Text(IDC_VERSION), oldVersion);
    EXPECT_EQ(Requests(), (std::vector<std::string>{"STP", "RM", "WHO", "SRL", "MT"}));
    ASSERT_EQ(seen.size(), 1u);
    ExpectWindowBox(0, IDS_CONNECTING_ERROR, MessageIcon::Exclamation);
    EXPECT_EQ(seen[0].state, UiState::Busy) << "the box comes before Disconnected";
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

struct GroupCase {
    const char* name;
    void (*set)(SimulatedInstrument::Conditions&);
    int firstButtonId;
    int index;
};

TEST_F(Connection, EveryConditionReplyChecksTheButtonItStandsForOrNone) {
    using Wire = SimulatedInstrument::Conditions;
    const GroupCase cases[] = {
        {"range -1", [](Wire& w) { w.range = -1; }, IDC_RANGE_AUTO, 0},
        {"range 4", [](Wire& w) { w.range = 4; }, IDC_RANGE_AUTO, 4},
        {"range 6", [](Wire& w) { w.range = 6; }, IDC_RANGE_AUTO, 6},
        {"range 0", [](Wire& w) { w.range = 0; }, IDC_RANGE_AUTO, -1},
        {"range 7", [](Wire& w) { w.range = 7; }, IDC_RANGE_AUTO, -1},
        {"frequency 1", [](Wire& w) { w.frequency = 1; }, IDC_FREQUENCY_50HZ, 1},
        {"frequency 2", [](Wire& w) { w.frequency = 2; }, IDC_FREQUENCY_50HZ, -1},
        {"averaging 5", [](Wire& w) { w.averaging = 5; }, IDC_AVERAGING_1, 4},
        {"averaging 6", [](Wire& w) { w.averaging = 6; }, IDC_AVERAGING_1, -1},
        {"zero calibration 0", [](Wire& w) { w.zeroCalibration = 0; }, IDC_ZERO_CALIBRATION_ON, 1},
        {"zero calibration 1", [](Wire& w) { w.zeroCalibration = 1; }, IDC_ZERO_CALIBRATION_ON, 0},
        {"factor switch 1", [](Wire& w) { w.factorSwitch = 1; }, IDC_FACTOR_ON, 0},
        {"auto power off 4", [](Wire& w) { w.autoPowerOff = 4; }, IDC_AUTO_POWER_OFF_INF, 4},
        {"auto power off 0", [](Wire& w) { w.autoPowerOff = 0; }, IDC_AUTO_POWER_OFF_INF, 0},
        {"analog response 1", [](Wire& w) { w.analogResponse = 1; }, IDC_ANALOG_SLOW, 1},
    };
    for (const GroupCase& c : cases) {
        // A stale choice in the group must not survive the read.
        Check(c.firstButtonId == IDC_RANGE_AUTO ? IDC_RANGE_A2 : c.firstButtonId);
        Wire wire;
        c.set(wire);
        SetInstrumentConditions(wire);
        seen.clear();

        window->OnConnect();

        EXPECT_EQ(CheckedIndex(c.firstButtonId), c.index) << c.name;
        EXPECT_EQ(BoxTexts(),
                  std::vector<std::string>{LoadResourceString(IDS_CONNECTION_ESTABLISHED)})
            << "a reply without a button is no failure: " << c.name;
    }
}

TEST_F(Connection, AnEmptyReplyFailsEverySettingButAveraging) {
    const char* const failing[] = {"MRR", "FRQR", "ZCR", "CFSR", "APR", "AFR"};
    for (const char* command : failing) {
        Forget();
        Override(command, {"OK", "", "END"});

        window->OnConnect();

        EXPECT_EQ(BoxTexts(), std::vector<std::string>{LoadResourceString(IDS_CONNECTING_ERROR)})
            << command;
        EXPECT_EQ(Requests().back(), command) << "the read ends at once";
        EXPECT_EQ(ShownState(), UiState::Disconnected) << command;
        Override(command, {});
    }

    Forget();
    Override("ACR", {"OK", "", "END"});
    window->OnConnect();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{LoadResourceString(IDS_CONNECTION_ESTABLISHED)});
    EXPECT_EQ(CheckedIndex(IDC_AVERAGING_1), -1);
}

TEST_F(Connection, AFactorReplyThatIsNoNumberPromptsAndTheReadGoesOn) {
    Override("CFR", {"OK", "ABC", "END"});

    Click(IDC_CONNECT);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].request.text, "Enter a number.");
    EXPECT_EQ(seen[0].request.caption, kTestApplicationName);
    EXPECT_EQ(seen[0].request.icon, MessageIcon::Exclamation);
    ExpectWindowBox(1, IDS_CONNECTION_ESTABLISHED, MessageIcon::Information);
    EXPECT_EQ(Requests(), kConnectRequests);
    EXPECT_EQ(window->conditions.correctionFactor, 0.001) << "the old value stays";
    EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), "0.001");
}

TEST_F(Connection, TheFactorIsShownAsTheNumberItIs) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.000", "1"}, {"0.5", "0.5"}, {"9.999", "9.999"}, {"0.100", "0.1"}};
    for (const auto& [reply, shown] : cases) {
        SimulatedInstrument::Conditions wire;
        wire.factorText = reply;
        SetInstrumentConditions(wire);
        window->OnConnect();
        EXPECT_EQ(Text(IDC_CORRECTION_FACTOR), shown) << reply;
    }
}

TEST_F(Connection, AFailedStopAndResetIsAConnectingError) {
    Override("RM", {"NG"});

    Click(IDC_CONNECT);

    EXPECT_EQ(Requests(), (std::vector<std::string>{"STP", "RM"}));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{LoadResourceString(IDS_CONNECTING_ERROR)});
    EXPECT_EQ(ShownState(), UiState::Disconnected);
}

TEST_F(Connection, RefreshRereadsWithoutABoxAndKeepsTheReceivedList) {
    ConnectFirst();
    Type(IDC_RECEIVED, "1.0E-1 2.0E-1 3.0E-1\r\n");
    driver->Instrument()->SetLastError(5);

    Click(IDC_REFRESH);

    EXPECT_EQ(Requests(), kConnectRequests);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(Text(IDC_LAST_ERROR_CODE), "5");
    EXPECT_EQ(Text(IDC_RECEIVED), "1.0E-1 2.0E-1 3.0E-1\r\n");
    EXPECT_EQ(ShownState(), UiState::Connected);
}

struct RefreshFailureCase {
    const char* name;
    void (*breakInstrument)(SimulatedUsbDriver&);
    int stringId;
};

TEST_F(Connection, AFailedRefreshShowsItsErrorAfterBusyAndEndsDisconnected) {
    const RefreshFailureCase cases[] = {
        {"unplugged", [](SimulatedUsbDriver& d) { d.SetPresent(false); }, IDS_CONNECTION_ERROR},
        {"silent", [](SimulatedUsbDriver& d) { d.Instrument()->SetSilentFromCommand("ERR"); },
         IDS_CONNECTING_ERROR},
    };
    for (const RefreshFailureCase& c : cases) {
        driver->ClearTransportFaults();
        driver->Instrument()->SetSilentFromCommand("");
        ConnectFirst();
        c.breakInstrument(*driver);

        Click(IDC_REFRESH);

        ASSERT_EQ(seen.size(), 1u) << c.name;
        ExpectWindowBox(0, c.stringId, MessageIcon::Exclamation);
        EXPECT_EQ(seen[0].state, UiState::Busy) << c.name;
        EXPECT_EQ(ShownState(), UiState::Disconnected) << c.name;
    }
}

}  // namespace
