// MqttPublisher over libmosquitto.
//
// Threads: from Start to Close the publisher has two threads of its own. The link thread runs
// the library's network loop (connection attempts with their time-out and back-off, reading,
// writing, keep-alive); the library's callbacks run on it and only record results under the
// mutex. The publishing thread hands the spool's records and the retained messages to the
// library and calls the connection listener. No library call is made with the mutex held: the
// library calls back under locks of its own.
//
// Session: persistent under the caller's client id (MQTT 5: clean start off and a week's session
// expiry; MQTT 3.1.1: clean session off). The library keeps every message it was handed until
// the broker confirms it and, after a reconnect, sends the unconfirmed ones again itself, within
// the broker's receive maximum. So within the process each record is handed to the library
// once, and the spool is read from its first unacknowledged record only at Start, when the
// library holds nothing (a new process, after a crash, a kill or a power loss). The library's
// client lives as long as the publisher, so its queue is never dropped in between.
#include <mosquitto.h>
#include <mqtt_protocol.h>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
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
// Everything the publishing thread does wakes it; this only bounds a wake-up that went missing.
constexpr milliseconds kIdleWait{1000};
constexpr milliseconds kDrainPoll{100};
constexpr milliseconds kStatusWait{2000};
constexpr milliseconds kDisconnectGrace{1000};
// Start's wait beyond its time-out for a name lookup, which the library cannot cut short.
constexpr milliseconds kLookupMargin{1000};
constexpr int kSessionExpirySeconds = 7 * 24 * 3600;
constexpr std::string_view kOfflinePayload = "offline";
// Room in the library's own in-flight limit for retained messages besides the window.
constexpr unsigned kRetainedRoom = 1000;
constexpr unsigned kMaxPacketIds = 65535;  // the most the library can hold in flight
// MQTT 5 reason codes from this one on report failures.
constexpr int kFirstFailureReason = 0x80;
// Debian's folder of the system's CA certificates, hashed as OpenSSL looks them up.
constexpr const char* kSystemCertificateFolder = "/etc/ssl/certs";

void InitialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

bool IsLoginRefusal(int connackCode, MqttProtocol protocol) {
    if (protocol == MqttProtocol::V311) {
        return connackCode == CONNACK_REFUSED_BAD_USERNAME_PASSWORD ||
               connackCode == CONNACK_REFUSED_NOT_AUTHORIZED;
    }
    return connackCode == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
           connackCode == MQTT_RC_NOT_AUTHORIZED || connackCode == MQTT_RC_BANNED ||
           connackCode == MQTT_RC_BAD_AUTHENTICATION_METHOD;
}

std::string ConnackText(int code, MqttProtocol protocol) {
    if (protocol == MqttProtocol::V5) {
        return mosquitto_reason_string(code);
    }
    static const char* const texts[] = {"",
                                        "unacceptable protocol version",
                                        "identifier rejected",
                                        "server unavailable",
                                        "bad user name or password",
                                        "not authorised"};
    return code > 0 && code <= 5 ? texts[code] : "return code " + std::to_string(code);
}

// The reason part of OpenSSL's error text "error:CODE:LIBRARY:FUNCTION:REASON" (FUNCTION is
// empty since OpenSSL 3), as the library logs it after "OpenSSL Error[N]: ".
std::string OpenSslReason(const std::string& line) {
    std::size_t start = line.find("error:");
    for (int field = 0; field < 4 && start != std::string::npos; ++field) {
        start = line.find(':', start + 1);
    }
    if (start == std::string::npos) {
        return line;
    }
    const std::size_t end = line.find(':', start + 1);
    return line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
}

// The library's texts end in a full stop; ours go after a colon, mid-sentence.
std::string WithoutFullStop(std::string text) {
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
    }
    return text;
}

// What a library result code means, in words. systemError: the system's reason, taken right
// after the failing call, for the codes that carry one.
std::string LibraryErrorText(int code, const std::string& systemError) {
    if (code == MOSQ_ERR_ERRNO && !systemError.empty()) {
        return systemError;
    }
    if (code == MOSQ_ERR_KEEPALIVE) {
        return "no answer within the keep-alive interval";
    }
    return WithoutFullStop(mosquitto_strerror(code));
}

std::string SystemErrorText(int code) {
    return code == 0 ? std::string() : std::system_category().message(code);
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

// MQTT 5's CONNECT properties reach the library only through its blocking connect, which keeps
// them for every later connection, asynchronous ones included. Called without a host it stores
// them and refuses at once, so no connection attempt ever blocks on them.
int StoreSessionExpiry(mosquitto* client, int port, int keepAlive) {
    mosquitto_property* properties = nullptr;
    int result = mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                              kSessionExpirySeconds);
    if (result == MOSQ_ERR_SUCCESS) {
        result = mosquitto_connect_bind_v5(client, nullptr, port, keepAlive, nullptr, properties);
        result = result == MOSQ_ERR_INVAL ? MOSQ_ERR_SUCCESS : result;
    }
    mosquitto_property_free_all(&properties);
    return result;
}

class MosquittoPublisher final : public MqttPublisher::Impl {
public:
    MosquittoPublisher(Spool& spool, MqttPublisherOptions options,
                       MqttPublisher::ConnectionListener listener);
    ~MosquittoPublisher() override;

    MqttStartResult Start(milliseconds timeout) override;
    void SetRetained(const std::string& topic, const std::string& payload) override;
    bool Close(milliseconds drainTimeout) override;
    MqttPublisherCounters Counters() const override;

private:
    // A record handed to the library, in id order.
    struct InFlight {
        std::uint64_t id;
        int mid;  // the library's packet id
        bool settled;
    };
    // One connection attempt, as the library's callbacks report it.
    struct Attempt {
        bool done = false;
        bool connected = false;
        int connackCode = -1;  // the broker's answer; -1: none came
        int libraryError = MOSQ_ERR_SUCCESS;
        std::string systemError;
        std::vector<std::string> errorLog;  // the library's error lines (OpenSSL's among them)
        unsigned receiveMaximum = 0;        // from the CONNACK (MQTT 5); 0: none given
    };

    bool CreateClient(MqttStartResult& failure);
    int ConfigureClient();
    bool SetUpTls(MqttStartResult& failure);
    MqttStartResult Classify(const Attempt& failed, milliseconds timeout) const;
    MqttStartResult TlsVerdict(const Attempt& failed) const;

    // The link thread.
    void RunLink(milliseconds firstTimeout);
    bool AttemptConnection(milliseconds timeout, Attempt& outcome);
    void Serve();
    void MarkConnected(unsigned receiveMaximum, bool toldByStart);
    void MarkLost();
    bool WaitBeforeRetry(milliseconds delay);
    void StopLink();

    // The publishing thread.
    struct Work {
        std::vector<MqttConnectionEvent> events;
        std::vector<std::pair<std::string, std::string>> retained;  // topic, payload
        std::size_t room = 0;
    };
    void RunPublishing();
    bool TakeWork(std::uint64_t& servedConnection, Work& work);
    bool HandRecord(const SpoolRecord& record);
    int HandRetained(const std::string& topic, const std::string& payload);
    void Settle(std::size_t index, int reasonCode);
    void AcknowledgeSettled(std::uint64_t& given);

    void PublishOfflineStatus();

    static void OnConnect(mosquitto*, void* self, int code, int flags,
                          const mosquitto_property* properties);
    static void OnDisconnect(mosquitto*, void* self, int code, const mosquitto_property*);
    static void OnPublish(mosquitto*, void* self, int mid, int reasonCode,
                          const mosquitto_property*);
    static void OnLog(mosquitto*, void* self, int level, const char* text);

    Spool& spool;
    const MqttPublisherOptions options;
    const MqttPublisher::ConnectionListener listener;
    const std::string where;  // host:port for messages
    const std::string statusTopic;
    const bool v5;
    mosquitto* client = nullptr;
    std::thread link;
    std::thread publishing;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool started = false;
    bool closed = false;
    bool closeResult = false;
    bool linkStopping = false;
    bool publishingStopping = false;

    // The link's state, written by the link thread and the callbacks.
    bool attempting = false;
    Attempt attempt;
    bool verdictDone = false;  // Start's first attempt is decided
    MqttStartResult verdict;
    bool startGaveUp = false;  // Start returned before the verdict came
    std::string lostReason;    // why the last connection ended
    bool connected = false;
    std::uint64_t connection = 0;             // counts connections made
    bool reportedConnected = false;           // what the listener was last told (or Start's result)
    std::vector<MqttConnectionEvent> events;  // for the listener, oldest first
    std::size_t window;

    // What the library holds for the publisher.
    std::deque<InFlight> inFlight;
    std::uint64_t settledUpTo = 0;  // every record up to it is settled
    // Confirmations that came before the library's publish call had returned their packet id.
    std::unordered_map<int, int> unclaimed;  // packet id -> reason code
    std::unordered_set<int> retainedMids;    // packet ids of retained messages not yet confirmed
    int statusMid = 0;
    bool statusConfirmed = false;

    std::map<std::string, std::string> retained;
    std::set<std::string> retainedToSend;
    std::uint64_t delivered = 0;
    std::uint64_t refused = 0;
    std::uint64_t reconnects = 0;
};

MosquittoPublisher::MosquittoPublisher(Spool& spoolToSend, MqttPublisherOptions publisherOptions,
                                       MqttPublisher::ConnectionListener connectionListener)
    : spool(spoolToSend),
      options(std::move(publisherOptions)),
      listener(std::move(connectionListener)),
      where(HostAndPort(options.broker)),
      statusTopic(StatusTopicOf(options.topicPrefix)),
      v5(options.protocol == MqttProtocol::V5),
      window(std::max(1u, options.maxInFlight)) {}

MosquittoPublisher::~MosquittoPublisher() {
    Close(milliseconds(0));
    if (client != nullptr) {
        mosquitto_destroy(client);
    }
}

bool MosquittoPublisher::CreateClient(MqttStartResult& failure) {
    InitialiseLibraryOnce();
    failure.outcome = MqttStartOutcome::ClientUnavailable;
    client = mosquitto_new(options.clientId.c_str(), false, this);
    if (client == nullptr) {
        failure.message = "cannot set up the MQTT client for " + where + " with the client id \"" +
                          options.clientId + "\": " + SystemErrorText(errno);
        return false;
    }
    if (const int result = ConfigureClient(); result != MOSQ_ERR_SUCCESS) {
        failure.message =
            "cannot set up the MQTT client for " + where + ": " + LibraryErrorText(result, "");
        return false;
    }
    const std::string& user = options.broker.userName;
    if (mosquitto_username_pw_set(client, user.empty() ? nullptr : user.c_str(),
                                  options.password.empty() ? nullptr : options.password.c_str()) !=
        MOSQ_ERR_SUCCESS) {
        failure = {MqttStartOutcome::LoginRefused,
                   "MQTT 3.1.1 takes a password only with a user name: give one for " + where};
        return false;
    }
    mosquitto_connect_v5_callback_set(client, &OnConnect);
    mosquitto_disconnect_v5_callback_set(client, &OnDisconnect);
    mosquitto_publish_v5_callback_set(client, &OnPublish);
    return !options.broker.tls || SetUpTls(failure);
}

// The protocol, the library's own in-flight limit (above the window; the broker's receive
// maximum lowers it for MQTT 5), no delay of small packets, another thread's network loop, the
// last will and the session's expiry. The first failure's result code.
int MosquittoPublisher::ConfigureClient() {
    const int libraryLimit = static_cast<int>(
        std::min(kMaxPacketIds, std::max(1u, options.maxInFlight) + kRetainedRoom));
    const int keepAlive = static_cast<int>(options.keepAlive.count());
    const std::function<int()> steps[] = {
        [&] {
            return mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION,
                                        v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
        },
        [&] { return mosquitto_int_option(client, MOSQ_OPT_SEND_MAXIMUM, libraryLimit); },
        [&] { return mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1); },
        [&] { return mosquitto_threaded_set(client, true); },
        [&] {
            return mosquitto_will_set(client, statusTopic.c_str(),
                                      static_cast<int>(kOfflinePayload.size()),
                                      kOfflinePayload.data(), kQos, true);
        },
        [&] {
            return v5 ? StoreSessionExpiry(client, options.broker.port, keepAlive)
                      : MOSQ_ERR_SUCCESS;
        },
    };
    for (const auto& step : steps) {
        if (const int result = step(); result != MOSQ_ERR_SUCCESS) {
            return result;
        }
    }
    return MOSQ_ERR_SUCCESS;
}

// Without a CA file the system's certificates verify the broker; the library takes a client
// certificate only together with a CA file or folder.
bool MosquittoPublisher::SetUpTls(MqttStartResult& failure) {
    const char* certificate =
        options.certificateFile.empty() ? nullptr : options.certificateFile.c_str();
    const char* key = options.keyFile.empty() ? nullptr : options.keyFile.c_str();
    int result = MOSQ_ERR_SUCCESS;
    if (!options.caFile.empty()) {
        result =
            mosquitto_tls_set(client, options.caFile.c_str(), nullptr, certificate, key, nullptr);
    } else {
        result = mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (result == MOSQ_ERR_SUCCESS && (certificate != nullptr || key != nullptr)) {
            result = mosquitto_tls_set(client, nullptr, kSystemCertificateFolder, certificate, key,
                                       nullptr);
        }
    }
    if (result == MOSQ_ERR_NOT_SUPPORTED) {
        failure = {MqttStartOutcome::TlsUnavailable,
                   "this build of the program has no TLS, so it cannot connect to " + where +
                       " with mqtts://"};
        return false;
    }
    if (result != MOSQ_ERR_SUCCESS) {
        std::string files = options.caFile.empty() ? "" : " the CA file " + options.caFile;
        if (certificate != nullptr || key != nullptr) {
            files += (files.empty() ? "" : ",") + std::string(" the client certificate ") +
                     options.certificateFile + " with its key " + options.keyFile;
        }
        failure = {MqttStartOutcome::CertificateRejected,
                   "cannot use" + files + " for " + where + ": " +
                       (result == MOSQ_ERR_INVAL ? std::string("a file cannot be read, or the key "
                                                               "is missing")
                                                 : LibraryErrorText(result, ""))};
        return false;
    }
    return true;
}

MqttStartResult MosquittoPublisher::Start(milliseconds timeout) {
    {
        std::lock_guard guard(mutex);
        if (started || closed) {
            return {MqttStartOutcome::Unreachable, "the publisher has been started before"};
        }
        started = true;
        settledUpTo = spool.Counters().acknowledgedId;
    }
    MqttStartResult result;
    if (!CreateClient(result)) {
        return result;
    }
    link = std::thread([this, timeout] { RunLink(timeout); });
    bool gaveUp = false;
    {
        // A name lookup that hangs past the attempt's own time-out is no verdict either.
        std::unique_lock guard(mutex);
        changed.wait_for(guard, timeout + kLookupMargin, [this] { return verdictDone; });
        gaveUp = startGaveUp = !verdictDone;
        result = verdict;
    }
    if (gaveUp) {
        result = Classify(Attempt(), timeout);
    }
    if (IsFatal(result.outcome)) {
        StopLink();
        return result;
    }
    publishing = std::thread([this] { RunPublishing(); });
    return result;
}

MqttStartResult MosquittoPublisher::Classify(const Attempt& failed, milliseconds timeout) const {
    if (failed.connected) {
        return {MqttStartOutcome::Connected, "connected to " + where};
    }
    if (failed.connackCode > 0) {
        const std::string text = ConnackText(failed.connackCode, options.protocol);
        if (IsLoginRefusal(failed.connackCode, options.protocol)) {
            return {MqttStartOutcome::LoginRefused,
                    "the broker at " + where + " refused the login: " + text};
        }
        return {MqttStartOutcome::Unreachable,
                "the broker at " + where + " refused the connection: " + text};
    }
    if (!failed.done) {
        const auto seconds = std::chrono::ceil<std::chrono::seconds>(timeout).count();
        return {MqttStartOutcome::Unreachable,
                "no answer from " + where + " within " + std::to_string(seconds) + " s"};
    }
    if (options.broker.tls) {
        MqttStartResult tls = TlsVerdict(failed);
        if (tls.outcome != MqttStartOutcome::Unreachable) {
            return tls;
        }
    }
    std::string lookupReason;
    if (failed.libraryError == MOSQ_ERR_EAI && NameIsUnknown(options.broker.host, lookupReason)) {
        return {MqttStartOutcome::UnknownHost,
                "the broker's host name " + options.broker.host + " is unknown: " + lookupReason};
    }
    return {MqttStartOutcome::Unreachable,
            "cannot reach the broker at " + where + ": " +
                LibraryErrorText(failed.libraryError, failed.systemError)};
}

// What the library's error lines say of a TLS connection that failed; Unreachable when they
// name no certificate fault.
MqttStartResult MosquittoPublisher::TlsVerdict(const Attempt& failed) const {
    for (const std::string& line : failed.errorLog) {
        if (line.find("host name verification failed") != std::string::npos) {
            return {MqttStartOutcome::CertificateRejected,
                    "the certificate of " + where + " is not issued for " + options.broker.host +
                        " (connect by a name the certificate holds)"};
        }
        if (line.find("Unable to load") != std::string::npos ||
            line.find("inconsistent") != std::string::npos) {
            return {MqttStartOutcome::CertificateRejected,
                    "cannot use the TLS files for " + where + ": " + line};
        }
    }
    for (const std::string& line : failed.errorLog) {
        const std::string reason = OpenSslReason(line);
        if (reason.find("alert") != std::string::npos) {
            return {MqttStartOutcome::CertificateRejected,
                    "the broker at " + where +
                        " refused the TLS connection: check the client certificate and key "
                        "(TLS alert: " +
                        reason + ")"};
        }
        if (reason.find("certificate verify failed") != std::string::npos) {
            return {MqttStartOutcome::CertificateRejected,
                    "the certificate of " + where + " does not verify against " +
                        (options.caFile.empty() ? "the system's CA certificates" : options.caFile) +
                        ": " + reason};
        }
    }
    return {MqttStartOutcome::Unreachable, ""};
}

void MosquittoPublisher::RunLink(milliseconds firstTimeout) {
    milliseconds delay = options.retryMin;
    milliseconds timeout = firstTimeout;
    bool first = true;
    while (true) {
        Attempt outcome;
        const bool up = AttemptConnection(timeout, outcome);
        timeout = options.connectTimeout;
        bool startTold = false;  // Start returns this attempt's outcome
        if (first) {
            first = false;
            const MqttStartResult result = Classify(outcome, firstTimeout);
            std::lock_guard guard(mutex);
            startTold = !startGaveUp;
            verdict = result;
            verdictDone = true;
            changed.notify_all();
            if (IsFatal(result.outcome) && startTold) {
                return;
            }
        }
        if (up) {
            MarkConnected(outcome.receiveMaximum, startTold);
            delay = options.retryMin;
            Serve();
            {
                std::lock_guard guard(mutex);
                if (linkStopping) {
                    connected = false;
                    return;
                }
            }
            MarkLost();
            continue;
        }
        if (!WaitBeforeRetry(delay)) {
            return;
        }
        delay = std::min(delay * 2, options.retryMax);
    }
}

// One connection attempt, until the broker's CONNACK, a failure or timeout. The library logs
// its error lines (TLS faults among them) only to a callback, so one is set for the attempt.
bool MosquittoPublisher::AttemptConnection(milliseconds timeout, Attempt& outcome) {
    {
        std::lock_guard guard(mutex);
        if (linkStopping) {
            return false;
        }
        attempt = Attempt();
        attempting = true;
    }
    mosquitto_log_callback_set(client, &OnLog);
    const auto deadline = Clock::now() + timeout;
    int result =
        mosquitto_connect_bind_async(client, options.broker.host.c_str(), options.broker.port,
                                     static_cast<int>(options.keepAlive.count()), nullptr);
    std::string systemError = result == MOSQ_ERR_ERRNO ? SystemErrorText(errno) : "";
    while (result == MOSQ_ERR_SUCCESS) {
        {
            std::lock_guard guard(mutex);
            if (attempt.done || linkStopping) {
                break;
            }
        }
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        result = mosquitto_loop(client, static_cast<int>(left.count()), 1);
        systemError = result == MOSQ_ERR_ERRNO ? SystemErrorText(errno) : "";
    }
    mosquitto_log_callback_set(client, nullptr);
    std::lock_guard guard(mutex);
    attempting = false;
    if (!attempt.done && result != MOSQ_ERR_SUCCESS) {
        attempt.done = true;
        attempt.libraryError = result;
        attempt.systemError = systemError;
    }
    outcome = attempt;
    return attempt.connected;
}

// Runs the library's network loop while connected. A publish wakes it, and so does Close's
// disconnect; after that it writes what is queued before it lets go of the connection.
void MosquittoPublisher::Serve() {
    const int loopTimeout =
        static_cast<int>(std::chrono::duration_cast<milliseconds>(options.keepAlive).count());
    Clock::time_point stopBy = Clock::time_point::max();
    while (true) {
        const int result = mosquitto_loop(client, loopTimeout, 1);
        const bool socketOpen = mosquitto_socket(client) >= 0;
        std::lock_guard guard(mutex);
        if (result != MOSQ_ERR_SUCCESS) {
            return;
        }
        if (linkStopping) {
            if (stopBy == Clock::time_point::max()) {
                stopBy = Clock::now() + kDisconnectGrace;
            }
            if (!socketOpen || Clock::now() >= stopBy) {
                return;
            }
        }
    }
}

// toldByStart: Start's result says so; otherwise it is a reconnection, for the listener.
void MosquittoPublisher::MarkConnected(unsigned receiveMaximum, bool toldByStart) {
    {
        std::lock_guard guard(mutex);
        connected = true;
        ++connection;
        window = std::max(1u, options.maxInFlight);
        if (receiveMaximum > 0) {
            // Room for the retained messages and the closing status besides the records.
            const std::size_t others = retained.size() + 1;
            window = std::min<std::size_t>(window,
                                           receiveMaximum > others ? receiveMaximum - others : 1);
        }
        if (toldByStart) {
            reportedConnected = true;
        } else {
            ++reconnects;
            if (!reportedConnected) {
                reportedConnected = true;
                events.push_back({true, "connected to " + where});
            }
        }
    }
    spool.Wake();
}

void MosquittoPublisher::MarkLost() {
    {
        std::lock_guard guard(mutex);
        connected = false;
        if (reportedConnected) {
            reportedConnected = false;
            events.push_back({false, "lost the connection to " + where + ": " + lostReason});
        }
    }
    changed.notify_all();
    spool.Wake();
}

// False when the publisher stops meanwhile.
bool MosquittoPublisher::WaitBeforeRetry(milliseconds delay) {
    std::unique_lock guard(mutex);
    return !changed.wait_for(guard, delay, [this] { return linkStopping; });
}

void MosquittoPublisher::StopLink() {
    {
        std::lock_guard guard(mutex);
        linkStopping = true;
    }
    changed.notify_all();
    if (link.joinable()) {
        // Wakes the network loop (the library's own signal) and ends the connection cleanly.
        mosquitto_disconnect(client);
        link.join();
    }
}

// Hands the retained messages (all of them after each new connection) and then the spool's
// records to the library while connected, at most a window of records unconfirmed, and tells
// the listener of each change of connection.
void MosquittoPublisher::RunPublishing() {
    std::uint64_t handedUpTo = 0;
    {
        std::lock_guard guard(mutex);
        handedUpTo = settledUpTo;
    }
    std::uint64_t given = handedUpTo;  // the position acknowledged in the spool
    std::uint64_t servedConnection = 0;
    std::vector<SpoolRecord> batch;
    Work work;
    while (TakeWork(servedConnection, work)) {
        AcknowledgeSettled(given);
        for (const MqttConnectionEvent& event : work.events) {
            if (listener) {
                listener(event);
            }
        }
        for (const auto& [topic, payload] : work.retained) {
            HandRetained(topic, payload);
        }
        batch.clear();
        bool handedAll = true;
        if (work.room > 0) {
            spool.Read(handedUpTo, std::min(work.room, kReadBatch), batch);
            for (const SpoolRecord& record : batch) {
                handedAll = HandRecord(record);
                if (!handedAll) {
                    break;
                }
                handedUpTo = record.id;
            }
        }
        if (batch.empty() || !handedAll) {
            spool.WaitForRecordsAfter(work.room > 0 && handedAll ? handedUpTo : kNoRecord,
                                      kIdleWait);
        }
    }
    AcknowledgeSettled(given);
}

// What the publishing thread is to do now: the listener's events, the retained messages to
// publish and the room in the window while connected. False when it is to stop.
bool MosquittoPublisher::TakeWork(std::uint64_t& servedConnection, Work& work) {
    work = Work();
    std::lock_guard guard(mutex);
    if (publishingStopping) {
        return false;
    }
    work.events.swap(events);
    if (!connected) {
        return true;
    }
    if (connection != servedConnection) {
        servedConnection = connection;
        for (const auto& entry : retained) {
            retainedToSend.insert(entry.first);
        }
    }
    for (const std::string& topic : retainedToSend) {
        work.retained.emplace_back(topic, retained[topic]);
    }
    retainedToSend.clear();
    work.room = window > inFlight.size() ? window - inFlight.size() : 0;
    return true;
}

// False when the library could not take the record for now (out of memory): it is handed again
// later. A record the library refuses for good (too large for the broker, say) counts as
// refused, like one the broker refuses.
bool MosquittoPublisher::HandRecord(const SpoolRecord& record) {
    int mid = 0;
    const int result = mosquitto_publish(client, &mid, record.topic.c_str(),
                                         static_cast<int>(record.payload.size()),
                                         record.payload.data(), kQos, false);
    // With a packet id the library holds the message, whatever the result says of sending it
    // now; without one it took nothing.
    if (mid == 0 && result == MOSQ_ERR_NOMEM) {
        return false;
    }
    std::lock_guard guard(mutex);
    inFlight.push_back({record.id, mid, false});
    if (mid == 0) {
        Settle(inFlight.size() - 1, MQTT_RC_UNSPECIFIED);
    } else if (const auto early = unclaimed.find(mid); early != unclaimed.end()) {
        const int reasonCode = early->second;
        unclaimed.erase(early);
        Settle(inFlight.size() - 1, reasonCode);
    }
    return true;
}

int MosquittoPublisher::HandRetained(const std::string& topic, const std::string& payload) {
    int mid = 0;
    mosquitto_publish(client, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                      kQos, true);
    std::lock_guard guard(mutex);
    if (mid != 0 && unclaimed.erase(mid) == 0) {
        retainedMids.insert(mid);
    }
    return mid;
}

// Marks inFlight[index] settled (under the mutex) and moves the settled prefix on. Wakes the
// publishing thread when a full window gets room, so the next record follows the confirmation
// at once (a broker that delays its small answers until they are acknowledged gets data to
// acknowledge them with), and when nothing is left in flight, to acknowledge promptly.
void MosquittoPublisher::Settle(std::size_t index, int reasonCode) {
    ++(reasonCode < kFirstFailureReason ? delivered : refused);
    inFlight[index].settled = true;
    const std::size_t before = inFlight.size();
    while (!inFlight.empty() && inFlight.front().settled) {
        settledUpTo = inFlight.front().id;
        inFlight.pop_front();
    }
    if ((before >= window && inFlight.size() < window) || inFlight.empty()) {
        spool.Wake();
    }
}

void MosquittoPublisher::AcknowledgeSettled(std::uint64_t& given) {
    std::uint64_t settled = 0;
    {
        std::lock_guard guard(mutex);
        settled = settledUpTo;
    }
    if (settled > given) {
        spool.Acknowledge(settled);
        given = settled;
        changed.notify_all();
    }
}

void MosquittoPublisher::SetRetained(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard guard(mutex);
        retained[topic] = payload;
        retainedToSend.insert(topic);
    }
    spool.Wake();
}

bool MosquittoPublisher::Close(milliseconds drainTimeout) {
    {
        std::lock_guard guard(mutex);
        if (closed) {
            return closeResult;
        }
        closed = true;
    }
    if (publishing.joinable()) {
        const auto deadline = Clock::now() + drainTimeout;
        std::unique_lock guard(mutex);
        while (Clock::now() < deadline) {
            guard.unlock();
            const bool drained = spool.Counters().pendingRecords == 0;
            guard.lock();
            if (drained) {
                break;
            }
            changed.wait_until(guard, std::min(deadline, Clock::now() + kDrainPoll));
        }
        publishingStopping = true;
        guard.unlock();
        spool.Wake();
        publishing.join();
        PublishOfflineStatus();
    }
    StopLink();
    // Confirmations that came after the publishing thread ended.
    std::uint64_t given = spool.Counters().acknowledgedId;
    AcknowledgeSettled(given);
    const bool drained = spool.Counters().pendingRecords == 0;
    std::lock_guard guard(mutex);
    closeResult = drained;
    return closeResult;
}

// "offline" (retained), waited for up to kStatusWait, while connected; the last will says the
// same when the connection dies otherwise.
void MosquittoPublisher::PublishOfflineStatus() {
    {
        std::lock_guard guard(mutex);
        if (!connected) {
            return;
        }
    }
    int mid = 0;
    mosquitto_publish(client, &mid, statusTopic.c_str(), static_cast<int>(kOfflinePayload.size()),
                      kOfflinePayload.data(), kQos, true);
    std::unique_lock guard(mutex);
    if (mid == 0) {
        return;
    }
    statusConfirmed = unclaimed.erase(mid) > 0;
    statusMid = mid;
    changed.wait_for(guard, kStatusWait, [this] { return statusConfirmed || !connected; });
}

MqttPublisherCounters MosquittoPublisher::Counters() const {
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

void MosquittoPublisher::OnConnect(mosquitto*, void* self, int code, int,
                                   const mosquitto_property* properties) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    std::uint16_t receiveMaximum = 0;
    mosquitto_property_read_int16(properties, MQTT_PROP_RECEIVE_MAXIMUM, &receiveMaximum, false);
    std::lock_guard guard(publisher->mutex);
    if (!publisher->attempting || publisher->attempt.done) {
        return;
    }
    publisher->attempt.done = true;
    publisher->attempt.connackCode = code;
    publisher->attempt.connected = code == 0;
    publisher->attempt.receiveMaximum = receiveMaximum;
}

// code: the library's result code, or the reason code of the broker's DISCONNECT (MQTT 5).
void MosquittoPublisher::OnDisconnect(mosquitto*, void* self, int code, const mosquitto_property*) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    const std::string systemError = code == MOSQ_ERR_ERRNO ? SystemErrorText(errno) : "";
    const std::string reason =
        code >= kFirstFailureReason
            ? "the broker disconnected: " + WithoutFullStop(mosquitto_reason_string(code))
        : code == MOSQ_ERR_SUCCESS ? "the broker closed the connection"
                                   : LibraryErrorText(code, systemError);
    std::lock_guard guard(publisher->mutex);
    if (publisher->attempting && !publisher->attempt.done) {
        publisher->attempt.done = true;
        publisher->attempt.libraryError = code;
        publisher->attempt.systemError = systemError;
    }
    publisher->lostReason = reason;
}

// A confirmation of a record settles it; one of a retained message is only noted. One that
// comes before its publish call returned waits in unclaimed for that call.
void MosquittoPublisher::OnPublish(mosquitto*, void* self, int mid, int reasonCode,
                                   const mosquitto_property*) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    std::lock_guard guard(publisher->mutex);
    auto& inFlight = publisher->inFlight;
    const auto entry = std::find_if(inFlight.begin(), inFlight.end(), [mid](const InFlight& item) {
        return item.mid == mid && !item.settled;
    });
    if (entry != inFlight.end()) {
        publisher->Settle(static_cast<std::size_t>(entry - inFlight.begin()), reasonCode);
    } else if (mid == publisher->statusMid) {
        publisher->statusConfirmed = true;
        publisher->changed.notify_all();
    } else if (publisher->retainedMids.erase(mid) == 0) {
        publisher->unclaimed[mid] = reasonCode;
    }
}

void MosquittoPublisher::OnLog(mosquitto*, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || text == nullptr) {
        return;
    }
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    std::lock_guard guard(publisher->mutex);
    if (publisher->attempting) {
        publisher->attempt.errorLog.emplace_back(text);
    }
}

}  // namespace

std::unique_ptr<MqttPublisher::Impl> MakeMqttPublisherImpl(
    Spool& spool, MqttPublisherOptions options, MqttPublisher::ConnectionListener listener) {
    return std::make_unique<MosquittoPublisher>(spool, std::move(options), std::move(listener));
}
