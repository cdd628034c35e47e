#include "transport/ReplyLine.h"

#include <algorithm>

TReplyLine ParseReplyLine(const std::string& Line)
{
    TReplyLine r;
    size_t i = 0;
    uint64_t value = 0;
    while (i < Line.size() && i < 10 && Line[i] >= '0' && Line[i] <= '9') {
        value = value * 10 + static_cast<uint64_t>(Line[i] - '0');
        ++i;
    }
    r.HasCode = i > 0;
    r.Code = static_cast<int16_t>(std::min<uint64_t>(value, 32767));
    r.Continued = (!Line.empty() && Line[0] == ' ') || (Line.size() >= 4 && Line[3] == '-');
    return r;
}
