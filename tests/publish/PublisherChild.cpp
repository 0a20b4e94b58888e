// A publisher in a process of its own, for the test that kills it: connects to the broker URL
// given (argument 1) with a spool in the folder given (argument 2), sets its status "online",
// says "started" on standard output and waits to be killed.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "publish/MqttPublisher.h"
#include "publish/Spool.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BROKER-URL SPOOL-FOLDER\n", argv[0]);
        return 2;
    }
    MqttPublisherOptions options;
    std::string reason;
    SpoolOpenReport report;
    std::unique_ptr<Spool> spool = Spool::Open(argv[2], {}, report, reason);
    if (spool == nullptr || !ParseBrokerUrl(argv[1], options.broker, reason)) {
        std::fprintf(stderr, "%s\n", reason.c_str());
        return 1;
    }
    options.topicPrefix = options.broker.topicPrefix;
    options.clientId = "qiro7-test-child";
    MqttPublisher publisher(*spool, options);
    publisher.SetRetained(StatusTopicOf(options.topicPrefix), "online");
    const MqttStartResult result = publisher.Start(std::chrono::seconds(5));
    std::printf("%s\n", result.message.c_str());
    std::fflush(stdout);
    while (true) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}
