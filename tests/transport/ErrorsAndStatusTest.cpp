#include "platform/AsyncSocket.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

// A number without a text still says which it was. A connect under way (EINPROGRESS) is
// passed over like a blocked call, but one that cannot start (no local port) must not
// pass for one under way.
TEST(SockErrors, UnknownNumbersAndConnectErrnos)
{
    TSockTransport t;
    for (const auto& [number, expected] : {std::pair<uint16_t, std::string>{12345, "Unknown Error No. 12345"}, {0, ""}}) {
        std::string text = "stale";
        t.LookupErrorMessage(number, text);
        EXPECT_EQ(text, expected) << number;
    }
    EXPECT_EQ(SocketErrorFromErrno(EINPROGRESS), WSAEWOULDBLOCK);
    EXPECT_EQ(ConnectErrorFromErrno(EINPROGRESS), WSAEWOULDBLOCK);
    EXPECT_EQ(ConnectErrorFromErrno(EAGAIN), WSAENOBUFS);
}

// One parser for every client: the leading digits give the code; the fourth character's
// place, not the digits before it, marks a continuation.
TEST(ReplyLine, EveryLineForm)
{
    struct { const char* Line; int16_t Code; bool HasCode; bool Continued; } cases[] = {
        {"250 ok\r\n", 250, true, false}, {"250-first\r\n", 250, true, true}, {"220-", 220, true, true},
        {"0421 closing\r\n", 421, true, false}, {"hello 250\r\n", 0, false, false}, {"\r\n", 0, false, false},
        {"99999 big\r\n", 32767, true, false},         // too big: a refusal all the same
        {"123456789012 x\r\n", 32767, true, false},  // ten digits at most
        {"354\r\n", 354, true, false}, {"25-x\r\n", 25, true, false}, {"25\r\n", 25, true, false},
        {" \r\n", 0, false, true}, {"abc-def\r\n", 0, false, true}, {"550-5.1.1 x\n", 550, true, true}, {"", 0, false, false}};
    for (const auto& c : cases) {
        const TReplyLine r = ParseReplyLine(c.Line);
        EXPECT_EQ(std::tie(r.Code, r.HasCode, r.Continued), std::tie(c.Code, c.HasCode, c.Continued)) << c.Line;
    }
}
