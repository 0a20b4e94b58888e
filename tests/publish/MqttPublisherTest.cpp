// The publisher against a real mosquitto, observed by an independent subscriber: every record
// arrives, in order, across broker outages and restarts of the publisher; Start tells faults a
// person must fix from outages; the status topic ends "offline" whether the publisher closes or
// dies.
#include "publish/MqttPublisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "Broker.h"
#include "TestFolder.h"
#include "publish/Spool.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;
#endif

namespace {

using namespace std::chrono_literals;

constexpr const char* kPrefix = "qiro7test/line3";

std::string DataTopic() {
    return std::string(kPrefix) + "/sample";
}

std::string PayloadOf(std::uint64_t n) {
    return "{\"n\":" + std::to_string(n) + ",\"irradiance\":\"1.081E+01\"}";
}

// The n of each data message, in arrival order.
std::vector<std::uint64_t> ArrivedNumbers(const std::vector<ReceivedMessage>& messages) {
    std::vector<std::uint64_t> numbers;
    for (const ReceivedMessage& message : messages) {
        if (message.topic == DataTopic()) {
            numbers.push_back(std::stoull(message.payload.substr(5)));
        }
    }
    return numbers;
}

// Empty when every record 1..count arrived, each for the first time after all before it;
// otherwise what went wrong.
std::string OrderFault(const std::vector<std::uint64_t>& numbers, std::uint64_t count) {
    std::uint64_t next = 1;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (numbers[i] == next) {
            ++next;
        } else if (numbers[i] > next) {
            const bool later = std::find(numbers.begin() + static_cast<std::ptrdiff_t>(i),
                                         numbers.end(), next) != numbers.end();
            return std::to_string(numbers[i]) + " arrived before " + std::to_string(next) +
                   (later ? ", which came later" : ", which never came");
        }
    }
    return next == count + 1 ? "" : "only up to " + std::to_string(next - 1) + " arrived";
}

// Empty when every record 1..count arrived at least once, in whatever order.
std::string CompletenessFault(std::vector<std::uint64_t> numbers, std::uint64_t count) {
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    for (std::uint64_t n = 1; n <= count; ++n) {
        if (n > numbers.size() || numbers[n - 1] != n) {
            return std::to_string(n) + " never came";
        }
    }
    return "";
}

class PublishingTest : public testing::Test {
public:
    void SetUp() override {
        std::string reason;
        if (!TestBroker::Available(false, reason)) {
            GTEST_SKIP() << reason;
        }
    }

    std::unique_ptr<Spool> OpenSpool() {
        SpoolOpenReport report;
        std::string reason;
        std::unique_ptr<Spool> opened = Spool::Open(folder.Sub("spool"), {}, report, reason);
        EXPECT_NE(opened, nullptr) << reason;
        return opened;
    }

    MqttPublisherOptions Options(const TestBroker& target) {
        MqttPublisherOptions options;
        std::string reason;
        EXPECT_TRUE(ParseBrokerUrl(target.Url(kPrefix), options.broker, reason)) << reason;
        options.topicPrefix = options.broker.topicPrefix;
        options.clientId = "qiro7-test-publisher";
        return options;
    }

    std::unique_ptr<MqttPublisher> MakePublisher(Spool& target, MqttPublisherOptions options) {
        return std::make_unique<MqttPublisher>(target, std::move(options),
                                               [this](const MqttConnectionEvent& event) {
                                                   std::lock_guard guard(eventMutex);
                                                   events.push_back(event);
                                               });
    }

    void Append(std::uint64_t from, std::uint64_t to) {
        for (std::uint64_t n = from; n <= to; ++n) {
            ASSERT_EQ(spool->Append(DataTopic(), PayloadOf(n)).id, n);
        }
    }

    // Empty when every record 1..count arrived, in order unless inAnyOrder; otherwise what is
    // wrong after timeout.
    std::string WaitForAll(TestSubscriber& subscriber, std::uint64_t count, bool inAnyOrder = false,
                           std::chrono::seconds timeout = 30s) {
        auto fault = [count, inAnyOrder](const std::vector<ReceivedMessage>& messages) {
            const std::vector<std::uint64_t> numbers = ArrivedNumbers(messages);
            return inAnyOrder ? CompletenessFault(numbers, count) : OrderFault(numbers, count);
        };
        subscriber.WaitFor([&](const auto& messages) { return fault(messages).empty(); }, timeout);
        return fault(subscriber.Messages());
    }

    std::vector<MqttConnectionEvent> Events() {
        std::lock_guard guard(eventMutex);
        return events;
    }

    TestFolder folder;
    TestBroker broker;
    std::unique_ptr<Spool> spool;
    std::mutex eventMutex;
    std::vector<MqttConnectionEvent> events;
};

// One line per change of connection: lost and regained alternate, and the last is "connected".
void ExpectAlternatingEndingConnected(const std::vector<MqttConnectionEvent>& events) {
    ASSERT_FALSE(events.empty());
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_NE(events[i].connected, events[i - 1].connected) << events[i].text;
    }
    EXPECT_TRUE(events.back().connected);
}

struct OutageCase {
    const char* name;
    MqttProtocol protocol;
    std::uint64_t records;
    // Runs the outage around the appends; returns the outcome Start had.
    MqttStartOutcome (*run)(PublishingTest& test, TestBroker& broker, MqttPublisher& publisher);
    bool reconnects;  // the publisher must have lost and regained its connection
    // A broker restarted while it had messages in flight to the subscriber sends those again
    // after newer ones: then only completeness can be checked at the subscriber.
    bool brokerMayReorder;
};

TEST_F(PublishingTest, EveryRecordArrivesInOrderWhateverTheBrokerDoes) {
    const OutageCase cases[] = {
        {"broker up all along", MqttProtocol::V5, 2000,
         [](PublishingTest& test, TestBroker&, MqttPublisher& publisher) {
             const auto outcome = publisher.Start(5s).outcome;
             test.Append(1, 2000);
             return outcome;
         },
         false, false},
        {"broker down at the start and up 5 s later", MqttProtocol::V5, 300,
         [](PublishingTest& test, TestBroker& target, MqttPublisher& publisher) {
             target.Stop();
             const auto outcome = publisher.Start(2s).outcome;
             test.Append(1, 300);
             std::this_thread::sleep_for(5s);
             target.Start();
             return outcome;
         },
         true, false},
        {"broker restarted while records stream in", MqttProtocol::V5, 3000,
         [](PublishingTest& test, TestBroker& target, MqttPublisher& publisher) {
             const auto outcome = publisher.Start(5s).outcome;
             std::thread producer([&test] {
                 for (std::uint64_t n = 1; n <= 3000; ++n) {
                     test.Append(n, n);
                     if (n % 10 == 0) {
                         std::this_thread::sleep_for(1ms);
                     }
                 }
             });
             std::this_thread::sleep_for(100ms);
             target.Stop();
             std::this_thread::sleep_for(300ms);
             target.Start();
             producer.join();
             return outcome;
         },
         true, true},
        {"broker away while many records are appended, MQTT 3.1.1", MqttProtocol::V311, 20000,
         [](PublishingTest& test, TestBroker& target, MqttPublisher& publisher) {
             const auto outcome = publisher.Start(5s).outcome;
             target.Stop();
             test.Append(1, 20000);
             target.Start();
             return outcome;
         },
         true, false},
    };
    for (const OutageCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder caseFolder(c.name);
        TestBroker target;
        ASSERT_TRUE(target.Start());
        TestSubscriber subscriber(target, std::string(kPrefix) + "/#", "qiro7-test-subscriber");
        ASSERT_TRUE(subscriber.WaitUntilSubscribed());
        SpoolOpenReport report;
        std::string reason;
        spool = Spool::Open(caseFolder.Sub("spool"), {}, report, reason);
        ASSERT_NE(spool, nullptr) << reason;
        {
            std::lock_guard guard(eventMutex);
            events.clear();
        }
        auto options = Options(target);
        options.protocol = c.protocol;
        options.retryMin = 500ms;
        auto publisher = MakePublisher(*spool, options);
        const MqttStartOutcome started = c.run(*this, target, *publisher);
        EXPECT_TRUE(started == MqttStartOutcome::Connected ||
                    started == MqttStartOutcome::Unreachable);
        EXPECT_EQ(WaitForAll(subscriber, c.records, c.brokerMayReorder), "");
        EXPECT_TRUE(publisher->Close(10s));
        const MqttPublisherCounters counters = publisher->Counters();
        EXPECT_EQ(counters.spooled, 0u);
        EXPECT_GE(counters.delivered, c.records);
        if (c.reconnects) {
            EXPECT_GE(counters.reconnects, 1u);
            ExpectAlternatingEndingConnected(Events());
        } else {
            // Without a reconnect nothing may come twice.
            EXPECT_EQ(ArrivedNumbers(subscriber.Messages()).size(), c.records);
            EXPECT_TRUE(Events().empty());
        }
        publisher.reset();
        spool.reset();
    }
}

TEST_F(PublishingTest, ARestartedPublisherSendsWhatTheSpoolHeldBeforeAnythingNew) {
    ASSERT_TRUE(broker.Start());
    TestSubscriber subscriber(broker, std::string(kPrefix) + "/#", "qiro7-test-subscriber");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    broker.Stop();
    spool = OpenSpool();
    {
        auto first = MakePublisher(*spool, Options(broker));
        EXPECT_EQ(first->Start(1s).outcome, MqttStartOutcome::Unreachable);
        Append(1, 100);
        EXPECT_FALSE(first->Close(0ms));
    }
    spool->Close();
    spool.reset();
    ASSERT_TRUE(broker.Start());
    spool = OpenSpool();
    auto second = MakePublisher(*spool, Options(broker));
    EXPECT_EQ(second->Start(5s).outcome, MqttStartOutcome::Connected);
    Append(101, 150);
    EXPECT_EQ(WaitForAll(subscriber, 150), "");
    EXPECT_TRUE(second->Close(10s));
}

// Records in flight when the broker dies, unread, reach it once more after the reconnect, and
// only once: the library's repeat of them and none from the spool besides.
TEST_F(PublishingTest, WhatWasInFlightWhenTheBrokerDiedArrivesOnceAfterTheReconnect) {
    ASSERT_TRUE(broker.Start());
    TestSubscriber subscriber(broker, std::string(kPrefix) + "/#", "qiro7-test-subscriber");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    spool = OpenSpool();
    auto options = Options(broker);
    options.retryMin = 200ms;
    options.retryMax = 200ms;
    auto publisher = MakePublisher(*spool, options);
    ASSERT_EQ(publisher->Start(5s).outcome, MqttStartOutcome::Connected);
    Append(1, 50);
    ASSERT_EQ(WaitForAll(subscriber, 50), "");
    // The stop saves the subscriber's session; the kill below goes back to that state.
    broker.Stop();
    ASSERT_TRUE(broker.Start());
    Append(51, 100);
    ASSERT_EQ(WaitForAll(subscriber, 100), "");
    ASSERT_TRUE(
        subscriber.WaitFor([&](const auto&) { return publisher->Counters().spooled == 0; }, 10s));

    broker.Freeze();
    Append(101, 400);
    std::this_thread::sleep_for(500ms);  // the publisher fills its window, unconfirmed
    broker.Kill();
    ASSERT_TRUE(broker.Start());
    EXPECT_EQ(WaitForAll(subscriber, 400), "");
    const std::vector<std::uint64_t> numbers = ArrivedNumbers(subscriber.Messages());
    EXPECT_EQ(
        std::count_if(numbers.begin(), numbers.end(), [](std::uint64_t n) { return n > 100; }),
        300);
    EXPECT_TRUE(publisher->Close(10s));
    EXPECT_GE(publisher->Counters().reconnects, 2u);
}

TEST_F(PublishingTest, RetainedMessagesStayOnTheBrokerAndCloseLeavesTheStatusOffline) {
    ASSERT_TRUE(broker.Start());
    spool = OpenSpool();
    auto publisher = MakePublisher(*spool, Options(broker));
    publisher->SetRetained(std::string(kPrefix) + "/info", "{\"serial\":\"70412318\"}");
    publisher->SetRetained(StatusTopicOf(kPrefix), "waiting");
    ASSERT_EQ(publisher->Start(5s).outcome, MqttStartOutcome::Connected);
    publisher->SetRetained(StatusTopicOf(kPrefix), "online");
    Append(1, 10);
    EXPECT_TRUE(publisher->Close(10s));

    // A subscriber that comes later gets the latest of each, as retained messages.
    TestSubscriber later(broker, std::string(kPrefix) + "/#", "qiro7-test-later");
    ASSERT_TRUE(later.WaitUntilSubscribed());
    std::vector<ReceivedMessage> retained;
    for (const ReceivedMessage& message : later.Messages()) {
        if (message.retained) {
            retained.push_back(message);
        }
    }
    ASSERT_EQ(retained.size(), 2u);
    std::sort(retained.begin(), retained.end(),
              [](const auto& a, const auto& b) { return a.topic < b.topic; });
    EXPECT_EQ(retained[0].topic, std::string(kPrefix) + "/info");
    EXPECT_EQ(retained[0].payload, "{\"serial\":\"70412318\"}");
    EXPECT_EQ(retained[1].topic, StatusTopicOf(kPrefix));
    EXPECT_EQ(retained[1].payload, "offline");
}

void UseRightLogin(MqttPublisherOptions& options, const TestBroker& broker) {
    options.password = TestBroker::kPassword;
    options.caFile = broker.CaFile();
    options.certificateFile = broker.ClientCertificate();
    options.keyFile = broker.ClientKey();
}

struct StartCase {
    const char* name;
    MqttProtocol protocol;
    void (*adjust)(MqttPublisherOptions& options, const TestBroker& broker);
    MqttStartOutcome expected;
    const char* messagePart;
};

TEST(PublisherStart, TellsFaultsAPersonMustFixFromOutagesAndPublishesNothingOnAFault) {
    std::string reason;
    if (!TestBroker::Available(true, reason)) {
        GTEST_SKIP() << reason;
    }
    const StartCase cases[] = {
        {"login and certificates right", MqttProtocol::V5, &UseRightLogin,
         MqttStartOutcome::Connected, "connected to localhost:"},
        {"wrong password", MqttProtocol::V5,
         [](MqttPublisherOptions& o, const TestBroker& b) {
             UseRightLogin(o, b);
             o.password = "wrong";
         },
         MqttStartOutcome::LoginRefused, "refused the login"},
        {"wrong password over MQTT 3.1.1", MqttProtocol::V311,
         [](MqttPublisherOptions& o, const TestBroker& b) {
             UseRightLogin(o, b);
             o.password = "wrong";
         },
         MqttStartOutcome::LoginRefused, "refused the login"},
        {"broker's certificate from another CA", MqttProtocol::V5,
         [](MqttPublisherOptions& o, const TestBroker& b) {
             UseRightLogin(o, b);
             o.caFile = b.UntrustedCaFile();
         },
         MqttStartOutcome::CertificateRejected, "does not verify"},
        {"client certificate from another CA", MqttProtocol::V5,
         [](MqttPublisherOptions& o, const TestBroker& b) {
             UseRightLogin(o, b);
             o.certificateFile = b.UntrustedClientCertificate();
             o.keyFile = b.Folder() + "/other-client.key";
         },
         MqttStartOutcome::CertificateRejected, "client certificate"},
        {"nothing listening", MqttProtocol::V5,
         [](MqttPublisherOptions& o, const TestBroker&) {
             o.broker.tls = false;
             o.broker.host = "127.0.0.1";
             o.broker.port = 1;
         },
         MqttStartOutcome::Unreachable, "127.0.0.1:1"},
        {"host name unknown", MqttProtocol::V5,
         [](MqttPublisherOptions& o, const TestBroker&) {
             o.broker.tls = false;
             o.broker.host = "no-such-broker.invalid";
         },
         MqttStartOutcome::UnknownHost, "no-such-broker.invalid"},
    };
    TestBroker broker(TestBroker::Kind::Tls);
    ASSERT_TRUE(broker.Start());
    TestSubscriber subscriber(broker, std::string(kPrefix) + "/#", "qiro7-test-watcher");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder caseFolder(c.name);
        SpoolOpenReport report;
        auto spool = Spool::Open(caseFolder.Sub("spool"), {}, report, reason);
        ASSERT_NE(spool, nullptr) << reason;
        spool->Append(DataTopic(), PayloadOf(1));
        MqttPublisherOptions options;
        ASSERT_TRUE(ParseBrokerUrl(broker.Url(kPrefix), options.broker, reason)) << reason;
        options.topicPrefix = kPrefix;
        options.clientId = std::string("qiro7-test-") + std::to_string(&c - cases);
        options.protocol = c.protocol;
        c.adjust(options, broker);
        MqttPublisher publisher(*spool, options);
        const MqttStartResult result = publisher.Start(5s);
        EXPECT_EQ(result.outcome, c.expected) << result.message;
        EXPECT_NE(result.message.find(c.messagePart), std::string::npos) << result.message;
        publisher.Close(result.outcome == MqttStartOutcome::Connected ? 10s : 0s);
    }
    // After a fresh probe has come through, anything published before it would have too.
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    std::size_t data = 0;
    for (const ReceivedMessage& message : subscriber.Messages()) {
        data += message.topic == DataTopic() ? 1 : 0;
    }
    EXPECT_EQ(data, 1u) << "only the connected case may publish its record";
}

#ifndef _WIN32
TEST_F(PublishingTest, TheBrokerSaysOfflineWhenThePublisherDiesWithoutClosing) {
    ASSERT_TRUE(broker.Start());
    TestSubscriber subscriber(broker, std::string(kPrefix) + "/#", "qiro7-test-status");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    const std::string output = folder.Sub("child.out");
    const std::string spoolFolder = folder.Sub("child-spool");
    const std::string url = broker.Url(kPrefix);
    std::vector<char*> argv = {const_cast<char*>(QIRO7_PUBLISHER_CHILD),
                               const_cast<char*>(url.c_str()),
                               const_cast<char*>(spoolFolder.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    auto statusIs = [](const std::string& payload) {
        return [payload](const std::vector<ReceivedMessage>& messages) {
            return !messages.empty() && messages.back().topic == StatusTopicOf(kPrefix) &&
                   messages.back().payload == payload;
        };
    };
    EXPECT_TRUE(subscriber.WaitFor(statusIs("online"), 10s));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(subscriber.WaitFor(statusIs("offline"), 10s));
}
#endif

}  // namespace
