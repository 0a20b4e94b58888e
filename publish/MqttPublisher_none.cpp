// MqttPublisher in a build without an MQTT client library: it refuses to start, saying so, and
// leaves the spool as it is for a build that has one.
#include "publish/MqttPublisherImpl.h"
#include "publish/Spool.h"

namespace {

class UnavailablePublisher final : public MqttPublisher::Impl {
public:
    explicit UnavailablePublisher(Spool& spoolToKeep) : spool(spoolToKeep) {}

    MqttStartResult Start(std::chrono::milliseconds) override {
        return {MqttStartOutcome::ClientUnavailable,
                "this build of the program has no MQTT client, so it cannot publish"};
    }
    void SetRetained(const std::string&, const std::string&) override {}
    bool Close(std::chrono::milliseconds) override { return spool.Counters().pendingRecords == 0; }
    MqttPublisherCounters Counters() const override {
        const SpoolCounters spooled = spool.Counters();
        MqttPublisherCounters counters;
        counters.spooled = spooled.pendingRecords;
        counters.droppedByBound = spooled.droppedUndelivered;
        return counters;
    }

private:
    Spool& spool;
};

}  // namespace

std::unique_ptr<MqttPublisher::Impl> MakeMqttPublisherImpl(Spool& spool, MqttPublisherOptions,
                                                           MqttPublisher::ConnectionListener) {
    return std::make_unique<UnavailablePublisher>(spool);
}
