#include <set>

#include "platform/SocketErrors.h"
#include "TransportFixture.h"

TEST(SockErrorTable, EveryRowReadsAsNumberColonText)
{
    std::set<int> numbers;
    TSockTransport t;
    for (const TSockErrorEntry& e : SockErrorTable) {
        numbers.insert(e.Number);
        std::string text;
        t.LookupErrorMessage(static_cast<uint16_t>(e.Number), text);
        EXPECT_EQ(text, std::to_string(e.Number) + ":" + e.Text);
        EXPECT_LE(std::string(e.Text).size(), 51u);
    }
    EXPECT_EQ(numbers.size(), 50u);
}

TEST(SockErrorTable, KnownUnknownAndZero)
{
    struct Case {
        uint16_t Number;
        const char* Text;
    } cases[] = {
        {10061, "10061:Connection refused"},
        {10035, "10035:Operation would block"},
        {11001, "11001:Host not found"},
        {11004, "11004:Valid name, no data record of requested type"},
        {12345, "Unknown Error No. 12345"},
        {10000, "Unknown Error No. 10000"},
        {0, ""},
    };
    TSockTransport t;
    for (const Case& c : cases) {
        std::string text = "stale";
        t.LookupErrorMessage(c.Number, text);
        EXPECT_EQ(text, c.Text) << c.Number;
    }
}

TEST(ErrorManager, PassesOverWhatContainsTheIgnoreBitsAndRaisesTheRest)
{
    struct Case {
        int Pending;
        bool Raises;
    } cases[] = {
        {10035, false}, {10039, false}, {10043, false}, {10047, false},
        {10036, true},  {10061, true},  {10054, true},  {11001, true},
    };
    for (const Case& c : cases) {
        TSockTransport t;
        std::vector<std::pair<uint16_t, std::string>> errors;
        t.OnError = [&](TComponent*, uint16_t n, const std::string& m) { errors.emplace_back(n, m); };
        SetSockLastError(c.Pending);
        std::string text = "stale";
        const std::string raised = MessageOf<ESockError>([&] { t.ErrorManager(WSAEWOULDBLOCK, text); });
        EXPECT_EQ(t.LastError(), c.Pending);
        if (!c.Raises) {
            EXPECT_EQ(raised, "") << c.Pending;
            EXPECT_EQ(text, "");
            EXPECT_TRUE(errors.empty());
        } else {
            const std::string expected = SockErrorText(c.Pending);
            EXPECT_EQ(raised, expected);
            ASSERT_EQ(errors.size(), 1u);
            EXPECT_EQ(errors[0].first, c.Pending);
            EXPECT_EQ(errors[0].second, expected);
        }
    }
}

TEST(ErrnoMapping, SocketErrorsKeepTheLibraryNumbers)
{
    struct Case {
        int Errno;
        int Number;
    } cases[] = {
        {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {ECONNRESET, 10054},
        {EWOULDBLOCK, 10035},  {EINPROGRESS, 10035},  // a connect under way is passed over too
        {0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(SocketErrorFromErrno(c.Errno), c.Number) << c.Errno;
}

TEST(ReplyLine, LeadingDigitsRules)
{
    struct Case {
        const char* Line;
        int16_t Code;
        bool HasCode;
        bool Continued;
        const char* Text;
    } cases[] = {
        {"250 ok\r\n", 250, true, false, "ok"},
        {"250-first\r\n", 250, true, true, "first"},
        {"0421 closing\r\n", 421, true, false, "closing"},
        {"hello 250\r\n", 0, false, false, "hello 250"},
        {"\r\n", 0, false, false, ""},
        {"99999 big\r\n", 32767, true, false, "big"},            // too big: a refusal all the same
        {"123456789012 x\r\n", 32767, true, false, "12 x"},     // ten digits at most
        {"354\r\n", 354, true, false, ""},
        {"32767 edge\r\n", 32767, true, false, "edge"},
    };
    for (const Case& c : cases) {
        const TReplyLine r = ParseReplyLine(c.Line);
        EXPECT_EQ(r.Code, c.Code) << c.Line;
        EXPECT_EQ(r.HasCode, c.HasCode) << c.Line;
        EXPECT_EQ(r.Continued, c.Continued) << c.Line;
        EXPECT_EQ(r.Text, c.Text) << c.Line;
    }
}

TEST(NthField, FieldsBetweenDelimiters)
{
    struct Case {
        const char* Text;
        char Delim;
        int N;
        const char* Field;
    } cases[] = {
        {"Ann <box>", '<', 2, "box>"}, {"box>", '>', 1, "box"}, {"to:box", ':', 2, "box"},
        {"a::b", ':', 3, "b"},         {"a::b", ':', 2, ""},     {"a::b", ':', 1, "a"},
        {"a:b", ':', 5, ""},           {"", ':', 1, ""},         {"plain", ':', 1, "plain"},
    };
    for (const Case& c : cases) EXPECT_EQ(NthField(c.Text, c.Delim, c.N), c.Field) << c.Text << " " << c.N;
}

// ---- status levels

class StatusTest : public TransportTest {
protected:
    std::vector<std::string> Statuses;
    void Record() { Client.OnStatus = [this](TComponent*, const std::string& s) { Statuses.push_back(s); }; }
};

TEST_F(StatusTest, LevelZeroReportsNothing)
{
    Server.SendLine("220 hi").Expect("NOOP").SendLine("250 ok");
    Server.Start();
    Record();
    Client.SetReportLevel(0);
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);
    Client.Transaction("NOOP", line);
    Client.Disconnect();
    EXPECT_TRUE(Statuses.empty());
    EXPECT_EQ(Client.LastStatus(), "");
}

TEST_F(StatusTest, LevelOneReportsOnlyTheTransactionReply)
{
    Server.SendLine("220 hi").Expect("NOOP").SendLine("250 ok");
    Server.Start();
    Record();
    Client.SetReportLevel(1);
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);  // read by hand: not reported
    Client.Transaction("NOOP", line);
    EXPECT_EQ(Statuses, std::vector<std::string>{"250 ok\r\n"});
    EXPECT_EQ(Client.LastStatus(), "250 ok\r\n");
}

TEST_F(StatusTest, WritelnAtLevelsFourAndEight)
{
    Server.Expect("A").Expect("B");
    Server.Start();
    ConnectTo(Client, Server);
    Record();
    Client.SetReportLevel(8);
    Client.Writeln("A");
    EXPECT_EQ(Statuses, (std::vector<std::string>{"Writeln", "Write", "Sending Buffer", "WriteFromStream"}));
    Statuses.clear();
    Client.SetReportLevel(4);
    Client.Writeln("B");
    EXPECT_EQ(Statuses, std::vector<std::string>{"Sending Buffer"});
    EXPECT_TRUE(Server.Finished());
}

TEST_F(StatusTest, LevelSixteenAddsTheErrorManagerCheck)
{
    Record();
    for (int level : {8, 16}) {
        Statuses.clear();
        Client.SetReportLevel(level);
        SetSockLastError(WSAEWOULDBLOCK);
        std::string text;
        Client.ErrorManager(WSAEWOULDBLOCK, text);
        const bool reported = std::count(Statuses.begin(), Statuses.end(), "Checking Error In Error Manager") == 1;
        EXPECT_EQ(reported, level == 16);
    }
}

TEST_F(StatusTest, NoStatusEventWhileDestroying)
{
    auto* t = new TSockTransport;
    t->SetReportLevel(8);
    int calls = 0;
    t->OnStatus = [&](TComponent*, const std::string&) { ++calls; };
    delete t;
    EXPECT_EQ(calls, 0);
}
