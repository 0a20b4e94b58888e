#include "publish/MqttPublisher.h"

#include <utility>

#include "publish/MqttPublisherImpl.h"

std::string StatusTopicOf(const std::string& topicPrefix) {
    return topicPrefix.empty() ? "status" : topicPrefix + "/status";
}

MqttPublisher::MqttPublisher(Spool& spool, MqttPublisherOptions options,
                             ConnectionListener listener)
    : impl(MakeMqttPublisherImpl(spool, std::move(options), std::move(listener))) {}

MqttPublisher::~MqttPublisher() {
    impl->Close(std::chrono::milliseconds(0));
}

MqttStartResult MqttPublisher::Start(std::chrono::milliseconds timeout) {
    return impl->Start(timeout);
}

void MqttPublisher::SetRetained(const std::string& topic, const std::string& payload) {
    impl->SetRetained(topic, payload);
}

bool MqttPublisher::Close(std::chrono::milliseconds drainTimeout) {
    return impl->Close(drainTimeout);
}

MqttPublisherCounters MqttPublisher::Counters() const {
    return impl->Counters();
}
