#pragma once
// One line of an SMTP reply taken apart: its code, whether more lines of the same reply
// follow, and its text. Pure, so it can be tested on every form a server might send.
#include <cstdint>
#include <string>

struct TSmtpReplyLine {
    // Read as the transport reads ReplyCode: the leading digits, 0 without any, 32767
    // when the number does not fit.
    int16_t Code = 0;
    // More lines follow: this one begins with a blank, or its fourth character is "-".
    // Anything else, a line shorter than four characters included, is the last line.
    bool Continued = false;
    // The line without its code, the separator after the code and its line end.
    std::string Text;
};

TSmtpReplyLine ParseSmtpReply(const std::string& Line);

// The continuation rule alone, for the hot path of reading replies.
inline bool ReplyContinued(const std::string& Line)
{
    return (!Line.empty() && Line[0] == ' ') || (Line.size() >= 4 && Line[3] == '-');
}

// A reply is accepted when its code lies from 200 up to Threshold. A code below 200
// (no code at all gives 0) is a refusal, so garbage can never pass for acceptance.
inline bool ReplyRefused(int Code, int Threshold) { return Code < 200 || Code > Threshold; }
