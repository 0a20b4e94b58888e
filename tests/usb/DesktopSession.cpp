#include "tests/usb/DesktopSession.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <unistd.h>

#include <sstream>

namespace {

constexpr std::chrono::milliseconds kStartLimit{10000};
constexpr std::chrono::milliseconds kCommandLimit{5000};
constexpr int kCallTimeoutMs = 3000;
constexpr int kDepthLimit = 16;
constexpr std::size_t kObjectLimit = 4000;

constexpr char kAccessible[] = "org.a11y.atspi.Accessible";

// A pipe whose write end a child inherits to report something on (a display number, a bus
// address); the read end stays with us.
class ReportPipe {
public:
    ReportPipe() {
        if (pipe(ends) != 0) {
            ends[0] = ends[1] = -1;
        } else {
            fcntl(ends[0], F_SETFD, FD_CLOEXEC);
        }
    }
    ~ReportPipe() {
        CloseWriteEnd();
        if (ends[0] >= 0) {
            close(ends[0]);
        }
    }
    ReportPipe(const ReportPipe&) = delete;
    ReportPipe& operator=(const ReportPipe&) = delete;

    bool Valid() const { return ends[0] >= 0; }
    std::string WriteEndNumber() const { return std::to_string(ends[1]); }
    void CloseWriteEnd() {
        if (ends[1] >= 0) {
            close(ends[1]);
            ends[1] = -1;
        }
    }
    // Closes our copy of the write end first, so a child that dies reports end of file.
    bool ReadLine(std::string& line) {
        CloseWriteEnd();
        return ReadLineFrom(ends[0], line, kStartLimit);
    }

private:
    int ends[2] = {-1, -1};
};

GDBusConnection* ConnectToBus(const std::string& address) {
    const auto flags =
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    return g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr,
                                                  nullptr);
}

// Null on any failure; the caller unrefs the reply.
GVariant* Call(GDBusConnection* bus, const std::string& destination, const std::string& path,
               const char* interface, const char* method, GVariant* parameters,
               const char* replyType) {
    return g_dbus_connection_call_sync(bus, destination.c_str(), path.c_str(), interface, method,
                                       parameters, G_VARIANT_TYPE(replyType),
                                       G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
}

std::string TextReply(GVariant* reply) {
    if (reply == nullptr) {
        return {};
    }
    const gchar* text = nullptr;
    g_variant_get(reply, "(&s)", &text);
    std::string result = text != nullptr ? text : "";
    g_variant_unref(reply);
    return result;
}

struct ObjectReference {
    std::string bus;
    std::string path;
};

std::vector<ObjectReference> Children(GDBusConnection* bus, const ObjectReference& object) {
    std::vector<ObjectReference> children;
    GVariant* reply =
        Call(bus, object.bus, object.path, kAccessible, "GetChildren", nullptr, "(a(so))");
    if (reply == nullptr) {
        return children;
    }
    GVariantIter* iterator = nullptr;
    g_variant_get(reply, "(a(so))", &iterator);
    const gchar* busName = nullptr;
    const gchar* path = nullptr;
    while (g_variant_iter_loop(iterator, "(&s&o)", &busName, &path)) {
        children.push_back({busName, path});
    }
    g_variant_iter_free(iterator);
    g_variant_unref(reply);
    return children;
}

std::string NameOf(GDBusConnection* bus, const ObjectReference& object) {
    GVariant* reply = Call(bus, object.bus, object.path, "org.freedesktop.DBus.Properties", "Get",
                           g_variant_new("(ss)", kAccessible, "Name"), "(v)");
    if (reply == nullptr) {
        return {};
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    std::string name = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)
                           ? g_variant_get_string(value, nullptr)
                           : "";
    g_variant_unref(value);
    g_variant_unref(reply);
    return name;
}

AccessibleNode Describe(GDBusConnection* bus, const ObjectReference& object) {
    AccessibleNode node;
    node.role =
        TextReply(Call(bus, object.bus, object.path, kAccessible, "GetRoleName", nullptr, "(s)"));
    node.name = NameOf(bus, object);
    if (node.role == "text") {
        node.text = TextReply(Call(bus, object.bus, object.path, "org.a11y.atspi.Text", "GetText",
                                   g_variant_new("(ii)", 0, -1), "(s)"));
    }
    return node;
}

void Walk(GDBusConnection* bus, const ObjectReference& object, int depth,
          std::vector<AccessibleNode>& nodes) {
    if (depth > kDepthLimit) {
        return;
    }
    for (const ObjectReference& child : Children(bus, object)) {
        if (nodes.size() >= kObjectLimit) {
            return;
        }
        nodes.push_back(Describe(bus, child));
        Walk(bus, child, depth + 1, nodes);
    }
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

struct DesktopSession::Accessibility {
    ~Accessibility() {
        for (GDBusConnection* connection : {bus, session}) {
            if (connection != nullptr) {
                g_dbus_connection_close_sync(connection, nullptr, nullptr);
                g_object_unref(connection);
            }
        }
    }
    GDBusConnection* session = nullptr;
    GDBusConnection* bus = nullptr;  // the accessibility bus
};

DesktopSession::DesktopSession(std::string folder) : runtimeFolder(std::move(folder)) {}

DesktopSession::~DesktopSession() {
    accessibility.reset();
    sessionBus.Stop();
    xServer.Stop();
}

bool DesktopSession::StartDisplay(std::string& reason) {
    for (const char* tool : {"Xvfb", "xdotool"}) {
        if (FindInPath(tool).empty()) {
            reason = std::string(tool) + " is not installed";
            return false;
        }
    }
    ReportPipe report;
    if (!report.Valid() ||
        // Without -noreset the server resets whenever its last client leaves (a short-lived
        // xdotool, say) and refuses connections meanwhile.
        !xServer.Start({"Xvfb", "-displayfd", report.WriteEndNumber(), "-screen", "0",
                        "1024x768x24", "-nolisten", "tcp", "-noreset"},
                       HelperEnvironment(), runtimeFolder + "/xvfb.log")) {
        reason = "Xvfb cannot be started";
        return false;
    }
    std::string number;
    if (!report.ReadLine(number) || number.empty()) {
        reason = "Xvfb did not report its display (see xvfb.log)";
        return false;
    }
    display = ":" + number;
    return true;
}

bool DesktopSession::StartAccessibility(std::string& reason) {
    if (FindInPath("dbus-daemon").empty()) {
        reason = "dbus-daemon is not installed";
        return false;
    }
    ReportPipe report;
    if (!report.Valid() ||
        !sessionBus.Start(
            {"dbus-daemon", "--session", "--nofork", "--print-address=" + report.WriteEndNumber()},
            HelperEnvironment(), runtimeFolder + "/bus.log") ||
        !report.ReadLine(sessionBusAddress) || sessionBusAddress.empty()) {
        reason = "the session bus did not start";
        return false;
    }
    accessibility = std::make_unique<Accessibility>();
    accessibility->session = ConnectToBus(sessionBusAddress);
    // Asking for the address starts the accessibility bus launcher on the session bus.
    const std::string address =
        accessibility->session == nullptr
            ? std::string()
            : TextReply(Call(accessibility->session, "org.a11y.Bus", "/org/a11y/bus",
                             "org.a11y.Bus", "GetAddress", nullptr, "(s)"));
    accessibility->bus = address.empty() ? nullptr : ConnectToBus(address);
    if (accessibility->bus == nullptr) {
        reason = "no accessibility bus (is at-spi2-core installed?)";
        accessibility.reset();
        return false;
    }
    return true;
}

Environment DesktopSession::ProgramEnvironment(Environment base) const {
    base["DISPLAY"] = display;
    base["QT_QPA_PLATFORM"] = "xcb";
    base["XDG_RUNTIME_DIR"] = runtimeFolder;
    base.erase("AT_SPI_BUS_ADDRESS");
    base.erase("DBUS_SESSION_BUS_ADDRESS");
    if (accessibility != nullptr) {
        base["DBUS_SESSION_BUS_ADDRESS"] = sessionBusAddress;
        base["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1";
    }
    return base;
}

std::vector<std::string> DesktopSession::FindWindows(const std::string& titlePattern) {
    std::string output;
    Xdotool({"search", "--onlyvisible", "--name", titlePattern}, output);
    return Words(output);
}

bool DesktopSession::TypeKey(const std::string& window, const std::string& key) {
    std::string output;
    return Xdotool({"windowfocus", window}, output) == 0 && Xdotool({"key", key}, output) == 0;
}

std::vector<AccessibleNode> DesktopSession::AccessibleObjects(const std::string& applicationName) {
    std::vector<AccessibleNode> nodes;
    if (accessibility == nullptr) {
        return nodes;
    }
    GDBusConnection* bus = accessibility->bus;
    const ObjectReference registry{"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
    for (const ObjectReference& application : Children(bus, registry)) {
        if (NameOf(bus, application) == applicationName) {
            Walk(bus, application, 0, nodes);
        }
    }
    return nodes;
}

int DesktopSession::Xdotool(const std::vector<std::string>& arguments, std::string& output) {
    std::vector<std::string> command = {"xdotool"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunCommand(command, HelperEnvironment(), output, kCommandLimit);
}

Environment DesktopSession::HelperEnvironment() const {
    Environment environment = CurrentEnvironment();
    environment.erase("LD_PRELOAD");
    environment["XDG_RUNTIME_DIR"] = runtimeFolder;
    if (!display.empty()) {
        environment["DISPLAY"] = display;
    }
    return environment;
}

std::string ExactTitlePattern(const std::string& title) {
    std::string pattern = "^";
    for (const char c : title) {
        if (std::string_view("\\.^$|()[]{}*+?").find(c) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern + "$";
}
