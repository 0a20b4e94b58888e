// What publishing costs in time, against a mosquitto of the benchmark's own on this machine,
// each figure the median of five runs:
// - drain: an hour of samples at 10 Hz (36,000 records of 300 bytes) spooled while the broker
//   was away, delivered once it is back: records/s from the reconnection until the broker has
//   confirmed all, and until the subscriber has them all;
// - latency: records appended at 10 Hz, from Append to their arrival at a subscriber: p50, p99
//   and the largest.
// Prints its figures and asserts nothing. Arguments: [latency seconds per run, default 20].
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Broker.h"
#include "publish/MqttPublisher.h"
#include "publish/Spool.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr std::uint64_t kDrainRecords = 36000;
constexpr std::size_t kPayloadBytes = 300;
constexpr const char* kPrefix = "qiro7bench";

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A sample-sized payload that carries the Unix time of its append, for the latency.
std::string Payload(std::uint64_t n, double appendedAt) {
    char head[96];
    std::snprintf(head, sizeof(head), "{\"n\":%llu,\"t\":%.9f,\"pad\":\"",
                  static_cast<unsigned long long>(n), appendedAt);
    std::string payload = head;
    payload.append(kPayloadBytes - payload.size() - 2, 'x');
    return payload + "\"}";
}

struct Setup {
    TestBroker broker;
    std::unique_ptr<TestSubscriber> subscriber;  // made once the broker runs
    std::string spoolFolder = broker.Folder() + "/spool";
    std::unique_ptr<Spool> spool;
    std::unique_ptr<MqttPublisher> publisher;
    std::atomic<bool> connected{false};
    std::atomic<double> connectedAt{0};  // Unix seconds
    std::atomic<Clock::time_point> connectedSteady{Clock::time_point()};

    bool Begin() {
        if (broker.Start()) {
            subscriber = std::make_unique<TestSubscriber>(broker, std::string(kPrefix) + "/#",
                                                          "qiro7-bench-subscriber");
        }
        if (subscriber == nullptr || !subscriber->WaitUntilSubscribed()) {
            std::fprintf(stderr, "the broker or its subscriber did not start:\n%s\n",
                         broker.LogTail().c_str());
            return false;
        }
        SpoolOpenReport report;
        std::string reason;
        SpoolOptions spoolOptions;
        spoolOptions.maxBytes = 1ull << 30;
        spool = Spool::Open(spoolFolder, spoolOptions, report, reason);
        MqttPublisherOptions options;
        if (spool == nullptr || !ParseBrokerUrl(broker.Url(kPrefix), options.broker, reason)) {
            std::fprintf(stderr, "%s\n", reason.c_str());
            return false;
        }
        options.topicPrefix = kPrefix;
        options.clientId = "qiro7-bench-publisher";
        options.retryMin = 200ms;
        options.retryMax = 200ms;
        publisher = std::make_unique<MqttPublisher>(*spool, options,
                                                    [this](const MqttConnectionEvent& event) {
                                                        if (event.connected) {
                                                            connectedSteady = Clock::now();
                                                            connectedAt = UnixNow();
                                                        }
                                                        connected = event.connected;
                                                    });
        const MqttStartResult started = publisher->Start(5s);
        if (started.outcome != MqttStartOutcome::Connected) {
            std::fprintf(stderr, "%s\n", started.message.c_str());
            return false;
        }
        return true;
    }
};

std::size_t Arrived(const TestSubscriber& subscriber, double* lastArrival = nullptr) {
    std::size_t count = 0;
    for (const ReceivedMessage& message : subscriber.Messages()) {
        if (message.topic == std::string(kPrefix) + "/sample") {
            ++count;
            if (lastArrival != nullptr) {
                *lastArrival = std::max(*lastArrival, message.arrival);
            }
        }
    }
    return count;
}

bool DrainRun(double& confirmedRate, double& arrivedRate) {
    Setup setup;
    if (!setup.Begin()) {
        return false;
    }
    setup.broker.Stop();
    while (setup.connected) {
        std::this_thread::sleep_for(10ms);
    }
    const std::string topic = std::string(kPrefix) + "/sample";
    for (std::uint64_t n = 1; n <= kDrainRecords; ++n) {
        setup.spool->Append(topic, Payload(n, 0));
    }
    setup.broker.Start();
    const auto deadline = Clock::now() + 120s;
    while (setup.spool->Counters().pendingRecords > 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    const double confirmedSeconds =
        std::chrono::duration<double>(Clock::now() - setup.connectedSteady.load()).count();
    double lastArrival = 0;
    while (Arrived(*setup.subscriber) < kDrainRecords && Clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    if (Arrived(*setup.subscriber, &lastArrival) < kDrainRecords) {
        std::fprintf(stderr,
                     "drain: %zu of %llu records arrived within two minutes, %llu still spooled\n",
                     Arrived(*setup.subscriber), static_cast<unsigned long long>(kDrainRecords),
                     static_cast<unsigned long long>(setup.spool->Counters().pendingRecords));
        return false;
    }
    confirmedRate = kDrainRecords / confirmedSeconds;
    arrivedRate = kDrainRecords / (lastArrival - setup.connectedAt);
    setup.publisher->Close(5s);
    return true;
}

bool LatencyRun(std::chrono::seconds duration, double& p50, double& p99, double& largest) {
    Setup setup;
    if (!setup.Begin()) {
        return false;
    }
    const std::string topic = std::string(kPrefix) + "/sample";
    const std::uint64_t count = static_cast<std::uint64_t>(duration.count()) * 10;
    auto next = Clock::now();
    for (std::uint64_t n = 1; n <= count; ++n) {
        std::this_thread::sleep_until(next);
        next += 100ms;
        setup.spool->Append(topic, Payload(n, UnixNow()));
    }
    const auto deadline = Clock::now() + 10s;
    while (Arrived(*setup.subscriber) < count && Clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    std::vector<double> latencies;
    for (const ReceivedMessage& message : setup.subscriber->Messages()) {
        const std::size_t at = message.payload.find("\"t\":");
        if (message.topic == topic && at != std::string::npos) {
            latencies.push_back((message.arrival - std::stod(message.payload.substr(at + 4))) *
                                1000.0);
        }
    }
    if (latencies.size() < count) {
        std::fprintf(stderr, "latency: %zu of %llu records arrived\n", latencies.size(),
                     static_cast<unsigned long long>(count));
        return false;
    }
    std::sort(latencies.begin(), latencies.end());
    p50 = latencies[latencies.size() / 2];
    p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    largest = latencies.back();
    setup.publisher->Close(5s);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string reason;
    if (!TestBroker::Available(false, reason)) {
        std::printf("skipped: %s\n", reason.c_str());
        return 0;
    }
    const std::chrono::seconds latencySeconds(argc > 1 ? std::atoi(argv[1]) : 20);
    std::vector<double> confirmed, arrived, p50s, p99s, largest;
    for (int run = 0; run < kRuns; ++run) {
        double confirmedRate = 0, arrivedRate = 0;
        if (!DrainRun(confirmedRate, arrivedRate)) {
            return 1;
        }
        confirmed.push_back(confirmedRate);
        arrived.push_back(arrivedRate);
        std::printf(
            "drain run %d: %.0f records/s confirmed by the broker, %.0f records/s at the "
            "subscriber\n",
            run + 1, confirmedRate, arrivedRate);
        std::fflush(stdout);
    }
    for (int run = 0; run < kRuns; ++run) {
        double p50 = 0, p99 = 0, most = 0;
        if (!LatencyRun(latencySeconds, p50, p99, most)) {
            return 1;
        }
        p50s.push_back(p50);
        p99s.push_back(p99);
        largest.push_back(most);
        std::printf("latency run %d (%lld s at 10 Hz): p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                    run + 1, static_cast<long long>(latencySeconds.count()), p50, p99, most);
        std::fflush(stdout);
    }
    std::printf(
        "drain of %llu records of %zu bytes, median of %d: %.0f records/s confirmed, "
        "%.0f records/s at the subscriber\n",
        static_cast<unsigned long long>(kDrainRecords), kPayloadBytes, kRuns, Median(confirmed),
        Median(arrived));
    std::printf(
        "latency from Append to the subscriber at 10 Hz, median of %d: p50 %.2f ms, "
        "p99 %.2f ms, max %.2f ms\n",
        kRuns, Median(p50s), Median(p99s), Median(largest));
    return 0;
}
