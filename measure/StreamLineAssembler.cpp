#include "measure/StreamLineAssembler.h"

#include <algorithm>

void StreamLineAssembler::Append(std::string_view text) {
    DropTakenText();
    carryText.append(text);
}

void StreamLineAssembler::AppendStopReply(std::string_view text) {
    DropTakenText();
    stopReplyBegin = carryText.size();
    carryText.append(text);
    stopReplyEnd = carryText.size();
}

std::string_view StreamLineAssembler::CarryText() const {
    return std::string_view(carryText).substr(carryStart);
}

StreamLineAssembler::Take StreamLineAssembler::TakeLine(Line& line) {
    const std::size_t cr = carryText.find('\r', carryStart);
    if (cr == std::string::npos) {
        return carryText.size() - carryStart > kLineLimitBytes ? Take::TooLong : Take::NeedMore;
    }
    if (cr - carryStart > kLineLimitBytes) {
        return Take::TooLong;
    }
    line.text.assign(carryText, carryStart, cr - carryStart);
    line.fromStopReply = cr >= stopReplyBegin && cr < stopReplyEnd;
    carryStart = cr + 1;
    return Take::Line;
}

void StreamLineAssembler::DropTakenText() {
    carryText.erase(0, carryStart);
    stopReplyBegin -= std::min(stopReplyBegin, carryStart);
    stopReplyEnd -= std::min(stopReplyEnd, carryStart);
    carryStart = 0;
}
