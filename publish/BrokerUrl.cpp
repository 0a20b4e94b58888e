#include "publish/BrokerUrl.h"

#include <charconv>

namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// %XX escapes, so that a user name may hold '@' or ':' (%40, %3A).
bool PercentDecode(std::string_view text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return true;
}

bool ParseUserInfo(std::string_view userInfo, BrokerUrl& url, std::string& reason) {
    if (userInfo.find(':') != std::string_view::npos) {
        reason =
            "the broker URL holds a password, which other users could read in the process "
            "list: give the password in a file or in the environment instead";
        return false;
    }
    if (userInfo.empty() || !PercentDecode(userInfo, url.userName)) {
        reason = "the user name before '@' in the broker URL is empty or badly escaped";
        return false;
    }
    return true;
}

bool IsHostNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool ParsePort(std::string_view text, BrokerUrl& url, std::string& reason) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 65535) {
        reason = "the port in the broker URL must be a number from 1 to 65535";
        return false;
    }
    url.port = static_cast<std::uint16_t>(value);
    return true;
}

// host, host:port, [v6], [v6]:port
bool ParseHostAndPort(std::string_view text, BrokerUrl& url, std::string& reason) {
    std::string_view portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            reason = "the IPv6 address in the broker URL lacks its closing ']' or is empty";
            return false;
        }
        url.host = std::string(text.substr(1, close - 1));
        for (char c : url.host) {
            if (HexValue(c) < 0 && c != ':' && c != '.') {
                reason = "the IPv6 address in the broker URL holds a character it cannot hold";
                return false;
            }
        }
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            reason = "only ':port' may follow the IPv6 address in the broker URL";
            return false;
        }
        hasPort = !rest.empty();
        portText = hasPort ? rest.substr(1) : rest;
    } else {
        const std::size_t colon = text.find(':');
        url.host = std::string(text.substr(0, colon));
        hasPort = colon != std::string_view::npos;
        portText = hasPort ? text.substr(colon + 1) : std::string_view();
        if (url.host.empty()) {
            reason = "the broker URL names no host";
            return false;
        }
        for (char c : url.host) {
            if (!IsHostNameCharacter(c)) {
                reason = "the host name in the broker URL holds a character it cannot hold";
                return false;
            }
        }
    }
    if (hasPort) {
        return ParsePort(portText, url, reason);
    }
    url.port = url.tls ? kMqttsDefaultPort : kMqttDefaultPort;
    return true;
}

}  // namespace

bool IsValidTopicPrefix(std::string_view prefix, std::string& reason) {
    if (prefix.empty()) {
        return true;
    }
    if (prefix.find_first_of("+#") != std::string_view::npos) {
        reason = "the topic prefix must not hold '+' or '#'";
        return false;
    }
    if (prefix.front() == '$') {
        reason = "the topic prefix must not begin with '$' (the broker's own topics)";
        return false;
    }
    if (prefix.front() == '/' || prefix.back() == '/' ||
        prefix.find("//") != std::string_view::npos) {
        reason =
            "the topic prefix must not have an empty level (a leading, trailing or double '/')";
        return false;
    }
    return true;
}

bool ParseBrokerUrl(std::string_view text, BrokerUrl& url, std::string& reason) {
    url = BrokerUrl();
    if (text.starts_with(kTlsScheme)) {
        url.tls = true;
        text.remove_prefix(kTlsScheme.size());
    } else if (text.starts_with(kPlainScheme)) {
        text.remove_prefix(kPlainScheme.size());
    } else {
        reason = "the broker URL must begin with mqtt:// or mqtts://";
        return false;
    }
    const std::size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    const std::string_view path =
        slash == std::string_view::npos ? std::string_view() : text.substr(slash + 1);
    // The last '@', so that a password holding '@' is still taken for a password.
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        if (!ParseUserInfo(authority.substr(0, at), url, reason)) {
            return false;
        }
        authority.remove_prefix(at + 1);
    }
    if (!ParseHostAndPort(authority, url, reason)) {
        return false;
    }
    if (path.find('?') != std::string_view::npos) {
        reason = "the broker URL must not have a query ('?')";
        return false;
    }
    if (!IsValidTopicPrefix(path, reason)) {
        return false;
    }
    url.topicPrefix = std::string(path);
    return true;
}

std::string HostAndPort(const BrokerUrl& url) {
    const bool ipv6 = url.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}
