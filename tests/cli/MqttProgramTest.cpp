// qiro7-cli measure --mqtt against a real broker, checked by an independent subscriber against
// the CSV file the same run writes beside: every sample written arrives, in sequence order
// within its run, whatever the broker does and also when qiro7-cli is killed and started again.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "Broker.h"
#include "tests/common/ChildProcess.h"

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kCommandLimit{60000};
constexpr const char* kPrefix = "plant/line3";

// A sample as the CSV file with timestamps has it: time, then the instrument's three texts.
using SampleKey = std::tuple<std::string, std::string, std::string, std::string>;

std::vector<SampleKey> CsvSamples(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<SampleKey> samples;
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> fields;
        std::stringstream text(line.substr(0, line.find('\r')));
        for (std::string field; std::getline(text, field, ',');) {
            fields.push_back(field);
        }
        if (fields.size() == 4) {
            samples.emplace_back(fields[0], fields[1], fields[2], fields[3]);
        }
    }
    return samples;
}

struct Delivery {
    std::set<SampleKey> arrived;
    std::size_t messages = 0;
    bool inOrder = true;  // within each run, every sequence number first came after those before
};

Delivery Delivered(const std::vector<ReceivedMessage>& messages) {
    Delivery delivery;
    std::map<std::string, std::uint64_t> nextOfRun;
    for (const ReceivedMessage& message : messages) {
        if (message.topic != std::string(kPrefix) + "/sample") {
            continue;
        }
        const nlohmann::json sample = nlohmann::json::parse(message.payload);
        ++delivery.messages;
        delivery.arrived.emplace(sample["time"], sample["irradiance"]["text"],
                                 sample["integralIrradiance"]["text"],
                                 sample["peakIrradiance"]["text"]);
        std::uint64_t& next = nextOfRun.try_emplace(sample["runId"], 1).first->second;
        const std::uint64_t sequence = sample["sequence"];
        delivery.inOrder = delivery.inOrder && sequence <= next;
        next = sequence == next ? next + 1 : next;
    }
    return delivery;
}

class CliMqtt : public ::testing::Test {
public:
    void SetUp() override {
        std::string reason;
        if (!TestBroker::Available(true, reason)) {
            GTEST_SKIP() << reason;
        }
        folder = broker.Folder() + "/run";
        std::filesystem::create_directories(folder);
    }

    std::vector<std::string> Measure(const TestBroker& target, std::vector<std::string> more) {
        std::vector<std::string> argv = {
            QIRO7_CLI, "measure",  "--demo", "--interval",        "0",       "--timestamps",   "-o",
            Csv(),     "--append", "--mqtt", target.Url(kPrefix), "--spool", folder + "/spool"};
        argv.insert(argv.end(), more.begin(), more.end());
        return argv;
    }
    std::string Csv() const { return folder + "/samples.csv"; }
    std::string Log() const { return folder + "/errors.log"; }
    std::string Errors() const {
        std::ifstream file(Log());
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    // Runs the command to its end, its messages into the log.
    int Run(const std::vector<std::string>& argv) {
        ChildProcess program;
        if (!program.Start(argv, CurrentEnvironment(), Log())) {
            return -1;
        }
        WaitUntil([&] { return !program.Running(); }, kCommandLimit);
        const std::string ending = program.Ending();
        return ending.starts_with("exit ") ? std::stoi(ending.substr(5)) : -1;
    }

    // Every sample of the CSV file arrives, in order within its run; with `repeatsAllowed`
    // false each exactly once.
    void ExpectEverySampleDelivered(TestSubscriber& subscriber, bool repeatsAllowed) {
        const std::vector<SampleKey> written = CsvSamples(Csv());
        ASSERT_FALSE(written.empty());
        EXPECT_TRUE(subscriber.WaitFor(
            [&](const std::vector<ReceivedMessage>& messages) {
                const Delivery delivery = Delivered(messages);
                return std::all_of(written.begin(), written.end(), [&](const SampleKey& key) {
                    return delivery.arrived.count(key) > 0;
                });
            },
            30s))
            << written.size() << " written, " << Delivered(subscriber.Messages()).arrived.size()
            << " arrived\n"
            << Errors();
        const Delivery delivery = Delivered(subscriber.Messages());
        EXPECT_TRUE(delivery.inOrder);
        if (!repeatsAllowed) {
            EXPECT_EQ(delivery.messages, written.size());
        }
    }

    TestBroker broker;
    std::string folder;
    std::string probeOutput;
};

struct OutageCase {
    const char* name;
    // Starts the broker's part of the case and qiro7-cli; returns its exit status.
    int (*run)(CliMqtt& test, TestBroker& target);
    bool repeatsAllowed;
};

// The subscriber's session is made while the broker is up; the broker keeps its messages while
// the subscriber is away, as a historian's would be.
TEST_F(CliMqtt, EverySampleWrittenArrivesWhateverTheBrokerDoes) {
    const OutageCase cases[] = {
        {"broker up all along",
         [](CliMqtt& test, TestBroker& target) {
             return test.Run(test.Measure(target, {"--demo-fast-clock", "--count", "500"}));
         },
         false},
        {"broker down at the start and started 5 s later",
         [](CliMqtt& test, TestBroker& target) {
             target.Stop();
             std::thread later([&target] {
                 std::this_thread::sleep_for(5s);
                 target.Start();
             });
             const int status = test.Run(test.Measure(target, {"--duration", "8s"}));
             later.join();
             return status;
         },
         true},
        {"broker restarted mid-run",
         [](CliMqtt& test, TestBroker& target) {
             std::thread restart([&target] {
                 std::this_thread::sleep_for(2s);
                 target.Stop();
                 std::this_thread::sleep_for(1s);
                 target.Start();
             });
             const int status = test.Run(test.Measure(target, {"--duration", "5s"}));
             restart.join();
             return status;
         },
         true},
        // 60 s of the instrument's readings, on its fast clock, while the broker is away: they
        // wait in the spool, and the next start sends them before its own.
        {"broker away for 60 s of samples, then a new start",
         [](CliMqtt& test, TestBroker& target) {
             target.Stop();
             const int away =
                 test.Run(test.Measure(target, {"--demo-fast-clock", "--count", "600"}));
             target.Start();
             const int back = test.Run(test.Measure(target, {"--demo-fast-clock", "--count", "5"}));
             return away != 0 ? away : back;
         },
         true},
        {"qiro7-cli killed with kill -9 and started again",
         [](CliMqtt& test, TestBroker& target) {
             ChildProcess first;
             first.Start(test.Measure(target, {"--count", "0"}), CurrentEnvironment(), test.Log());
             WaitUntil([&] { return CsvSamples(test.Csv()).size() >= 10; }, kCommandLimit);
             first.Signal(SIGKILL);
             WaitUntil([&] { return !first.Running(); }, kCommandLimit);
             return test.Run(test.Measure(target, {"--demo-fast-clock", "--count", "5"}));
         },
         true},
    };
    for (const OutageCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestBroker target;
        folder = target.Folder() + "/run";
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(target.Start());
        TestSubscriber subscriber(target, std::string(kPrefix) + "/#", "historian");
        ASSERT_TRUE(subscriber.WaitUntilSubscribed());
        EXPECT_EQ(c.run(*this, target), 0) << Errors();
        if (!target.IsRunning()) {
            ASSERT_TRUE(target.Start());
        }
        ExpectEverySampleDelivered(subscriber, c.repeatsAllowed);
    }
}

// The README's consumer, run as a user would run it: every sample of the run once, as written.
TEST_F(CliMqtt, TheReadmesConsumerWritesEverySampleOnce) {
    const std::string python = "/usr/bin/python3";
    if (RunCommand({python, "-c", "import paho.mqtt.client"}, CurrentEnvironment(), probeOutput,
                   10000ms) != 0) {
        GTEST_SKIP() << "Debian's python3-paho-mqtt is not installed";
    }
    ASSERT_TRUE(broker.Start());
    const std::string consumed = folder + "/consumed.csv";
    ChildProcess consumer;
    ASSERT_TRUE(
        consumer.Start({python, QIRO7_CONSUMER, "127.0.0.1", std::to_string(broker.PlainPort()),
                        kPrefix, consumed, "--count", "301"},
                       CurrentEnvironment(), folder + "/consumer.log"));
    // A sample of a run of its own tells when the consumer listens.
    const std::string probe =
        R"({"runId":"probe","sequence":1,"time":"probe","serialNumber":"probe",)"
        R"("irradiance":{"text":"p"},"integralIrradiance":{"text":"p"},)"
        R"("peakIrradiance":{"text":"p"}})";
    EXPECT_TRUE(WaitUntil(
        [&] {
            RunCommand(
                {"mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(broker.PlainPort()), "-q",
                 "1", "-t", std::string(kPrefix) + "/sample", "-m", probe},
                CurrentEnvironment(), probeOutput, 5000ms);
            return std::ifstream(consumed).peek() != EOF;
        },
        kCommandLimit));
    EXPECT_EQ(Run(Measure(broker, {"--demo-fast-clock", "--count", "300"})), 0) << Errors();
    EXPECT_TRUE(WaitUntil([&] { return !consumer.Running(); }, kCommandLimit));
    std::set<SampleKey> fromBroker;
    std::size_t lines = 0;
    std::ifstream file(consumed);
    for (std::string line; std::getline(file, line);) {
        std::vector<std::string> fields;
        std::stringstream text(line.substr(0, line.find('\r')));
        for (std::string field; std::getline(text, field, ',');) {
            fields.push_back(field);
        }
        ASSERT_EQ(fields.size(), 7u) << line;
        if (fields[2] != "probe") {
            ++lines;
            fromBroker.emplace(fields[0], fields[4], fields[5], fields[6]);
        }
    }
    const std::vector<SampleKey> written = CsvSamples(Csv());
    EXPECT_EQ(lines, written.size());
    EXPECT_EQ(fromBroker, std::set<SampleKey>(written.begin(), written.end()));
}

// Over TLS with a password: faults a person must fix end the command before the run begins and
// nothing is published; with the right login and CA every sample arrives.
TEST_F(CliMqtt, OverTlsALoginOrCertificateTheBrokerRefusesStopsBeforeTheRun) {
    TestBroker secure(TestBroker::Kind::Tls);
    ASSERT_TRUE(secure.Start());
    TestSubscriber subscriber(secure, std::string(kPrefix) + "/#", "watcher");
    ASSERT_TRUE(subscriber.WaitUntilSubscribed());
    const std::string password = folder + "/password";
    const struct {
        const char* name;
        std::string passwordText;
        std::string caFile;
        int status;
    } cases[] = {
        {"wrong password", "not-the-password\n", secure.CaFile(), 10},
        {"untrusted certificate", std::string(TestBroker::kPassword) + "\n",
         secure.UntrustedCaFile(), 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(password) << c.passwordText;
        const int status =
            Run(Measure(secure, {"--demo-fast-clock", "--count", "5", "--mqtt-password-file",
                                 password, "--mqtt-ca", c.caFile, "--mqtt-cert",
                                 secure.ClientCertificate(), "--mqtt-key", secure.ClientKey()}));
        EXPECT_EQ(status, c.status) << Errors();
        EXPECT_TRUE(CsvSamples(Csv()).empty()) << "the run began";
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(Delivered(subscriber.Messages()).messages, 0u);
    for (const ReceivedMessage& message : subscriber.Messages()) {
        EXPECT_EQ(message.topic.find(kPrefix), std::string::npos) << message.topic;
    }

    std::ofstream(password) << TestBroker::kPassword << "\n";
    EXPECT_EQ(Run(Measure(secure, {"--demo-fast-clock", "--count", "5", "--mqtt-password-file",
                                   password, "--mqtt-ca", secure.CaFile(), "--mqtt-cert",
                                   secure.ClientCertificate(), "--mqtt-key", secure.ClientKey()})),
              0)
        << Errors();
    ExpectEverySampleDelivered(subscriber, false);
}

}  // namespace
