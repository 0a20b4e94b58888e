// The connection to an MQTT broker that delivers a spool's records, at least once and in order,
// across broker outages, network loss and restarts of the program, and keeps a few retained
// "latest value" messages on the broker.
//
// Records are published with QoS 1, many in flight, never reordered; each delivery
// confirmation acknowledges in the spool over the contiguous delivered prefix. After a lost
// connection it reconnects by itself (back-off from retryMin doubling to retryMax) in the same
// persistent session (MQTT 5: clean start off, a week's session expiry; MQTT 3.1.1: clean
// session off) under clientId, and sends again what was in flight and unconfirmed, once, so
// repeats come only after a reconnect. A new publisher starts with the spool's first
// unacknowledged record. In flight at most maxInFlight records, and fewer than the broker's
// receive maximum (MQTT 5).
// The broker publishes `<prefix>/status` = "offline" (retained) when the connection dies without
// Close; Close publishes the same itself.
//
// Threads: every public call is thread-safe. From Start to Close the publisher has two threads
// of its own: one hands the records to the MQTT library and calls the connection listener; the
// other runs the library's network loop, on which the library's callbacks only record results.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "publish/BrokerUrl.h"

class Spool;

enum class MqttProtocol { V5, V311 };

struct MqttPublisherOptions {
    BrokerUrl broker;
    std::string topicPrefix;  // the prefix in use (the URL's, or the caller's default)
    std::string clientId;     // the same across restarts: one connection per id at a broker
    std::string password;     // empty: none; never from the command line's arguments
    // mqtts only: the CA certificates to verify the broker with (empty: the system's), and an
    // optional client certificate and its key (PEM files).
    std::string caFile;
    std::string certificateFile;
    std::string keyFile;
    MqttProtocol protocol = MqttProtocol::V5;
    std::chrono::seconds keepAlive{30};
    std::chrono::milliseconds retryMin{1000};
    std::chrono::milliseconds retryMax{30000};
    std::chrono::seconds connectTimeout{10};  // of each attempt after Start's
    unsigned maxInFlight = 1024;              // records published and not yet confirmed
};

// How Start's first connection attempt ended.
enum class MqttStartOutcome {
    Connected,
    Unreachable,          // refused, timed out, network down: retried in the background
    UnknownHost,          // the name does not resolve
    LoginRefused,         // bad user name or password, or not authorised
    CertificateRejected,  // the broker's certificate does not verify, or ours is refused
    TlsUnavailable,       // mqtts:// in a build without TLS
    ClientUnavailable,    // a build without an MQTT client library
};

struct MqttStartResult {
    MqttStartOutcome outcome = MqttStartOutcome::Unreachable;
    std::string message;  // for a person: names host and port, and the library's reason
};

// True for the outcomes a person must fix; the others are worth retrying.
constexpr bool IsFatal(MqttStartOutcome outcome) {
    return outcome != MqttStartOutcome::Connected && outcome != MqttStartOutcome::Unreachable;
}

struct MqttConnectionEvent {
    bool connected = false;
    std::string text;  // "connected to host:port", or why the connection was lost
};

struct MqttPublisherCounters {
    std::uint64_t delivered = 0;        // records confirmed by the broker in this process
    std::uint64_t spooled = 0;          // records still waiting in the spool
    std::uint64_t droppedByBound = 0;   // undelivered records the spool's bound pushed out
    std::uint64_t reconnects = 0;       // connections made after one was lost or refused
    std::uint64_t refusedByBroker = 0;  // records the broker answered with an error (MQTT 5),
                                        // or too large for it: not sent again
};

class MqttPublisher {
public:
    // Called on the publisher's thread once per change of connection; must not call Close.
    using ConnectionListener = std::function<void(const MqttConnectionEvent&)>;

    // spool must outlive the publisher.
    MqttPublisher(Spool& spool, MqttPublisherOptions options, ConnectionListener listener = {});
    ~MqttPublisher();  // Close with no time to drain, if not closed yet
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // The first connection attempt, waited for up to timeout. Unless the outcome is fatal, the
    // publisher then runs until Close: connected, or retrying in the background. Once only.
    MqttStartResult Start(std::chrono::milliseconds timeout);

    // The retained message of topic (QoS 1): published at once when connected, and again after
    // every reconnect. The latest payload per topic wins.
    void SetRetained(const std::string& topic, const std::string& payload);

    // Waits up to drainTimeout for every spooled record to be delivered, publishes the status
    // "offline" (retained), disconnects and ends the publisher's thread. True when nothing was
    // left undelivered; what is left stays in the spool for the next start. Later calls do
    // nothing and return the same.
    bool Close(std::chrono::milliseconds drainTimeout);

    MqttPublisherCounters Counters() const;

    // What a build's MQTT client library provides (MqttPublisher_mosquitto.cpp, or
    // MqttPublisher_none.cpp in a build without one).
    class Impl;

private:
    std::unique_ptr<Impl> impl;
};

// The status topic: `<prefix>/status` ("status" for an empty prefix). "offline" (retained) as
// the last will and at Close; the caller publishes its other states with SetRetained.
std::string StatusTopicOf(const std::string& topicPrefix);
