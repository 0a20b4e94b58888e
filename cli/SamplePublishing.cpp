#include "cli/SamplePublishing.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "cli/Console.h"
#include "cli/ExitCodes.h"
#include "cli/InstrumentWait.h"
#include "cli/JsonOutput.h"
#include "cli/SampleOutput.h"
#include "cli/Usage.h"
#include "publish/MqttPublisher.h"
#include "publish/Spool.h"

namespace {

constexpr char kPasswordVariable[] = "QIRO7_MQTT_PASSWORD";
constexpr std::chrono::seconds kConnectWait{10};
constexpr std::chrono::seconds kDrainWait{5};
constexpr std::chrono::minutes kDropsToldEvery{1};
// A week of samples at 10 Hz, each about 390 bytes in the spool (its payload, topic and record
// header).
constexpr std::uint64_t kDefaultSpoolBytes = 7ull * 24 * 3600 * 10 * 390;

std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return line;
}

bool IsThisComputer(const std::string& host) {
    return host == "localhost" || host.starts_with("127.") || host == "::1";
}

// The password from its file (its first line) or the environment; empty when neither is given.
bool ReadPassword(const PublishingOptions& options, std::string& password, std::string& message) {
    if (options.passwordFile.empty()) {
        const char* fromEnvironment = std::getenv(kPasswordVariable);
        password = fromEnvironment != nullptr ? fromEnvironment : "";
        return true;
    }
    std::ifstream file(options.passwordFile, std::ios::binary);
    if (!file) {
        message = "--mqtt-password-file " + options.passwordFile + ": cannot be read";
        return false;
    }
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return true;
}

std::string HostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : "pc";
#else
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : "pc";
#endif
}

// Where samples wait by default: the service's state folder (systemd's StateDirectory), else
// the user's.
std::string StateFolder() {
    if (const char* service = std::getenv("STATE_DIRECTORY"); service != nullptr && *service) {
        return std::string(service).substr(0, std::string(service).find(':'));
    }
#ifdef _WIN32
    const char* local = std::getenv("LOCALAPPDATA");
    return std::string(local != nullptr ? local : ".") + "\\qiro7-cli";
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state) {
        return std::string(state) + "/qiro7-cli";
    }
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/qiro7-cli";
#endif
}

// One spool per broker and topic prefix, so that two instruments logged on one computer never
// share one.
std::string DefaultSpoolFolder(const BrokerUrl& broker, const std::string& prefix) {
    std::string name = "spool-" + broker.host + "-" + std::to_string(broker.port) + "-" + prefix;
    for (char& c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        c = plain ? c : '_';
    }
    return StateFolder() + "/" + name;
}

// "20261207T224419Z-3f9a1c02": when the run began, and enough chance that no other run of any
// instrument has the same.
std::string NewRunId() {
    const std::string time = UtcTimestamp(std::chrono::system_clock::now());
    std::string compact;
    for (const char c : time.substr(0, 19)) {
        if (c != '-' && c != ':') {
            compact += c;
        }
    }
    std::random_device random;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
    return compact + "Z" + suffix;
}

int ExitCodeOf(MqttStartOutcome outcome) {
    switch (outcome) {
        case MqttStartOutcome::UnknownHost:
            return ExitCode::kBrokerUnknown;
        case MqttStartOutcome::LoginRefused:
            return ExitCode::kBrokerRefused;
        case MqttStartOutcome::CertificateRejected:
        case MqttStartOutcome::TlsUnavailable:
            return ExitCode::kBrokerNotTrusted;
        case MqttStartOutcome::ClientUnavailable:
            return ExitCode::kUsage;
        case MqttStartOutcome::Connected:
        case MqttStartOutcome::Unreachable:
            break;
    }
    return ExitCode::kSuccess;
}

std::unique_ptr<Spool> OpenSpool(const std::string& folder, std::uint64_t bytes) {
    SpoolOptions spoolOptions;
    spoolOptions.maxBytes = bytes;
    SpoolOpenReport report;
    std::string reason;
    std::unique_ptr<Spool> spool = Spool::Open(folder, spoolOptions, report, reason);
    if (spool == nullptr) {
        Console::Get().Error(reason);
        return nullptr;
    }
    if (report.tornBytes > 0) {
        Console::Get().Warning("spool " + folder + ": cut off " + std::to_string(report.tornBytes) +
                               " bytes of a sample that an earlier run left unfinished");
    }
    if (report.pendingRecords > 0) {
        Console::Get().Note("spool " + folder + ": " + std::to_string(report.pendingRecords) +
                            " samples of earlier runs wait for the broker; they go first");
    }
    return spool;
}

}  // namespace

bool SamplePublishing::Check(const PublishingOptions& options, std::string& message) {
    BrokerUrl broker;
    std::string reason;
    if (!ParseBrokerUrl(options.url, broker, reason)) {
        message = "--mqtt " + options.url + ": " + reason;
        return false;
    }
    if (!broker.tls && !(options.caFile + options.certificateFile + options.keyFile).empty()) {
        message = "--mqtt-ca, --mqtt-cert and --mqtt-key need an mqtts:// broker";
        return false;
    }
    if (!options.spoolSize.empty() && !ParseByteSize(options.spoolSize, reason)) {
        message = "--spool-size " + options.spoolSize + ": " + reason;
        return false;
    }
    std::string password;
    if (!ReadPassword(options, password, message)) {
        return false;
    }
    if (!password.empty() && !broker.tls && !IsThisComputer(broker.host)) {
        Console::Get().Warning("the MQTT password goes unencrypted over mqtt:// to " + broker.host +
                               "; use mqtts:// for a broker on another computer");
    }
    return true;
}

std::unique_ptr<SamplePublishing> SamplePublishing::Start(const PublishingOptions& options,
                                                          const InstrumentInfo& info, int& status) {
    BrokerUrl broker;
    std::string reason;
    ParseBrokerUrl(options.url, broker, reason);
    const std::string prefix =
        broker.topicPrefix.empty() ? "qiro7/" + info.serialNumber : broker.topicPrefix;
    if (!IsValidTopicPrefix(prefix, reason)) {
        Console::Get().Error("the topic prefix " + prefix + ": " + reason +
                             "; give one in the URL (mqtt://host/plant/line3)");
        status = ExitCode::kUsage;
        return nullptr;
    }
    const std::string folder =
        options.spoolFolder.empty() ? DefaultSpoolFolder(broker, prefix) : options.spoolFolder;
    std::unique_ptr<Spool> spool =
        OpenSpool(folder, options.spoolSize.empty() ? kDefaultSpoolBytes
                                                    : *ParseByteSize(options.spoolSize, reason));
    if (spool == nullptr) {
        status = ExitCode::kOutputFailure;
        return nullptr;
    }
    MqttPublisherOptions connection;
    connection.broker = broker;
    if (!options.userName.empty()) {
        connection.broker.userName = options.userName;
    }
    connection.topicPrefix = prefix;
    connection.clientId = options.clientId.empty()
                              ? "qiro7-cli-" + HostName() + "-" + info.serialNumber
                              : options.clientId;
    ReadPassword(options, connection.password, reason);
    connection.caFile = options.caFile;
    connection.certificateFile = options.certificateFile;
    connection.keyFile = options.keyFile;
    connection.protocol = options.protocol == "3.1.1" ? MqttProtocol::V311 : MqttProtocol::V5;

    std::unique_ptr<SamplePublishing> publishing(
        new SamplePublishing(std::move(spool), prefix, info.serialNumber));
    publishing->publisher = std::make_unique<MqttPublisher>(
        *publishing->spool, connection, [](const MqttConnectionEvent& event) {
            Console::Get().Warning(MessageTime() + ": broker: " + event.text);
        });
    const MqttStartResult started = publishing->publisher->Start(kConnectWait);
    if (IsFatal(started.outcome)) {
        Console::Get().Error(started.message);
        status = ExitCodeOf(started.outcome);
        return nullptr;
    }
    if (started.outcome == MqttStartOutcome::Unreachable) {
        Console::Get().Warning(started.message + "; the samples wait in the spool " + folder +
                               " until it can be reached");
    }
    status = ExitCode::kSuccess;
    return publishing;
}

SamplePublishing::SamplePublishing(std::unique_ptr<Spool> ownSpool, std::string topicPrefix,
                                   std::string serial)
    : spool(std::move(ownSpool)), prefix(std::move(topicPrefix)), serialNumber(std::move(serial)) {}

SamplePublishing::~SamplePublishing() {
    Finish();
}

void SamplePublishing::BeginRun(const InstrumentInfo& info) {
    serialNumber = info.serialNumber;
    runId = NewRunId();
    sequence = 0;
    publisher->SetRetained(prefix + "/info", WithoutLineEnd(JsonLine(InfoDocument(info))));
    publisher->SetRetained(StatusTopicOf(prefix), "online");
}

void SamplePublishing::InstrumentAway() {
    publisher->SetRetained(StatusTopicOf(prefix), "waiting");
}

bool SamplePublishing::Publish(const MeasurementSample& sample,
                               std::chrono::system_clock::time_point arrival,
                               std::string& failure) {
    const PublishedSampleOrigin origin{serialNumber, runId, ++sequence, arrival};
    const SpoolAppendResult appended = spool->Append(
        prefix + "/sample", WithoutLineEnd(JsonLine(MqttSampleDocument(sample, origin))));
    if (appended.id == 0) {
        failure = "the MQTT spool: " + appended.error.message();
        return false;
    }
    if (appended.droppedUndelivered > 0) {
        TellDrops(appended.droppedUndelivered);
    }
    return true;
}

void SamplePublishing::TellDrops(std::uint64_t dropped) {
    droppedTotal += dropped;
    const auto now = std::chrono::steady_clock::now();
    if (lastDropTold && now - *lastDropTold < kDropsToldEvery) {
        return;
    }
    lastDropTold = now;
    Console::Get().Warning(MessageTime() +
                           ": the MQTT spool is full: " + std::to_string(droppedTotal) +
                           " samples the broker has not had are dropped so far, the oldest "
                           "first (--spool-size sets its size)");
}

std::string SamplePublishing::Finish() {
    if (publisher == nullptr) {
        return {};
    }
    publisher->Close(kDrainWait);
    const MqttPublisherCounters counters = publisher->Counters();
    publisher.reset();
    if (const std::error_code error = spool->Close()) {
        Console::Get().Error("the MQTT spool: " + error.message());
    }
    return "published: " + std::to_string(counters.delivered) + " delivered, " +
           std::to_string(counters.spooled) + " waiting in the spool, " +
           std::to_string(counters.droppedByBound) + " dropped by its size\n";
}
