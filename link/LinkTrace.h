// A process-wide trace of what goes over the link, for people watching it (qiro7-cli
// --verbose). Off by default; while off, the link pays one atomic load per transfer and builds
// no text.
#pragma once

#include <functional>
#include <string_view>

enum class LinkEvent {
    Opened,    // a link was opened: the device path
    Closed,    // an opened link was closed: its device path
    Request,   // a request line was written: its text without the CR
    Received,  // a packet with text arrived: its text up to the first NUL, CRs included
               // (empty packets, sent every 10 ms while idle, are not reported)
    Failed,    // "read" (a failed or timed-out IN transfer), "write <request text>", or
               // "open <path>" / "open" (no instrument found)
};

// Called on whichever thread uses the link, the measurement worker included, so it may run on
// two threads at once; it must not use the link itself. The text is valid during the call only.
using LinkTraceFunction = std::function<void(LinkEvent event, std::string_view text)>;

// Replaces the trace function; an empty one turns tracing off. Any thread. A call already
// under way on another thread may still finish after this returns (with the old function,
// which is kept alive until then).
void SetLinkTrace(LinkTraceFunction trace);

// True while a trace function is set: checked before any text is built for it.
bool LinkTraceOn();
// Passes the event to the trace function, if one is set.
void ReportLinkEvent(LinkEvent event, std::string_view text);
