// MqttPublisher over libmosquitto.
//
// Threads: from Start to Close the publisher has a thread of its own for connection attempts
// with their time-out and back-off, the records that waited in the spool, the retained
// messages, reading the broker's answers, keep-alive and the connection listener. A record
// appended while nothing waits before it is handed to the library by the appending thread
// itself, at once; so a steady stream wakes no other thread per record. Every library call,
// from either thread, is made under one mutex, within which the library calls back. The
// caller's threads wake the publisher's through a loopback socket.
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
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "publish/MqttPublisherImpl.h"
#include "publish/SocketWait.h"
#include "publish/Spool.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kQos = 1;
constexpr std::size_t kReadBatch = 256;
// While records flow, the broker's confirmations may wait this long to be read.
constexpr milliseconds kLazyRead{1000};
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

std::string SystemErrorText(int code) {
    return std::system_category().message(code);
}

// What a library result code means, in words. systemError: the system's error number, taken
// right after the failing call, for MOSQ_ERR_ERRNO.
std::string LibraryErrorText(int code, int systemError) {
    if (code == MOSQ_ERR_ERRNO && systemError != 0) {
        return SystemErrorText(systemError);
    }
    if (code == MOSQ_ERR_KEEPALIVE) {
        return "no answer within the keep-alive interval";
    }
    return WithoutFullStop(mosquitto_strerror(code));
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
        int mid;  // the library's packet id; 0: the library refused the record
        bool settled;
    };
    // One connection attempt, as the library's callbacks report it.
    struct Attempt {
        bool done = false;
        bool connected = false;
        int connackCode = -1;  // the broker's answer; -1: none came
        int libraryError = MOSQ_ERR_SUCCESS;
        int systemError = 0;                // the system's error number with MOSQ_ERR_ERRNO
        std::vector<std::string> errorLog;  // the library's error lines (OpenSSL's among them)
        unsigned receiveMaximum = 0;        // from the CONNACK (MQTT 5); 0: none given
    };
    // What the caller's threads ask of the publisher's thread, taken under stateMutex.
    struct Work {
        bool stop = false;
        bool closing = false;                                       // Close waits for the drain
        std::vector<std::pair<std::string, std::string>> retained;  // topic, payload
    };
    // The library's socket as the publisher's thread is to wait on it.
    struct SocketWish {
        int socket = -1;
        bool read = false;
        bool write = false;
    };

    bool CreateClient(MqttStartResult& failure);
    int ConfigureClient();
    bool SetUpTls(MqttStartResult& failure);
    MqttStartResult Classify(const Attempt& failed, milliseconds timeout) const;
    MqttStartResult TlsVerdict(const Attempt& failed) const;
    void StopThread();
    void OnAppend(std::uint64_t id, std::string_view topic, std::string_view payload);

    // The publisher's thread.
    void Run(milliseconds firstTimeout);
    bool TellStart(const MqttStartResult& result, bool& toldByStart);
    bool AttemptConnection(milliseconds timeout, Attempt& outcome);
    bool StopRequested() const;
    bool WaitBeforeRetry(milliseconds delay);
    void MarkConnected(unsigned receiveMaximum, bool toldByStart);
    void Report(bool nowConnected, const std::string& text);
    bool Serve();
    Work TakeWork(bool newConnection);
    void HandBacklog();
    SocketWish WishWhileConnected(bool draining, milliseconds& wait);
    int Exchange(int& systemError);
    void AcknowledgeSettled();
    void ShutDown();

    // Under linkMutex, on whichever thread.
    bool HandRecord(std::uint64_t id, const std::string& topic, std::string_view payload);
    void Settle(std::size_t index, int reasonCode);

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
    const milliseconds housekeepingPeriod;  // of the library's keep-alive checks
    mosquitto* client = nullptr;
    std::unique_ptr<LoopbackWaker> waker;  // SetRetained, Close and a record left over wake it
    std::thread thread;

    // Locks are taken in this order: the spool's, linkMutex, stateMutex.
    //
    // Every library call is made under linkMutex, by the publisher's thread or by the thread
    // that appends to the spool, which hands a record at once when nothing waits before it. The
    // library's callbacks run under it too, within those calls. It guards the record flow.
    mutable std::mutex linkMutex;
    bool connected = false;  // records may be handed
    std::size_t window;
    std::deque<InFlight> inFlight;
    std::uint64_t handedUpTo = 0;  // the newest record handed to the library
    std::uint64_t settledUpTo = 0;
    Clock::time_point lastHanded;
    bool backlogInFlight = false;  // the publisher's thread handed records not yet settled
    bool attempting = false;
    Attempt attempt;
    std::string lostReason;  // why the last connection ended
    int statusMid = 0;
    bool statusConfirmed = false;

    // What the caller's threads share with the publisher's thread.
    mutable std::mutex stateMutex;
    std::condition_variable changed;
    bool started = false;
    bool closed = false;
    bool closeResult = false;
    bool closing = false;
    bool stopping = false;
    bool verdictDone = false;  // Start's first attempt is decided
    MqttStartResult verdict;
    bool startGaveUp = false;  // Start returned before the verdict came
    std::map<std::string, std::string> retained;
    std::set<std::string> retainedToSend;
    std::uint64_t delivered = 0;
    std::uint64_t refused = 0;
    std::uint64_t reconnects = 0;

    // The publisher's thread's own.
    bool reportedConnected = false;
    std::uint64_t acknowledgedUpTo = 0;  // in the spool
};

MosquittoPublisher::MosquittoPublisher(Spool& spoolToSend, MqttPublisherOptions publisherOptions,
                                       MqttPublisher::ConnectionListener connectionListener)
    : spool(spoolToSend),
      options(std::move(publisherOptions)),
      listener(std::move(connectionListener)),
      where(HostAndPort(options.broker)),
      statusTopic(StatusTopicOf(options.topicPrefix)),
      v5(options.protocol == MqttProtocol::V5),
      housekeepingPeriod(std::max<milliseconds>(std::chrono::seconds(1), options.keepAlive / 4)),
      window(std::max(1u, options.maxInFlight)) {
    InitialiseLibraryOnce();  // also readies the sockets on Windows, for the waker
    waker = std::make_unique<LoopbackWaker>();
}

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
            "cannot set up the MQTT client for " + where + ": " + LibraryErrorText(result, 0);
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
// maximum lowers it for MQTT 5), no delay of small packets, the last will and the session's
// expiry. The first failure's result code.
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
                                                 : LibraryErrorText(result, 0))};
        return false;
    }
    return true;
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
    // With TLS 1.3 the broker judges the client certificate after the handshake and closes the
    // connection, often before its alert can be read.
    const bool closedByPeer = failed.libraryError == MOSQ_ERR_CONN_LOST ||
                              (failed.libraryError == MOSQ_ERR_ERRNO &&
                               (failed.systemError == EPROTO || failed.systemError == ECONNRESET));
    if (closedByPeer && failed.errorLog.empty()) {
        return {MqttStartOutcome::CertificateRejected,
                "the broker at " + where +
                    " closed the TLS connection before answering, as it does when it refuses "
                    "the client certificate: check the client certificate and key, or give one "
                    "if the broker asks for it"};
    }
    return {MqttStartOutcome::Unreachable, ""};
}

MqttStartResult MosquittoPublisher::Start(milliseconds timeout) {
    {
        std::lock_guard guard(stateMutex);
        if (started || closed) {
            return {MqttStartOutcome::Unreachable, "the publisher has been started before"};
        }
        started = true;
    }
    MqttStartResult result;
    if (!CreateClient(result)) {
        return result;
    }
    if (!waker->Valid()) {
        return {MqttStartOutcome::ClientUnavailable,
                "cannot set up the MQTT client for " + where +
                    ": the system gives no loopback socket for its wake-ups"};
    }
    handedUpTo = settledUpTo = acknowledgedUpTo = spool.Counters().acknowledgedId;
    spool.SetAppendListener([this](std::uint64_t id, std::string_view topic,
                                   std::string_view payload) { OnAppend(id, topic, payload); });
    thread = std::thread([this, timeout] { Run(timeout); });
    bool gaveUp = false;
    {
        // A name lookup that hangs past the attempt's own time-out is no verdict either.
        std::unique_lock guard(stateMutex);
        changed.wait_for(guard, timeout + kLookupMargin, [this] { return verdictDone; });
        gaveUp = startGaveUp = !verdictDone;
        result = verdict;
    }
    if (gaveUp) {
        result = Classify(Attempt(), timeout);
    }
    if (IsFatal(result.outcome)) {
        StopThread();
    }
    return result;
}

void MosquittoPublisher::StopThread() {
    {
        std::lock_guard guard(stateMutex);
        stopping = true;
    }
    changed.notify_all();
    waker->Notify();
    if (thread.joinable()) {
        thread.join();
    }
    spool.SetAppendListener({});
}

// On the appending thread, with the spool's lock held. The record goes to the library at once
// when it is the next one and the window has room; otherwise the publisher's thread takes it
// from the spool when it can. The appending thread never waits for the link: a connection
// attempt holds it through the library's name lookup, which may hang for many seconds.
void MosquittoPublisher::OnAppend(std::uint64_t id, std::string_view topic,
                                  std::string_view payload) {
    bool taken = false;
    bool leftToWrite = false;
    {
        std::unique_lock guard(linkMutex, std::try_to_lock);
        if (guard.owns_lock() && connected && handedUpTo + 1 == id && inFlight.size() < window) {
            taken = HandRecord(id, std::string(topic), payload);
            leftToWrite = mosquitto_want_write(client);
        }
    }
    if (!taken || leftToWrite) {
        waker->Notify();
    }
}

void MosquittoPublisher::SetRetained(const std::string& topic, const std::string& payload) {
    {
        std::lock_guard guard(stateMutex);
        retained[topic] = payload;
        retainedToSend.insert(topic);
    }
    waker->Notify();
}

bool MosquittoPublisher::Close(milliseconds drainTimeout) {
    {
        std::lock_guard guard(stateMutex);
        if (closed) {
            return closeResult;
        }
        closed = true;
        closing = true;
    }
    if (thread.joinable()) {
        waker->Notify();
        const auto deadline = Clock::now() + drainTimeout;
        std::unique_lock guard(stateMutex);
        while (Clock::now() < deadline) {
            guard.unlock();
            const bool drained = spool.Counters().pendingRecords == 0;
            guard.lock();
            if (drained) {
                break;
            }
            changed.wait_until(guard, std::min(deadline, Clock::now() + kDrainPoll));
        }
        guard.unlock();
        StopThread();
    }
    const bool drained = spool.Counters().pendingRecords == 0;
    std::lock_guard guard(stateMutex);
    closeResult = drained;
    return closeResult;
}

MqttPublisherCounters MosquittoPublisher::Counters() const {
    const SpoolCounters spooled = spool.Counters();
    MqttPublisherCounters counters;
    counters.spooled = spooled.pendingRecords;
    counters.droppedByBound = spooled.droppedUndelivered;
    std::lock_guard guard(stateMutex);
    counters.delivered = delivered;
    counters.reconnects = reconnects;
    counters.refusedByBroker = refused;
    return counters;
}

void MosquittoPublisher::Run(milliseconds firstTimeout) {
    milliseconds delay = options.retryMin;
    milliseconds timeout = firstTimeout;
    bool first = true;
    while (true) {
        Attempt outcome;
        const bool up = AttemptConnection(timeout, outcome);
        timeout = options.connectTimeout;
        bool toldByStart = false;
        if (first) {
            first = false;
            if (!TellStart(Classify(outcome, firstTimeout), toldByStart)) {
                return;
            }
        }
        if (up) {
            MarkConnected(outcome.receiveMaximum, toldByStart);
            delay = options.retryMin;
            if (!Serve()) {
                return;
            }
            std::string reason;
            {
                std::lock_guard guard(linkMutex);
                reason = lostReason;
            }
            Report(false, "lost the connection to " + where + ": " + reason);
            continue;
        }
        if (!WaitBeforeRetry(delay)) {
            return;
        }
        delay = std::min(delay * 2, options.retryMax);
    }
}

// Gives Start the first attempt's outcome. False when it is fatal and Start returns it: then the
// publisher ends. toldByStart: Start's result tells the outcome (it has not given up waiting).
bool MosquittoPublisher::TellStart(const MqttStartResult& result, bool& toldByStart) {
    std::lock_guard guard(stateMutex);
    toldByStart = !startGaveUp;
    verdict = result;
    verdictDone = true;
    changed.notify_all();
    return !(IsFatal(result.outcome) && toldByStart);
}

// One connection attempt, until the broker's CONNACK, a failure, timeout or Close. The library
// logs its error lines (TLS faults among them) only to a callback, so one is set meanwhile.
// Until the socket has been writable once the connection is being made; after that the library
// says when it has something to write (a TLS handshake may wait for reads only).
bool MosquittoPublisher::AttemptConnection(milliseconds timeout, Attempt& outcome) {
    const auto deadline = Clock::now() + timeout;
    int result = MOSQ_ERR_SUCCESS;
    int systemError = 0;
    SocketWish wish;
    {
        std::lock_guard guard(linkMutex);
        attempt = Attempt();
        attempting = true;
        mosquitto_log_callback_set(client, &OnLog);
        result =
            mosquitto_connect_bind_async(client, options.broker.host.c_str(), options.broker.port,
                                         static_cast<int>(options.keepAlive.count()), nullptr);
        systemError = errno;
        wish = {mosquitto_socket(client), true, true};
    }
    bool established = false;
    while (result == MOSQ_ERR_SUCCESS && !StopRequested()) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        const SocketReadiness ready =
            SocketWait::Wait(*waker, wish.socket, wish.read, wish.write, left);
        std::lock_guard guard(linkMutex);
        if (ready.error != 0) {
            result = MOSQ_ERR_ERRNO;
            systemError = ready.error;
        } else if (ready.readable || ready.writable) {
            established = established || ready.writable;
            result = Exchange(systemError);
        }
        if (attempt.done) {
            break;
        }
        wish = {mosquitto_socket(client), true, !established || mosquitto_want_write(client)};
    }
    std::lock_guard guard(linkMutex);
    mosquitto_log_callback_set(client, nullptr);
    attempting = false;
    if (!attempt.done && result != MOSQ_ERR_SUCCESS) {
        attempt.done = true;
        attempt.libraryError = result;
        attempt.systemError = systemError;
    }
    outcome = attempt;
    return attempt.connected;
}

bool MosquittoPublisher::StopRequested() const {
    std::lock_guard guard(stateMutex);
    return stopping;
}

// False when the publisher stops meanwhile. Appends do not end this wait: records wait in the
// spool until there is a connection.
bool MosquittoPublisher::WaitBeforeRetry(milliseconds delay) {
    std::unique_lock guard(stateMutex);
    return !changed.wait_for(guard, delay, [this] { return stopping; });
}

// toldByStart: Start's result says so; otherwise it is a reconnection, told to the listener.
void MosquittoPublisher::MarkConnected(unsigned receiveMaximum, bool toldByStart) {
    std::size_t others = 0;
    {
        std::lock_guard guard(stateMutex);
        others = retained.size() + 1;  // besides the records: retained messages, closing status
        reconnects += toldByStart ? 0 : 1;
    }
    {
        std::lock_guard guard(linkMutex);
        window = std::max(1u, options.maxInFlight);
        if (receiveMaximum > 0) {
            window = std::min<std::size_t>(window,
                                           receiveMaximum > others ? receiveMaximum - others : 1);
        }
        connected = true;
    }
    if (toldByStart) {
        reportedConnected = true;
    } else {
        Report(true, "connected to " + where);
    }
}

void MosquittoPublisher::Report(bool nowConnected, const std::string& text) {
    if (nowConnected == reportedConnected) {
        return;
    }
    reportedConnected = nowConnected;
    if (listener) {
        listener({nowConnected, text});
    }
}

// Publishes while connected: the retained messages (all of them after each new connection), and
// the records that waited in the spool (while disconnected, or for room in the window); the
// others the appending thread hands over itself. False when the publisher stops.
bool MosquittoPublisher::Serve() {
    bool newConnection = true;
    int systemError = 0;
    while (true) {
        const Work work = TakeWork(newConnection);
        newConnection = false;
        if (work.stop) {
            ShutDown();
            return false;
        }
        if (!work.retained.empty()) {
            std::lock_guard guard(linkMutex);
            for (const auto& [topic, payload] : work.retained) {
                mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                  payload.data(), kQos, true);
            }
        }
        HandBacklog();
        AcknowledgeSettled();
        milliseconds wait{0};
        const SocketWish wish = WishWhileConnected(work.closing, wait);
        SocketWait::Wait(*waker, wish.socket, wish.read, wish.write, wait);
        std::lock_guard guard(linkMutex);
        if (Exchange(systemError) != MOSQ_ERR_SUCCESS) {
            connected = false;
            break;
        }
    }
    AcknowledgeSettled();
    return true;
}

MosquittoPublisher::Work MosquittoPublisher::TakeWork(bool newConnection) {
    Work work;
    std::lock_guard guard(stateMutex);
    work.stop = stopping;
    work.closing = closing;
    if (newConnection) {
        for (const auto& entry : retained) {
            retainedToSend.insert(entry.first);
        }
    }
    for (const std::string& topic : retainedToSend) {
        work.retained.emplace_back(topic, retained[topic]);
    }
    retainedToSend.clear();
    return work;
}

// Hands the spool's records after handedUpTo while the window has room. The spool is read
// without linkMutex (the appending thread takes it under the spool's lock), so records the
// appending thread handed meanwhile are skipped.
void MosquittoPublisher::HandBacklog() {
    std::vector<SpoolRecord> batch;
    while (true) {
        std::uint64_t after = 0;
        std::size_t room = 0;
        {
            std::lock_guard guard(linkMutex);
            after = handedUpTo;
            room = window > inFlight.size() ? window - inFlight.size() : 0;
        }
        batch.clear();
        if (room > 0) {
            spool.Read(after, std::min(room, kReadBatch), batch);
        }
        if (batch.empty()) {
            return;
        }
        std::lock_guard guard(linkMutex);
        for (const SpoolRecord& record : batch) {
            if (record.id <= handedUpTo) {
                continue;
            }
            if (inFlight.size() >= window || !HandRecord(record.id, record.topic, record.payload)) {
                return;
            }
            backlogInFlight = true;
        }
    }
}

// How to wait while connected. While records flow from the appending thread the broker's
// confirmations are left unread until kLazyRead after the last record was handed, so a steady
// stream costs the publisher's thread one wake-up per kLazyRead; with a full window, while
// records it handed itself are in flight, while Close drains and when no record has come for
// that long, the broker's answers wake it at once.
MosquittoPublisher::SocketWish MosquittoPublisher::WishWhileConnected(bool draining,
                                                                      milliseconds& wait) {
    std::lock_guard guard(linkMutex);
    const auto readBy = lastHanded + kLazyRead;
    const auto now = Clock::now();
    const bool readNow = draining || backlogInFlight || inFlight.size() >= window || now >= readBy;
    wait = readNow ? housekeepingPeriod
                   : std::min(housekeepingPeriod, std::chrono::ceil<milliseconds>(readBy - now));
    return {mosquitto_socket(client), readNow, mosquitto_want_write(client)};
}

// One round of the library's network work, under linkMutex: reads what came (a TLS handshake
// goes a step on with it), writes what waits, keeps the connection alive. The library's result
// code; systemError: the system's error number with MOSQ_ERR_ERRNO.
int MosquittoPublisher::Exchange(int& systemError) {
    int result = mosquitto_loop_read(client, 1);
    if (result == MOSQ_ERR_SUCCESS && mosquitto_want_write(client)) {
        result = mosquitto_loop_write(client, 1);
    }
    if (result == MOSQ_ERR_SUCCESS) {
        result = mosquitto_loop_misc(client);
    }
    systemError = errno;
    return result;
}

// False when the library could not take the record now (out of memory): it is handed again
// later. With a packet id the library holds the message until the broker confirms it, whatever
// its result says of sending it now; without one it took nothing, and a record it refuses for
// good (too large for the broker, say) counts as refused, like one the broker refuses.
bool MosquittoPublisher::HandRecord(std::uint64_t id, const std::string& topic,
                                    std::string_view payload) {
    int mid = 0;
    const int result = mosquitto_publish(
        client, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), kQos, false);
    if (mid == 0 && result == MOSQ_ERR_NOMEM) {
        return false;
    }
    inFlight.push_back({id, mid, false});
    handedUpTo = id;
    lastHanded = Clock::now();
    if (mid == 0) {
        Settle(inFlight.size() - 1, MQTT_RC_UNSPECIFIED);
    }
    return true;
}

// Marks inFlight[index] settled and moves the settled prefix on.
void MosquittoPublisher::Settle(std::size_t index, int reasonCode) {
    {
        std::lock_guard guard(stateMutex);
        ++(reasonCode < kFirstFailureReason ? delivered : refused);
    }
    inFlight[index].settled = true;
    while (!inFlight.empty() && inFlight.front().settled) {
        settledUpTo = inFlight.front().id;
        inFlight.pop_front();
    }
    backlogInFlight = backlogInFlight && !inFlight.empty();
}

void MosquittoPublisher::AcknowledgeSettled() {
    std::uint64_t settled = 0;
    {
        std::lock_guard guard(linkMutex);
        settled = settledUpTo;
    }
    if (settled > acknowledgedUpTo) {
        spool.Acknowledge(settled);
        acknowledgedUpTo = settled;
        changed.notify_all();
    }
}

// Close while connected: "offline" (retained), waited for up to kStatusWait, then a clean
// disconnect. The last will says "offline" when the connection dies otherwise.
void MosquittoPublisher::ShutDown() {
    SocketWish wish;
    {
        std::lock_guard guard(linkMutex);
        connected = false;
        statusMid = 0;
        statusConfirmed = false;
        mosquitto_publish(client, &statusMid, statusTopic.c_str(),
                          static_cast<int>(kOfflinePayload.size()), kOfflinePayload.data(), kQos,
                          true);
        wish = {mosquitto_socket(client), true, mosquitto_want_write(client)};
    }
    const auto deadline = Clock::now() + kStatusWait;
    int systemError = 0;
    while (Clock::now() < deadline) {
        SocketWait::Wait(*waker, wish.socket, wish.read, wish.write,
                         std::chrono::ceil<milliseconds>(deadline - Clock::now()));
        std::lock_guard guard(linkMutex);
        if (Exchange(systemError) != MOSQ_ERR_SUCCESS) {
            break;
        }
        if (statusMid == 0 || statusConfirmed) {
            mosquitto_disconnect(client);
            break;
        }
        wish = {mosquitto_socket(client), true, mosquitto_want_write(client)};
    }
    AcknowledgeSettled();
    // What the disconnect left unwritten.
    const auto stopBy = Clock::now() + kDisconnectGrace;
    while (Clock::now() < stopBy) {
        {
            std::lock_guard guard(linkMutex);
            if (mosquitto_socket(client) < 0 || !mosquitto_want_write(client)) {
                return;
            }
            wish = {mosquitto_socket(client), false, true};
        }
        SocketWait::Wait(*waker, wish.socket, false, true,
                         std::chrono::ceil<milliseconds>(stopBy - Clock::now()));
        std::lock_guard guard(linkMutex);
        if (mosquitto_loop_write(client, 1) != MOSQ_ERR_SUCCESS) {
            return;
        }
    }
}

void MosquittoPublisher::OnConnect(mosquitto*, void* self, int code, int,
                                   const mosquitto_property* properties) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    if (!publisher->attempting || publisher->attempt.done) {
        return;
    }
    std::uint16_t receiveMaximum = 0;
    mosquitto_property_read_int16(properties, MQTT_PROP_RECEIVE_MAXIMUM, &receiveMaximum, false);
    publisher->attempt.done = true;
    publisher->attempt.connackCode = code;
    publisher->attempt.connected = code == 0;
    publisher->attempt.receiveMaximum = receiveMaximum;
}

// code: the library's result code, or the reason code of the broker's DISCONNECT (MQTT 5).
void MosquittoPublisher::OnDisconnect(mosquitto*, void* self, int code, const mosquitto_property*) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    const int systemError = errno;
    if (publisher->attempting && !publisher->attempt.done) {
        publisher->attempt.done = true;
        publisher->attempt.libraryError = code;
        publisher->attempt.systemError = systemError;
    }
    publisher->lostReason =
        code >= kFirstFailureReason
            ? "the broker disconnected: " + WithoutFullStop(mosquitto_reason_string(code))
        : code == MOSQ_ERR_SUCCESS ? "the broker closed the connection"
                                   : LibraryErrorText(code, systemError);
}

// A confirmation of a record settles it; those of retained messages need nothing, but the
// closing status's is waited for.
void MosquittoPublisher::OnPublish(mosquitto*, void* self, int mid, int reasonCode,
                                   const mosquitto_property*) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    auto& inFlight = publisher->inFlight;
    const auto entry = std::find_if(inFlight.begin(), inFlight.end(), [mid](const InFlight& item) {
        return item.mid == mid && !item.settled;
    });
    if (entry != inFlight.end()) {
        publisher->Settle(static_cast<std::size_t>(entry - inFlight.begin()), reasonCode);
    } else if (mid == publisher->statusMid) {
        publisher->statusConfirmed = true;
    }
}

void MosquittoPublisher::OnLog(mosquitto*, void* self, int level, const char* text) {
    auto* publisher = static_cast<MosquittoPublisher*>(self);
    if (level == MOSQ_LOG_ERR && text != nullptr && publisher->attempting) {
        publisher->attempt.errorLog.emplace_back(text);
    }
}

}  // namespace

std::unique_ptr<MqttPublisher::Impl> MakeMqttPublisherImpl(
    Spool& spool, MqttPublisherOptions options, MqttPublisher::ConnectionListener listener) {
    return std::make_unique<MosquittoPublisher>(spool, std::move(options), std::move(listener));
}
