// MqttPublisher over Eclipse Paho's asynchronous C client, its own persistence off: the spool
// is the only store of records. Paho's threads run its callbacks; they only record results
// under the mutex and wake the publisher's thread, which makes every Paho call between Start
// and Close. No Paho call is made with the mutex held.
#include <MQTTAsync.h>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_set>
#include <vector>

#include "publish/MqttPublisherImpl.h"
#include "publish/Spool.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kQos = 1;
constexpr std::size_t kReadBatch = 256;
constexpr std::uint64_t kNoRecord = std::numeric_limits<std::uint64_t>::max();
constexpr milliseconds kIdleWait{100};
constexpr milliseconds kStatusWait{2000};
constexpr int kDisconnectTimeoutMs = 1000;
constexpr const char* kOfflinePayload = "offline";
constexpr int kPubackPacket = 4;  // MQTT's packet type number
constexpr int kRetainedRoom = 1000;
// Paho's trace line for a TLS handshake that completed (the broker's certificate verified).
constexpr const char* kTlsHandshakeDone = "SSL negotiation finished successfully";

bool IsLoginRefusal(int connackCode, MqttProtocol protocol) {
    if (protocol == MqttProtocol::V311) {
        return connackCode == 4 || connackCode == 5;  // bad user name or password, not authorised
    }
    return connackCode == MQTTREASONCODE_BAD_USER_NAME_OR_PASSWORD ||
           connackCode == MQTTREASONCODE_NOT_AUTHORIZED || connackCode == MQTTREASONCODE_BANNED ||
           connackCode == MQTTREASONCODE_BAD_AUTHENTICATION_METHOD;
}

std::string ConnackText(int code, MqttProtocol protocol) {
    if (protocol == MqttProtocol::V5) {
        const char* text = MQTTReasonCode_toString(static_cast<MQTTReasonCodes>(code));
        return text != nullptr ? text : "reason code " + std::to_string(code);
    }
    static const char* const texts[] = {"",
                                        "unacceptable protocol version",
                                        "identifier rejected",
                                        "server unavailable",
                                        "bad user name or password",
                                        "not authorised"};
    return code > 0 && code <= 5 ? texts[code] : "return code " + std::to_string(code);
}

// The reason part of OpenSSL's error line "...:error:CODE:LIBRARY:FUNCTION:REASON:FILE:LINE:".
std::string OpenSslReason(const std::string& line) {
    std::size_t start = line.find(":error:");
    for (int field = 0; field < 3 && start != std::string::npos; ++field) {
        start = line.find(':', start + 1);
    }
    if (start == std::string::npos) {
        return line;
    }
    const std::size_t end = line.find(':', start + 1);
    return line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

// Text after marker in line, up to its end.
std::string After(const std::string& line, const std::string& marker) {
    const std::size_t at = line.find(marker);
    return at == std::string::npos ? std::string() : line.substr(at + marker.size());
}

// Paho's trace lines begin with the date and time: "20261207 223213.660 text".
std::string WithoutTimestamp(const std::string& line) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    return second == std::string::npos ? line : line.substr(second + 1);
}

// True with the resolver's reason when the name of host is unknown. A resolver that cannot be
// asked (no network) is no verdict on the name.
bool NameIsUnknown(const std::string& host, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) {
        freeaddrinfo(found);
    }
    if (result == EAI_NONAME
#ifdef EAI_NODATA
        || result == EAI_NODATA
#endif
    ) {
        reason = gai_strerror(result);
        return true;
    }
    return false;
}

class PahoPublisher;

// Paho reports the details of a failed connection (TLS alerts, a host name the certificate
// does not hold) only in its trace, which is one for the whole process: it goes to the newest
// publisher.
std::mutex traceMutex;
PahoPublisher* traceTarget = nullptr;  // guarded by traceMutex

void RouteTrace(enum MQTTASYNC_TRACE_LEVELS level, char* message);

class PahoPublisher final : public MqttPublisher::Impl {
public:
    PahoPublisher(Spool& spool, MqttPublisherOptions options,
                  MqttPublisher::ConnectionListener listener);
    ~PahoPublisher() override;

    MqttStartResult Start(milliseconds timeout) override;
    void SetRetained(const std::string& topic, const std::string& payload) override;
    bool Close(milliseconds drainTimeout) override;
    MqttPublisherCounters Counters() const override;

    void NoteTrace(enum MQTTASYNC_TRACE_LEVELS level, const std::string& line);

private:
    struct Delivery {
        PahoPublisher* publisher;
        std::uint64_t id;
        std::uint64_t round;
    };
    struct InFlight {
        std::uint64_t id;
        bool settled;
    };
    // The connection attempt under way, as Paho's callbacks and trace report it.
    struct Attempt {
        bool done = false;
        bool connected = false;
        int code = 0;  // > 0: the broker's CONNACK code; < 0: Paho's error
        std::string libraryText;
        std::string tlsErrors;  // OpenSSL's error lines
        std::vector<std::string> traceLines;
    };

    bool CreateClient(MqttStartResult& failure);
    MqttStartResult ConnectOnce(milliseconds timeout);
    MqttStartResult Classify(const Attempt& failed) const;
    void Run();
    void PublishWhileConnected();
    bool SendRecord(const SpoolRecord& record, std::uint64_t round);
    int SendRetained(const std::string& topic, const std::string& payload, MQTTAsync_token* token);
    void Report(bool nowConnected, const std::string& text);
    bool IsConnected() const;

    void OnConnectResult(bool succeeded, int code, const char* message);
    void OnLost(const std::string& reason);
    void OnDelivery(Delivery* delivery, bool confirmed, bool refused);

    static void ConnectSucceeded(void* context, MQTTAsync_successData*);
    static void ConnectSucceeded5(void* context, MQTTAsync_successData5*);
    static void ConnectFailed(void* context, MQTTAsync_failureData* data);
    static void ConnectFailed5(void* context, MQTTAsync_failureData5* data);
    static void ConnectionLost(void* context, char* cause);
    static void Disconnected5(void* context, MQTTProperties*, enum MQTTReasonCodes reasonCode);
    static int MessageArrived(void*, char* topic, int, MQTTAsync_message* message);
    static void Delivered(void* context, MQTTAsync_successData*);
    static void Delivered5(void* context, MQTTAsync_successData5*);
    static void DeliveryFailed(void* context, MQTTAsync_failureData*);
    static void DeliveryFailed5(void* context, MQTTAsync_failureData5* data);
    static void DisconnectDone(void* context, MQTTAsync_successData*);
    static void DisconnectDone5(void* context, MQTTAsync_successData5*);
    static int TlsError(const char* text, size_t length, void* context);

    Spool& spool;
    const MqttPublisherOptions options;
    const MqttPublisher::ConnectionListener listener;
    const std::string where;  // host:port for messages
    const std::string statusTopic;
    const bool v5;
    MQTTAsync client = nullptr;

    mutable std::mutex mutex;
    std::condition_variable changed;
    Attempt attempt;
    bool connecting = false;
    bool connected = false;
    bool disconnectDone = false;
    std::string lostReason;
    std::string lastLibraryError;
    // Changes with every connection, loss and rewind; deliveries of older rounds are ignored.
    std::uint64_t round = 0;
    std::deque<InFlight> inFlight;  // ids ascending: published in this round, not yet settled
    std::size_t window;
    unsigned brokerReceiveMaximum = 0;  // from the CONNACK (MQTT 5); 0: none given
    std::uint64_t settledUpTo = 0;      // every record up to it is delivered
    bool rewindWanted = false;
    std::map<std::string, std::string> retained;
    std::set<std::string> retainedToSend;
    std::unordered_set<Delivery*> deliveries;  // handed to Paho, owned here
    bool stopping = false;
    bool started = false;
    bool closed = false;
    bool closeResult = false;
    std::uint64_t delivered = 0;
    std::uint64_t refused = 0;
    std::uint64_t reconnects = 0;
    bool reportedConnected = false;  // the publisher's thread's own
    std::thread thread;
};

void RouteTrace(enum MQTTASYNC_TRACE_LEVELS level, char* message) {
    std::lock_guard guard(traceMutex);
    if (traceTarget != nullptr && message != nullptr) {
        traceTarget->NoteTrace(level, message);
    }
}

PahoPublisher::PahoPublisher(Spool& spoolToSend, MqttPublisherOptions publisherOptions,
                             MqttPublisher::ConnectionListener connectionListener)
    : spool(spoolToSend),
      options(std::move(publisherOptions)),
      listener(std::move(connectionListener)),
      where(HostAndPort(options.broker)),
      statusTopic(StatusTopicOf(options.topicPrefix)),
      v5(options.protocol == MqttProtocol::V5),
      window(std::max(1u, options.maxInFlight)) {
    {
        std::lock_guard guard(traceMutex);
        traceTarget = this;
    }
    MQTTAsync_setTraceCallback(&RouteTrace);
    MQTTAsync_setTraceLevel(MQTTASYNC_TRACE_ERROR);
}

PahoPublisher::~PahoPublisher() {
    Close(milliseconds(0));
    {
        std::lock_guard guard(traceMutex);
        if (traceTarget == this) {
            traceTarget = nullptr;
        }
    }
    if (client != nullptr) {
        MQTTAsync_destroy(&client);
    }
    for (Delivery* delivery : deliveries) {
        delete delivery;
    }
}

void PahoPublisher::NoteTrace(enum MQTTASYNC_TRACE_LEVELS level, const std::string& line) {
    static const char* const details[] = {"X509_check_host", "SSL alert", kTlsHandshakeDone};
    std::lock_guard guard(mutex);
    if (connecting) {
        for (const char* detail : details) {
            if (line.find(detail) != std::string::npos) {
                attempt.traceLines.push_back(line);
            }
        }
    } else if (level >= MQTTASYNC_TRACE_ERROR) {
        lastLibraryError = WithoutTimestamp(line);
    }
}

bool PahoPublisher::CreateClient(MqttStartResult& failure) {
    const std::string uri = (options.broker.tls ? "ssl://" : "tcp://") + where;
    MQTTAsync_createOptions createOptions = MQTTAsync_createOptions_initializer;
    createOptions.MQTTVersion = v5 ? MQTTVERSION_5 : MQTTVERSION_3_1_1;
    createOptions.sendWhileDisconnected = 0;
    // Paho's queue of messages not yet written counts against this while connected too; the
    // window keeps it below.
    createOptions.maxBufferedMessages = static_cast<int>(window) + kRetainedRoom;
    const int result =
        MQTTAsync_createWithOptions(&client, uri.c_str(), options.clientId.c_str(),
                                    MQTTCLIENT_PERSISTENCE_NONE, nullptr, &createOptions);
    if (result != MQTTASYNC_SUCCESS) {
        client = nullptr;
        failure.outcome = result == MQTTASYNC_SSL_NOT_SUPPORTED || result == MQTTASYNC_BAD_PROTOCOL
                              ? MqttStartOutcome::TlsUnavailable
                              : MqttStartOutcome::Unreachable;
        failure.message =
            "cannot set up the MQTT client for " + where + ": " + MQTTAsync_strerror(result);
        return false;
    }
    MQTTAsync_setCallbacks(client, this, &ConnectionLost, &MessageArrived, nullptr);
    if (v5) {
        MQTTAsync_setDisconnected(client, this, &Disconnected5);
    }
    return true;
}

MqttStartResult PahoPublisher::Start(milliseconds timeout) {
    {
        std::lock_guard guard(mutex);
        if (started || closed) {
            return {MqttStartOutcome::Unreachable, "the publisher has been started before"};
        }
        started = true;
    }
#if !QIRO7_MQTT_TLS
    if (options.broker.tls) {
        return {MqttStartOutcome::TlsUnavailable,
                "this build of the program has no TLS, so it cannot connect to " + where +
                    " with mqtts://"};
    }
#endif
    MqttStartResult result;
    if (!CreateClient(result)) {
        return result;
    }
    result = ConnectOnce(timeout);
    if (IsFatal(result.outcome)) {
        return result;
    }
    reportedConnected = result.outcome == MqttStartOutcome::Connected;
    thread = std::thread([this] { Run(); });
    return result;
}

MqttStartResult PahoPublisher::ConnectOnce(milliseconds timeout) {
    const int timeoutSeconds = std::max(1, static_cast<int>((timeout.count() + 999) / 1000));
    MQTTAsync_willOptions will = MQTTAsync_willOptions_initializer;
    will.topicName = statusTopic.c_str();
    will.message = kOfflinePayload;
    will.retained = 1;
    will.qos = kQos;
    MQTTAsync_SSLOptions ssl = MQTTAsync_SSLOptions_initializer;
    ssl.trustStore = options.caFile.empty() ? nullptr : options.caFile.c_str();
    ssl.keyStore = options.certificateFile.empty() ? nullptr : options.certificateFile.c_str();
    ssl.privateKey = options.keyFile.empty() ? nullptr : options.keyFile.c_str();
    ssl.enableServerCertAuth = 1;
    ssl.verify = 1;  // the certificate must name the host
    ssl.ssl_error_cb = &TlsError;
    ssl.ssl_error_context = this;

    MQTTAsync_connectOptions connect = MQTTAsync_connectOptions_initializer;
    // A clean session at every connection: the spool is the session. In a resumed one Paho
    // sends again what it had in flight, beside the spool's own repeat of it; mosquitto has
    // been seen to end such sessions with "Protocol error", again after every reconnect.
    if (v5) {
        connect = MQTTAsync_connectOptions_initializer5;
        connect.cleanstart = 1;
        connect.onSuccess5 = &ConnectSucceeded5;
        connect.onFailure5 = &ConnectFailed5;
    } else {
        connect.cleansession = 1;
        connect.MQTTVersion = MQTTVERSION_3_1_1;
        connect.onSuccess = &ConnectSucceeded;
        connect.onFailure = &ConnectFailed;
    }
    connect.context = this;
    connect.keepAliveInterval = static_cast<int>(options.keepAlive.count());
    connect.connectTimeout = timeoutSeconds;
    connect.automaticReconnect = 0;
    connect.will = &will;
    connect.username = options.broker.userName.empty() ? nullptr : options.broker.userName.c_str();
    connect.password = options.password.empty() ? nullptr : options.password.c_str();
    connect.ssl = options.broker.tls ? &ssl : nullptr;

    std::unique_lock guard(mutex);
    attempt = Attempt();
    connecting = true;
    guard.unlock();
    MQTTAsync_setTraceLevel(MQTTASYNC_TRACE_PROTOCOL);
    const int result = MQTTAsync_connect(client, &connect);
    guard.lock();
    if (result != MQTTASYNC_SUCCESS) {
        attempt.done = true;
        attempt.code = result;
        attempt.libraryText = MQTTAsync_strerror(result);
    }
    // Paho gives up after its own time-out; the extra second covers its reporting.
    changed.wait_for(guard, milliseconds(timeoutSeconds * 1000 + 1000),
                     [this] { return attempt.done || stopping; });
    connecting = false;
    const Attempt outcome = attempt;
    guard.unlock();
    MQTTAsync_setTraceLevel(MQTTASYNC_TRACE_ERROR);
    if (outcome.connected) {
        return {MqttStartOutcome::Connected, "connected to " + where};
    }
    if (!outcome.done) {
        return {MqttStartOutcome::Unreachable,
                "no answer from " + where + " within " + std::to_string(timeoutSeconds) + " s"};
    }
    return Classify(outcome);
}

MqttStartResult PahoPublisher::Classify(const Attempt& failed) const {
    if (failed.code > 0) {
        const std::string text = ConnackText(failed.code, options.protocol);
        if (IsLoginRefusal(failed.code, options.protocol)) {
            return {MqttStartOutcome::LoginRefused,
                    "the broker at " + where + " refused the login: " + text};
        }
        return {MqttStartOutcome::Unreachable,
                "the broker at " + where + " refused the connection: " + text};
    }
    if (options.broker.tls) {
        if (!failed.tlsErrors.empty()) {
            return {MqttStartOutcome::CertificateRejected,
                    "the certificate of " + where + " does not verify against " +
                        (options.caFile.empty() ? "the system's CA certificates" : options.caFile) +
                        ": " + OpenSslReason(failed.tlsErrors)};
        }
        for (const std::string& line : failed.traceLines) {
            if (line.find("X509_check_host for hostname") != std::string::npos &&
                line.find("failed") != std::string::npos) {
                return {MqttStartOutcome::CertificateRejected,
                        "the certificate of " + where + " is not issued for " +
                            options.broker.host + " (connect by a name the certificate holds)"};
            }
            const std::string alert = After(line, "SSL alert read:fatal:");
            if (!alert.empty()) {
                return {MqttStartOutcome::CertificateRejected,
                        "the broker at " + where +
                            " refused the TLS connection: check the client certificate and key "
                            "(TLS alert: " +
                            alert + ")"};
            }
        }
        // With TLS 1.3 the broker judges the client certificate after the handshake and
        // closes the connection, often before its alert can be read.
        for (const std::string& line : failed.traceLines) {
            if (line.find(kTlsHandshakeDone) != std::string::npos) {
                return {MqttStartOutcome::CertificateRejected,
                        "the broker at " + where +
                            " closed the TLS connection after the handshake, as it does when it "
                            "refuses the client certificate: check the client certificate and "
                            "key, or give one if the broker asks for it"};
            }
        }
    }
    std::string lookupReason;
    if (NameIsUnknown(options.broker.host, lookupReason)) {
        return {MqttStartOutcome::UnknownHost,
                "the broker's host name " + options.broker.host + " is unknown: " + lookupReason};
    }
    return {
        MqttStartOutcome::Unreachable,
        "cannot reach the broker at " + where + ": " +
            (failed.libraryText.empty() ? std::string("connection failed") : failed.libraryText)};
}

void PahoPublisher::Run() {
    milliseconds delay = options.retryMin;
    while (true) {
        {
            std::lock_guard guard(mutex);
            if (stopping) {
                return;
            }
        }
        if (IsConnected()) {
            delay = options.retryMin;
            PublishWhileConnected();
            std::string reason;
            {
                std::lock_guard guard(mutex);
                if (stopping) {
                    return;
                }
                reason = lostReason;
            }
            Report(false, "lost the connection to " + where + ": " + reason);
            continue;
        }
        const MqttStartResult result = ConnectOnce(options.connectTimeout);
        if (result.outcome == MqttStartOutcome::Connected) {
            {
                std::lock_guard guard(mutex);
                ++reconnects;
            }
            Report(true, result.message);
            continue;
        }
        std::unique_lock guard(mutex);
        changed.wait_for(guard, delay, [this] { return stopping; });
        delay = std::min(delay * 2, options.retryMax);
    }
}

// Publishes the retained messages and then the spool's records from the first unacknowledged
// one, until the connection is lost or the publisher stops.
void PahoPublisher::PublishWhileConnected() {
    const std::uint64_t acknowledged = spool.Counters().acknowledgedId;
    std::uint64_t myRound = 0;
    {
        std::lock_guard guard(mutex);
        myRound = ++round;
        inFlight.clear();
        settledUpTo = acknowledged;
        rewindWanted = false;
        window = std::max(1u, options.maxInFlight);
        if (brokerReceiveMaximum > 0) {
            // Room for the retained messages and the closing status besides the records.
            const std::size_t others = retained.size() + 1;
            window = std::min<std::size_t>(
                window, brokerReceiveMaximum > others ? brokerReceiveMaximum - others : 1);
        }
        for (const auto& entry : retained) {
            retainedToSend.insert(entry.first);
        }
    }
    std::uint64_t sendAfter = acknowledged;
    std::uint64_t given = acknowledged;  // the position handed to the spool
    std::vector<SpoolRecord> batch;
    std::uint64_t settled = acknowledged;
    while (true) {
        std::vector<std::pair<std::string, std::string>> retainedNow;
        std::size_t room = 0;
        {
            std::lock_guard guard(mutex);
            if (stopping || !connected || round != myRound) {
                settled = settledUpTo;
                break;
            }
            if (rewindWanted) {
                rewindWanted = false;
                myRound = ++round;
                inFlight.clear();
                sendAfter = settledUpTo;
            }
            for (const std::string& topic : retainedToSend) {
                retainedNow.emplace_back(topic, retained[topic]);
            }
            retainedToSend.clear();
            room = window > inFlight.size() ? window - inFlight.size() : 0;
            settled = settledUpTo;
        }
        if (settled > given) {
            spool.Acknowledge(settled);
            given = settled;
        }
        for (const auto& [topic, payload] : retainedNow) {
            SendRetained(topic, payload, nullptr);  // a failure means a lost connection: sent again
        }
        bool sendFailed = false;
        batch.clear();
        if (room > 0) {
            spool.Read(sendAfter, std::min(room, kReadBatch), batch);
            for (const SpoolRecord& record : batch) {
                if (!SendRecord(record, myRound)) {
                    sendFailed = true;
                    break;
                }
                sendAfter = record.id;
            }
        }
        if (!batch.empty() && !sendFailed) {
            continue;
        }
        // Nothing to send, a full window, or Paho would take no more for now: a delivery, a new
        // record or a change of connection wakes this.
        spool.WaitForRecordsAfter(room > 0 && !sendFailed ? sendAfter : kNoRecord, kIdleWait);
    }
    if (settled > given) {
        spool.Acknowledge(settled);
    }
}

bool PahoPublisher::SendRecord(const SpoolRecord& record, std::uint64_t recordRound) {
    auto* delivery = new Delivery{this, record.id, recordRound};
    {
        std::lock_guard guard(mutex);
        if (round != recordRound) {
            delete delivery;
            return false;
        }
        inFlight.push_back({record.id, false});
        deliveries.insert(delivery);
    }
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char*>(record.payload.data());
    message.payloadlen = static_cast<int>(record.payload.size());
    message.qos = kQos;
    message.retained = 0;
    MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
    if (v5) {
        response.onSuccess5 = &Delivered5;
        response.onFailure5 = &DeliveryFailed5;
    } else {
        response.onSuccess = &Delivered;
        response.onFailure = &DeliveryFailed;
    }
    response.context = delivery;
    const int result = MQTTAsync_sendMessage(client, record.topic.c_str(), &message, &response);
    if (result == MQTTASYNC_SUCCESS) {
        return true;
    }
    std::lock_guard guard(mutex);
    deliveries.erase(delivery);
    delete delivery;
    if (round == recordRound && !inFlight.empty() && inFlight.back().id == record.id) {
        inFlight.pop_back();
    }
    // The broker takes fewer at a time than asked for (its receive maximum).
    if (result == MQTTASYNC_MAX_MESSAGES_INFLIGHT) {
        window = std::max<std::size_t>(1, inFlight.size());
    }
    return false;
}

int PahoPublisher::SendRetained(const std::string& topic, const std::string& payload,
                                MQTTAsync_token* token) {
    MQTTAsync_message message = MQTTAsync_message_initializer;
    message.payload = const_cast<char*>(payload.data());
    message.payloadlen = static_cast<int>(payload.size());
    message.qos = kQos;
    message.retained = 1;
    MQTTAsync_responseOptions response = MQTTAsync_responseOptions_initializer;
    const int result = MQTTAsync_sendMessage(client, topic.c_str(), &message, &response);
    if (token != nullptr) {
        *token = response.token;
    }
    return result;
}

void PahoPublisher::Report(bool nowConnected, const std::string& text) {
    if (nowConnected == reportedConnected) {
        return;
    }
    reportedConnected = nowConnected;
    if (listener) {
        listener({nowConnected, text});
    }
}

bool PahoPublisher::IsConnected() const {
    std::lock_guard guard(mutex);
    return connected;
}

void PahoPublisher::SetRetained(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard guard(mutex);
        retained[topic] = payload;
        retainedToSend.insert(topic);
    }
    spool.Wake();
}

bool PahoPublisher::Close(milliseconds drainTimeout) {
    {
        std::lock_guard guard(mutex);
        if (closed) {
            return closeResult;
        }
        closed = true;
    }
    if (thread.joinable()) {
        const auto deadline = Clock::now() + drainTimeout;
        std::unique_lock guard(mutex);
        while (Clock::now() < deadline) {
            guard.unlock();
            const bool drained = spool.Counters().pendingRecords == 0;
            guard.lock();
            if (drained) {
                break;
            }
            changed.wait_until(guard, std::min(deadline, Clock::now() + kIdleWait));
        }
        stopping = true;
        guard.unlock();
        changed.notify_all();
        spool.Wake();
        thread.join();
    }
    if (client != nullptr && MQTTAsync_isConnected(client)) {
        MQTTAsync_token token = 0;
        if (SendRetained(statusTopic, kOfflinePayload, &token) == MQTTASYNC_SUCCESS) {
            MQTTAsync_waitForCompletion(client, token, kStatusWait.count());
        }
        MQTTAsync_disconnectOptions disconnect = MQTTAsync_disconnectOptions_initializer;
        if (v5) {
            disconnect = MQTTAsync_disconnectOptions_initializer5;
            disconnect.onSuccess5 = &DisconnectDone5;
        } else {
            disconnect.onSuccess = &DisconnectDone;
        }
        disconnect.context = this;
        disconnect.timeout = kDisconnectTimeoutMs;
        if (MQTTAsync_disconnect(client, &disconnect) == MQTTASYNC_SUCCESS) {
            std::unique_lock guard(mutex);
            changed.wait_for(guard, kStatusWait, [this] { return disconnectDone; });
        }
    }
    const bool drained = spool.Counters().pendingRecords == 0;
    std::lock_guard guard(mutex);
    stopping = true;
    closeResult = drained;
    return closeResult;
}

MqttPublisherCounters PahoPublisher::Counters() const {
    const SpoolCounters spooled = spool.Counters();
    MqttPublisherCounters counters;
    counters.spooled = spooled.pendingRecords;
    counters.droppedByBound = spooled.droppedUndelivered;
    std::lock_guard guard(mutex);
    counters.delivered = delivered;
    counters.reconnects = reconnects;
    counters.refusedByBroker = refused;
    return counters;
}

void PahoPublisher::OnConnectResult(bool succeeded, int code, const char* message) {
    {
        std::lock_guard guard(mutex);
        attempt.done = true;
        attempt.connected = succeeded;
        attempt.code = code;
        attempt.libraryText = message != nullptr ? message : "";
        connected = succeeded;
    }
    changed.notify_all();
}

void PahoPublisher::OnLost(const std::string& reason) {
    {
        std::lock_guard guard(mutex);
        if (!connected) {
            return;
        }
        connected = false;
        ++round;
        inFlight.clear();
        lostReason = !reason.empty()             ? reason
                     : !lastLibraryError.empty() ? lastLibraryError
                                                 : "the connection was closed";
    }
    changed.notify_all();
    spool.Wake();
}

// Settles one record. A failure other than the broker's refusal (the connection went while it
// was in flight) sends everything unsettled again.
void PahoPublisher::OnDelivery(Delivery* delivery, bool confirmed, bool refusedByBroker) {
    bool wake = false;
    {
        std::lock_guard guard(mutex);
        const std::uint64_t id = delivery->id;
        const bool current = delivery->round == round;
        deliveries.erase(delivery);
        delete delivery;
        if (!current) {
            return;
        }
        if (!confirmed && !refusedByBroker) {
            rewindWanted = true;
            wake = true;
        } else {
            ++(confirmed ? delivered : refused);
            const auto entry = std::lower_bound(
                inFlight.begin(), inFlight.end(), id,
                [](const InFlight& inflight, std::uint64_t value) { return inflight.id < value; });
            if (entry != inFlight.end() && entry->id == id) {
                entry->settled = true;
            }
            const bool wasFull = inFlight.size() >= window;
            while (!inFlight.empty() && inFlight.front().settled) {
                settledUpTo = inFlight.front().id;
                inFlight.pop_front();
            }
            wake = wasFull || inFlight.empty();
        }
    }
    if (wake) {
        changed.notify_all();
        spool.Wake();
    }
}

void PahoPublisher::ConnectSucceeded(void* context, MQTTAsync_successData*) {
    static_cast<PahoPublisher*>(context)->OnConnectResult(true, 0, nullptr);
}

// The broker's receive maximum bounds the window: Paho holds back what goes beyond it, and
// has been seen to hold some of that back for good.
void PahoPublisher::ConnectSucceeded5(void* context, MQTTAsync_successData5* data) {
    auto* publisher = static_cast<PahoPublisher*>(context);
    int receiveMaximum = 0;
    if (data != nullptr &&
        MQTTProperties_hasProperty(&data->properties, MQTTPROPERTY_CODE_RECEIVE_MAXIMUM)) {
        receiveMaximum =
            MQTTProperties_getNumericValue(&data->properties, MQTTPROPERTY_CODE_RECEIVE_MAXIMUM);
    }
    {
        std::lock_guard guard(publisher->mutex);
        publisher->brokerReceiveMaximum = static_cast<unsigned>(std::max(receiveMaximum, 0));
    }
    publisher->OnConnectResult(true, 0, nullptr);
}

void PahoPublisher::ConnectFailed(void* context, MQTTAsync_failureData* data) {
    static_cast<PahoPublisher*>(context)->OnConnectResult(
        false, data != nullptr ? data->code : -1, data != nullptr ? data->message : nullptr);
}

// Paho gives a CONNACK's reason code in code, like the 3.1.1 return codes.
void PahoPublisher::ConnectFailed5(void* context, MQTTAsync_failureData5* data) {
    static_cast<PahoPublisher*>(context)->OnConnectResult(
        false, data != nullptr ? data->code : -1, data != nullptr ? data->message : nullptr);
}

void PahoPublisher::ConnectionLost(void* context, char* cause) {
    static_cast<PahoPublisher*>(context)->OnLost(cause != nullptr ? cause : "");
}

void PahoPublisher::Disconnected5(void* context, MQTTProperties*, enum MQTTReasonCodes reasonCode) {
    const char* text = MQTTReasonCode_toString(reasonCode);
    static_cast<PahoPublisher*>(context)->OnLost(std::string("the broker disconnected: ") +
                                                 (text != nullptr ? text : "no reason"));
}

// Nothing is subscribed; Paho wants the callback all the same.
int PahoPublisher::MessageArrived(void*, char* topic, int, MQTTAsync_message* message) {
    MQTTAsync_freeMessage(&message);
    MQTTAsync_free(topic);
    return 1;
}

void PahoPublisher::Delivered(void* context, MQTTAsync_successData*) {
    auto* delivery = static_cast<Delivery*>(context);
    delivery->publisher->OnDelivery(delivery, true, false);
}

void PahoPublisher::Delivered5(void* context, MQTTAsync_successData5*) {
    auto* delivery = static_cast<Delivery*>(context);
    delivery->publisher->OnDelivery(delivery, true, false);
}

void PahoPublisher::DeliveryFailed(void* context, MQTTAsync_failureData*) {
    auto* delivery = static_cast<Delivery*>(context);
    delivery->publisher->OnDelivery(delivery, false, false);
}

// A PUBACK with an error reason is the broker's answer: the record is settled, not retried.
void PahoPublisher::DeliveryFailed5(void* context, MQTTAsync_failureData5* data) {
    auto* delivery = static_cast<Delivery*>(context);
    const bool answered = data != nullptr && data->packet_type == kPubackPacket &&
                          data->reasonCode >= MQTTREASONCODE_UNSPECIFIED_ERROR;
    delivery->publisher->OnDelivery(delivery, false, answered);
}

void PahoPublisher::DisconnectDone(void* context, MQTTAsync_successData*) {
    auto* publisher = static_cast<PahoPublisher*>(context);
    {
        std::lock_guard guard(publisher->mutex);
        publisher->disconnectDone = true;
        publisher->connected = false;
    }
    publisher->changed.notify_all();
}

void PahoPublisher::DisconnectDone5(void* context, MQTTAsync_successData5*) {
    DisconnectDone(context, nullptr);
}

int PahoPublisher::TlsError(const char* text, size_t length, void* context) {
    auto* publisher = static_cast<PahoPublisher*>(context);
    std::lock_guard guard(publisher->mutex);
    publisher->attempt.tlsErrors.append(text, length);
    return 0;
}

}  // namespace

std::unique_ptr<MqttPublisher::Impl> MakeMqttPublisherImpl(
    Spool& spool, MqttPublisherOptions options, MqttPublisher::ConnectionListener listener) {
    return std::make_unique<PahoPublisher>(spool, std::move(options), std::move(listener));
}
