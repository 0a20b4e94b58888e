// The broker's address as the operator gives it: mqtt://[user@]host[:port][/prefix] or
// mqtts://... for TLS. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct BrokerUrl {
    bool tls = false;         // mqtts://
    std::string userName;     // percent-decoded; empty when the URL names none
    std::string host;         // a name or an address; an IPv6 literal without its brackets
    std::uint16_t port = 0;   // 1883 for mqtt://, 8883 for mqtts:// unless the URL gives one
    std::string topicPrefix;  // the path without its leading '/'; empty: the caller's default
};

inline constexpr std::uint16_t kMqttDefaultPort = 1883;
inline constexpr std::uint16_t kMqttsDefaultPort = 8883;

// Parses text into url. False with the reason in words (url then unspecified) for anything
// else, including a password in the URL: other users could read it in the process list.
bool ParseBrokerUrl(std::string_view text, BrokerUrl& url, std::string& reason);

// True when prefix can head topics: no '+' or '#', no empty level, not starting with '$'
// (the broker's own topics). Empty is allowed. False with the reason otherwise.
bool IsValidTopicPrefix(std::string_view prefix, std::string& reason);

// "host:port", an IPv6 literal in brackets: for messages and for the MQTT library's address.
std::string HostAndPort(const BrokerUrl& url);
