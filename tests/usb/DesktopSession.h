// A private desktop for running the real program in a test: an X display of its own (Xvfb),
// driven with xdotool, and a private session bus whose accessibility bus lets the test read
// what the program's widgets show (AT-SPI). Helpers run without the umockdev preload.
// Test thread only; everything started is stopped on destruction.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/common/ChildProcess.h"

struct AccessibleNode {
    std::string role;  // AT-SPI role name, e.g. "push button", "text", "label"
    std::string name;
    std::string text;  // the content of a text object; empty for others
};

class DesktopSession {
public:
    // runtimeFolder: a private folder for the session's sockets and logs.
    explicit DesktopSession(std::string runtimeFolder);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // False, with the reason, when Xvfb or xdotool is missing or the display does not come up.
    bool StartDisplay(std::string& reason);
    // The session bus and its accessibility bus; false (with the reason) when unavailable.
    bool StartAccessibility(std::string& reason);

    // What a program on this desktop needs in its environment, over `base`.
    Environment ProgramEnvironment(Environment base) const;

    // Mapped X windows whose title matches the (extended regular expression) pattern.
    std::vector<std::string> FindWindows(const std::string& titlePattern);
    // Gives a window the keyboard focus and types one key (xdotool key names) into it.
    bool TypeKey(const std::string& window, const std::string& key);

    // Every accessible object of the running application of that name, depth first; empty
    // when it is not (yet) published. Needs StartAccessibility.
    std::vector<AccessibleNode> AccessibleObjects(const std::string& applicationName);

private:
    int Xdotool(const std::vector<std::string>& arguments, std::string& output);
    Environment HelperEnvironment() const;

    std::string runtimeFolder;
    std::string display;  // ":n"
    std::string sessionBusAddress;
    ChildProcess xServer;
    ChildProcess sessionBus;
    struct Accessibility;
    std::unique_ptr<Accessibility> accessibility;
};

// A title as an extended regular expression that matches exactly that title.
std::string ExactTitlePattern(const std::string& title);
