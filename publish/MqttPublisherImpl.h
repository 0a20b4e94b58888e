// The part of MqttPublisher that an MQTT client library provides; one per build.
#pragma once

#include <memory>

#include "publish/MqttPublisher.h"

class MqttPublisher::Impl {
public:
    virtual ~Impl() = default;
    virtual MqttStartResult Start(std::chrono::milliseconds timeout) = 0;
    virtual void SetRetained(const std::string& topic, const std::string& payload) = 0;
    virtual bool Close(std::chrono::milliseconds drainTimeout) = 0;
    virtual MqttPublisherCounters Counters() const = 0;
};

std::unique_ptr<MqttPublisher::Impl> MakeMqttPublisherImpl(
    Spool& spool, MqttPublisherOptions options, MqttPublisher::ConnectionListener listener);
