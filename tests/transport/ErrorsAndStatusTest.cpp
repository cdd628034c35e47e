#include <set>

#include "platform/SocketErrors.h"
#include "TransportFixture.h"

TEST(SockErrorTable, RowsReadAsNumberColonTextOthersAsUnknown)
{
    std::set<int> numbers;
    TSockTransport t;
    std::string text;
    for (const TSockErrorEntry& e : SockErrorTable) {
        numbers.insert(e.Number);
        t.LookupErrorMessage(static_cast<uint16_t>(e.Number), text);
        EXPECT_EQ(text, std::to_string(e.Number) + ":" + e.Text);
        EXPECT_LE(std::string(e.Text).size(), 51u);
    }
    EXPECT_EQ(numbers.size(), 50u);
    struct Case {
        uint16_t Number;
        const char* Text;
    } cases[] = {
        {10061, "10061:Connection refused"},
        {11004, "11004:Valid name, no data record of requested type"},
        {12345, "Unknown Error No. 12345"},
        {10000, "Unknown Error No. 10000"},
        {0, ""},
    };
    for (const Case& c : cases) {
        text = "stale";
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
        const std::string expected = c.Raises ? SockErrorText(c.Pending) : "";
        EXPECT_EQ(t.LastError(), c.Pending);
        EXPECT_EQ(raised, expected) << c.Pending;
        EXPECT_EQ(text, expected);
        ASSERT_EQ(errors.size(), c.Raises ? 1u : 0u);
        if (c.Raises) {
            EXPECT_EQ(errors[0], std::make_pair(static_cast<uint16_t>(c.Pending), expected));
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

// Level 0 reports nothing; level 1 only the line Transaction read, not one read by hand.
TEST_F(StatusTest, LevelsZeroAndOne)
{
    for (int level : {0, 1}) {
        TScriptedServer server;
        server.SendLine("220 hi").Expect("NOOP").SendLine("250 ok");
        server.Start();
        TSockTransport t;
        Statuses.clear();
        t.OnStatus = [this](TComponent*, const std::string& s) { Statuses.push_back(s); };
        t.SetReportLevel(level);
        ConnectTo(t, server);
        std::string line;
        t.ReadLn(line);
        t.Transaction("NOOP", line);
        const std::vector<std::string> expected = level ? std::vector<std::string>{"250 ok\r\n"} : std::vector<std::string>{};
        EXPECT_EQ(Statuses, expected);
        EXPECT_EQ(t.LastStatus(), level ? "250 ok\r\n" : "");
    }
}

// Writeln at 8 traces every step, at 4 only the send; the error check shows from 16.
TEST_F(StatusTest, LevelsFourEightAndSixteen)
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
    for (int level : {8, 16}) {
        Statuses.clear();
        Client.SetReportLevel(level);
        SetSockLastError(WSAEWOULDBLOCK);
        std::string text;
        Client.ErrorManager(WSAEWOULDBLOCK, text);
        EXPECT_EQ(std::count(Statuses.begin(), Statuses.end(), "Checking Error In Error Manager"), level == 16);
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
