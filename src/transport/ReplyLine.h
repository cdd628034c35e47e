#pragma once
// One line of a server's reply taken apart, for the transport (ReplyCode), the SMTP client
// and the news client alike. Pure, so it can be tested on every form a server might send.
#include <cstdint>
#include <string>

struct TReplyLine {
    // The value of the leading digits (at most 10 read); above 32767 stored as 32767, so
    // it is still a refusal; 0 without digits.
    int16_t Code = 0;
    bool HasCode = false;
    // More lines of the same reply follow: the line begins with a blank, or its fourth
    // character is "-" (its place decides, not the digits before it).
    bool Continued = false;
};

TReplyLine ParseReplyLine(const std::string& Line);
