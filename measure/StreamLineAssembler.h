// Splits the measurement stream into lines at carriage returns, whatever the packet
// boundaries. The CR belongs to neither neighbouring line. Text the stop exchange collected
// is marked, so the worker can tell the stop's own reply from the stream. One thread (the
// worker); no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class StreamLineAssembler {
public:
    // A line longer than this, or this much text without a CR, is a broken stream.
    static constexpr std::size_t kLineLimitBytes = 4096;

    enum class Take { Line, NeedMore, TooLong };

    struct Line {
        std::string text;            // without its CR
        bool fromStopReply = false;  // its CR came with the stop exchange's text
    };

    // Text that arrived on the stream, in order.
    void Append(std::string_view text);
    // Everything the stop exchange collected: the text its read handed out, then the rest it
    // kept pending. It follows the text appended so far and precedes later packets.
    void AppendStopReply(std::string_view text);

    Take TakeLine(Line& line);

    // Received text after the last line taken.
    std::string_view CarryText() const;

private:
    void DropTakenText();

    // Text from carryStart on is still to be taken; the part before it is dropped lazily so
    // that a long burst of lines costs linear time.
    std::string carryText;
    std::size_t carryStart = 0;
    // carryText[stopReplyBegin, stopReplyEnd) came from the stop exchange.
    std::size_t stopReplyBegin = 0;
    std::size_t stopReplyEnd = 0;
};
