#include "smtp/SmtpReply.h"

#include "transport/SockTransport.h"

TSmtpReplyLine ParseSmtpReply(const std::string& Line)
{
    const TReplyLine Base = ParseReplyLine(Line);
    TSmtpReplyLine R;
    R.Code = Base.Code;
    // The position of the hyphen, not what precedes it, marks a continuation: a reply
    // always carries a three-digit code.
    R.Continued = ReplyContinued(Line);

    size_t End = Line.size();
    while (End > 0 && (Line[End - 1] == '\n' || Line[End - 1] == '\r'))
        --End;
    auto Digit = [&](size_t i) { return Line[i] >= '0' && Line[i] <= '9'; };
    size_t Start = 0;
    if (End >= 3 && Digit(0) && Digit(1) && Digit(2))
        Start = End == 3 ? 3 : (Line[3] == ' ' || Line[3] == '-') ? 4 : 0;
    R.Text = Line.substr(Start, End - Start);
    return R;
}
