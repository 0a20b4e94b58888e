// A real MQTT broker for tests: Debian's mosquitto, started by the test on a free loopback port
// with a configuration and a folder of its own, and an independent subscriber (mosquitto_sub)
// that records every message it receives. Nothing here knows the publisher, so any test of
// MQTT output can use it.
//
// The broker keeps its state on disk (persistence on), so a Stop and Start keeps the messages
// queued for persistent subscribers; Kill loses what it had not saved. The TLS variant has a TLS
// listener that wants a client certificate and a user name and password, made at test time with
// openssl and mosquitto_passwd, plus a plain listener with the same login for the subscriber; it
// also makes a second, untrusted CA with a client certificate of its own.
//
// POSIX only: on Windows Available() says so and nothing can be started.
// Threads: one test thread uses an object.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TestBroker {
public:
    enum class Kind { Plain, Tls };
    static constexpr const char* kUser = "qiro7-test";
    static constexpr const char* kPassword = "s3cret-pass";

    // True when mosquitto and its clients (and for TLS openssl) can be run; false with the
    // reason for GTEST_SKIP otherwise.
    static bool Available(bool tls, std::string& reason);

    explicit TestBroker(Kind kind = Kind::Plain);
    ~TestBroker();  // kills the broker and removes its folder
    TestBroker(const TestBroker&) = delete;
    TestBroker& operator=(const TestBroker&) = delete;

    // Starts mosquitto (on the same ports as before, after the first start) and waits until
    // it accepts connections. False, with the end of its log as a test failure, when it does not
    // within 10 s.
    bool Start();
    // Ends it as a service manager would (SIGTERM), so it saves its state, and waits for it.
    void Stop();
    // Ends it at once (SIGKILL).
    void Kill();
    // Stops it where it is (SIGSTOP): it reads and answers nothing more; Kill ends it.
    void Freeze();
    bool IsRunning() const { return pid > 0; }

    // The publisher's side: the TLS listener for the TLS variant, else the plain one. The host
    // is the name the server certificate holds.
    std::string Host() const;
    std::uint16_t Port() const;
    // mqtt://host:port/prefix, or mqtts://user@host:port/prefix for the TLS variant.
    std::string Url(const std::string& prefix) const;
    // The plain listener, for subscribers and probes.
    std::uint16_t PlainPort() const { return plainPort; }
    bool Tls() const { return tls; }

    // PEM files of the TLS variant.
    std::string CaFile() const { return folder + "/ca.crt"; }
    std::string ClientCertificate() const { return folder + "/client.crt"; }
    std::string ClientKey() const { return folder + "/client.key"; }
    std::string UntrustedCaFile() const { return folder + "/other-ca.crt"; }
    std::string UntrustedClientCertificate() const { return folder + "/other-client.crt"; }

    const std::string& Folder() const { return folder; }
    std::string LogTail() const;

private:
    bool MakeTlsFiles();
    bool WriteConfiguration();

    bool tls;
    std::string folder;
    std::uint16_t plainPort = 0;
    std::uint16_t tlsPort = 0;
    int pid = 0;
};

// One message as mosquitto_sub received it.
struct ReceivedMessage {
    bool retained = false;
    double arrival = 0;  // when mosquitto_sub had it: seconds since 1970 (system clock)
    std::string topic;
    std::string payload;
};

// mosquitto_sub as a child process on the broker's plain listener: QoS 1, a persistent session
// under its own client id (so messages published while it is away are kept for it), printing
// every message to a file that the object reads. The topic filter ends in "#": the probes go
// to a topic of their own under it.
class TestSubscriber {
public:
    TestSubscriber(const TestBroker& broker, const std::string& topicFilter,
                   const std::string& clientId);
    ~TestSubscriber();  // ends the child
    TestSubscriber(const TestSubscriber&) = delete;
    TestSubscriber& operator=(const TestSubscriber&) = delete;

    // Publishes probe messages under the filter's root until one arrives: from then on the
    // subscription is in place. Probes are not among Messages().
    bool WaitUntilSubscribed(std::chrono::seconds timeout = std::chrono::seconds(10));
    std::vector<ReceivedMessage> Messages() const;
    // Waits until done(Messages()) holds; false after timeout.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                 std::chrono::seconds timeout);

private:
    const TestBroker& broker;
    std::string probeTopic;
    std::string outputFile;
    int pid = 0;
};
