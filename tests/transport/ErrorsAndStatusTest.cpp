#include "platform/AsyncSocket.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

TEST(SockErrors, TextsErrnoMappingAndUnknownNumbers)
{
    TSockTransport t;
    std::string text;
    const std::pair<uint16_t, const char*> cases[] = {{10061, "10061:Connection refused"},
        {11004, "11004:Valid name, no data record of requested type"}, {12345, "Unknown Error No. 12345"},
        {10000, "Unknown Error No. 10000"}, {0, ""}};
    for (const auto& [number, expected] : cases) {
        text = "stale";
        t.LookupErrorMessage(number, text);
        EXPECT_EQ(text, expected) << number;
    }
    // A connect under way is passed over like a blocked call.
    const std::pair<int, int> errnos[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054}, {EWOULDBLOCK, 10035}, {EINPROGRESS, 10035}, {0, 0}};
    for (const auto& [err, number] : errnos) EXPECT_EQ(SocketErrorFromErrno(err), number) << err;
    // A connect that cannot start (no local port) must not pass for one under way.
    EXPECT_EQ(ConnectErrorFromErrno(EAGAIN), WSAENOBUFS);
    EXPECT_EQ(ConnectErrorFromErrno(EINPROGRESS), WSAEWOULDBLOCK);
}

// What contains the ignore bits is passed over; the rest goes to OnError and is raised.
TEST(ErrorManager, PassesOverWhatContainsTheIgnoreBitsAndRaisesTheRest)
{
    const std::pair<int, bool> cases[] = {{10035, false}, {10039, false}, {10043, false}, {10047, false},
                                          {10036, true},  {10061, true},  {10054, true},  {11001, true}};
    for (const auto& [pending, raises] : cases) {
        TSockTransport t;
        std::vector<std::pair<uint16_t, std::string>> errors;
        t.OnError = [&](TComponent*, uint16_t n, const std::string& m) { errors.emplace_back(n, m); };
        SetSockLastError(pending);
        std::string text = "stale";
        const std::string raised = MessageOf<ESockError>([&] { t.ErrorManager(WSAEWOULDBLOCK, text); });
        const std::string expected = raises ? SockErrorText(pending) : "";
        EXPECT_EQ(t.LastError(), pending);
        EXPECT_EQ(raised, expected) << pending;
        EXPECT_EQ(text, expected);
        EXPECT_EQ(errors.size(), raises ? 1u : 0u);
        if (raises && !errors.empty()) {
            EXPECT_EQ(errors[0], std::make_pair(static_cast<uint16_t>(pending), expected));
        }
    }
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

TEST(NthField, FieldsBetweenDelimiters)
{
    struct { const char* Text; char Delim; int N; const char* Field; } cases[] = {
        {"Ann <box>", '<', 2, "box>"}, {"box>", '>', 1, "box"}, {"a::b", ':', 3, "b"}, {"a::b", ':', 2, ""},
        {"a::b", ':', 1, "a"}, {"a:b", ':', 5, ""}, {"", ':', 1, ""}, {"plain", ':', 1, "plain"}};
    for (const auto& c : cases) EXPECT_EQ(NthField(c.Text, c.Delim, c.N), c.Field) << c.Text << " " << c.N;
}
