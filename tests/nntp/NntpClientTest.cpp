#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "nntp/NntpClient.h"
#include "platform/MessagePump.h"
#include "support/ScriptedServer.h"
#include "transport/TransportFixture.h"  // MessageOf


class NntpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Client.SetHost("127.0.0.1");
        Client.SetTimeOut(5000);
        Client.SetReplyTimeOut(5000);  // a broken script fails the test instead of hanging it
        Client.OnConnect = [this](TObject*) { ++Connects; };
        Client.OnAuthenticationFailed = [this](TObject*) { ++AuthFailed; };
        Client.OnGroupSelect = [this](TObject*) { ++GroupSelects; };
    }
    void Start()
    {
        Server.Start();
        Client.SetPort(Server.Port());
    }
    // A client of its own aimed at S, which is started here.
    static std::unique_ptr<TNntpClient> ClientFor(TScriptedServer& S)
    {
        S.Start();
        auto c = std::make_unique<TNntpClient>();
        c->SetHost("127.0.0.1");
        c->SetPort(S.Port());
        c->SetTimeOut(5000);
        c->SetReplyTimeOut(5000);
        return c;
    }

    TScriptedServer Server;
    TNntpClient Client;
    int Connects = 0, AuthFailed = 0, GroupSelects = 0;
};

TEST_F(NntpTest, NewClientDefaults)
{
    EXPECT_EQ(Client.Port(), 119);
    EXPECT_EQ(Client.CacheMode(), cmMixed);
    EXPECT_FALSE(Client.ParseAttachments());
    EXPECT_FALSE(Client.Busy());
    EXPECT_EQ(Client.PostRecord().List(), &Client.PostHeader());
}

// 200 and 201 need no login (no USER before the QUIT); 480 leads to USER and PASS.
// Every failed login says QUIT and hangs up; only a refused password is an
// authentication failure. Disconnect says QUIT only while connected.
TEST_F(NntpTest, Logins)
{
    struct Case {
        const char* Script;
        bool SockError;
        const char* Error;
    } cases[] = {
        {"S: 200 news.example ready\n", false, ""},
        {"S: 201 news.example no posting\n", false, ""},
        {"S: 480 login\nC: USER reader\nS: 381 password please\nC: PASS s3cret\nS: 281 welcome\n", false, ""},
        {"S: 400 service temporarily unavailable\n", true, "Log in to server failed"},
        {"S: 502 service permanently unavailable\n", true, "Log in to server failed"},
        {"S: hello there\n", true, "Log in to server failed"},  // no code is no welcome either
        {"S: 480 login\nC: USER reader\nS: 502 no\n", true, "Log in to server failed"},
        {"S: 480 login\nC: USER reader\nS: 381 pw\nC: PASS s3cret\nS: 481 rejected\n", false, "Authentication failed"},
    };
    for (const Case& k : cases) {
        const bool ok = !*k.Error;
        TScriptedServer server;
        server.Script(k.Script).Script("C: QUIT\nS: 205 bye\n").ExpectClose();
        auto c = ClientFor(server);
        c->SetUserId("reader");
        c->SetPassword("s3cret");
        int connects = 0, failed = 0;
        c->OnConnect = [&](TObject*) { ++connects; };
        c->OnAuthenticationFailed = [&](TObject*) { ++failed; };
        c->Disconnect();  // not connected yet: nothing is sent
        const auto connect = [&] { c->Connect(); };
        EXPECT_EQ(k.SockError ? MessageOf<ESockError>(connect) : MessageOf<NNTPError>(connect), k.Error) << k.Script;
        EXPECT_EQ(c->Connected(), ok) << k.Script;
        EXPECT_EQ(connects, ok ? 1 : 0);
        EXPECT_EQ(failed, !ok && !k.SockError ? 1 : 0) << k.Script;
        EXPECT_FALSE(c->Busy());
        c->Disconnect();
        EXPECT_FALSE(c->Connected());
        EXPECT_TRUE(server.Finished()) << k.Script;
    }
}

TEST_F(NntpTest, MissingCredentialsAskTheHandlerOnce)
{
    struct Case {
        bool HasHandler;
        bool Supplies;
        const char* Error;
    } cases[] = {{false, false, "Authentication failed"}, {true, false, "Authentication failed"}, {true, true, ""}};
    for (const Case& c : cases) {
        TScriptedServer server;
        server.SendLine("480 login first");
        if (c.Supplies)
            server.Script("C: USER late\nS: 281 ok\n");
        else
            server.Expect("QUIT").SendLine("205 bye").ExpectClose();
        auto client = ClientFor(server);
        int asked = 0;
        if (c.HasHandler)
            client->OnAuthenticationNeeded = [&](bool& handled) {
                ++asked;
                if (!c.Supplies) return;
                client->SetUserId("late");
                client->SetPassword("pw");
                handled = true;
            };
        EXPECT_EQ(MessageOf<NNTPError>([&] { client->Connect(); }), c.Error);
        EXPECT_EQ(asked, c.HasHandler ? 1 : 0);
        EXPECT_EQ(client->Connected(), c.Supplies);
        EXPECT_TRUE(server.Finished());
    }
}

TEST_F(NntpTest, GroupSelectionTakesTheArticleRange)
{
    Server.Script(R"(
        S: 200 ready
        C: GROUP misc.test
        S: 211 1234 3000234 3002322 misc.test
        C: GROUP no.such
        S: 411 no such group
        C: GROUP tiny
        S: 211 0 5 9
    )");
    Start();
    Client.Connect();
    Client.SelectGroup("misc.test");
    EXPECT_EQ(Client.CurrentGroup(), "misc.test");
    EXPECT_EQ(Client.FirstArticle(), 3000234);
    EXPECT_EQ(Client.LastArticle(), 3002322);
    EXPECT_EQ(GroupSelects, 1);

    EXPECT_EQ(MessageOf<NNTPError>([&] { Client.SelectGroup("no.such"); }), "Invalid Group");
    EXPECT_EQ(Client.CurrentGroup(), "misc.test");
    EXPECT_EQ(GroupSelects, 1);
    EXPECT_FALSE(Client.Busy());

    Client.SelectGroup("tiny");  // the last field ends the line
    EXPECT_EQ(Client.FirstArticle(), 5);
    EXPECT_EQ(Client.LastArticle(), 9);
    EXPECT_TRUE(Server.Finished());
}

TEST_F(NntpTest, GroupSelectionNeedsAConnection)
{
    EXPECT_EQ(MessageOf<Exception>([&] { Client.SelectGroup("misc.test"); }), "Not Connected");
    EXPECT_FALSE(Client.Busy());
    Client.SetCacheMode(cmLocal);  // no server asked
    Client.SelectGroup("misc.test");
    EXPECT_EQ(Client.CurrentGroup(), "misc.test");
    EXPECT_EQ(GroupSelects, 1);
}

TEST_F(NntpTest, WhileBusyGroupSelectionDoesNothing)
{
    Server.Script("S: 480 login\nC: USER u\nS: 281 ok\nC: GROUP after\nS: 211 3 1 3 after\n");
    Start();
    bool busyInside = false;
    Client.OnAuthenticationNeeded = [&](bool& handled) {
        busyInside = Client.Busy();
        Client.SelectGroup("during");  // the login runs: ignored, nothing is sent
        Client.SetUserId("u");
        Client.SetPassword("p");
        handled = true;
    };
    Client.Connect();
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(GroupSelects, 0);
    Client.SelectGroup("after");
    EXPECT_EQ(Client.CurrentGroup(), "after");
    EXPECT_TRUE(Server.Finished());
}

// On 412 the current group is selected again and the command repeated; without a
// current group only a handler that selects one saves the command.
TEST_F(NntpTest, A412ReselectsAndRepeats)
{
    struct Case {
        bool HasGroup;
        bool HasHandler;
        bool HandlerSelects;
        const char* Error;
    } cases[] = {
        {false, false, false, "No Group Selected"}, {false, true, false, "No Group Selected"},
        {false, true, true, ""}, {true, false, false, ""}, {true, true, false, ""},
    };
    for (const Case& c : cases) {
        const std::string group = c.HandlerSelects ? "chosen" : "g";
        TScriptedServer server;
        server.Script("S: 200 ready\n");
        if (c.HasGroup) server.Script("C: GROUP g\nS: 211 10 1 10 g\n");
        server.Script("C: NEXT\nS: 412 no group\n");
        if (c.HandlerSelects) server.Script("C: GROUP chosen\nS: 211 1 7 7 chosen\n");
        if (!*c.Error) server.Script("C: GROUP " + group + "\nS: 211 12 1 12 " + group + "\nC: NEXT\nS: 223 7 <a@b>\n");
        auto client = ClientFor(server);
        int asked = 0;
        if (c.HasHandler)
            client->OnGroupSelectRequired = [&](bool& handled) {
                ++asked;
                if (!c.HandlerSelects) return;
                client->SelectGroup("chosen");
                handled = true;
            };
        client->Connect();
        if (c.HasGroup) client->SelectGroup("g");
        std::string reply;
        EXPECT_EQ(MessageOf<Exception>([&] { client->Transaction("NEXT", reply); }), c.Error);
        EXPECT_EQ(asked, c.HasHandler ? 1 : 0);
        if (!*c.Error) {
            EXPECT_EQ(reply, "223 7 <a@b>\r\n");
            EXPECT_EQ(client->LastArticle(), 12);
        }
        EXPECT_FALSE(client->Busy());
        EXPECT_TRUE(server.Finished());
    }
}

TEST_F(NntpTest, EndlessGroupRequestsAreBounded)
{
    Server.Script("S: 200 ready\nC: GROUP g\nS: 211 1 1 1 g\nC: STAT\nS: 412 again\n");
    for (int i = 0; i < TNntpClient::MaxGroupReselects; ++i)
        Server.Script("C: GROUP g\nS: 211 1 1 1 g\nC: STAT\nS: 412 again\n");
    Start();
    Client.Connect();
    Client.SelectGroup("g");
    std::string reply;
    EXPECT_EQ(MessageOf<Exception>([&] { Client.Transaction("STAT", reply); }), "No Group Selected");
    EXPECT_FALSE(Client.Busy());
    EXPECT_TRUE(Server.Finished());
}

TEST_F(NntpTest, ACancelSeenByTheReaderClosesWithoutQuit)
{
    Server.SendLine("200 ready").Pause(100).SendLine("late data").ExpectClose();
    Start();
    Client.Connect();
    Client.Cancel();
    for (int i = 0; i < 2500 && Client.Connected(); ++i) SleepAndProcessMessages(2);
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.InBuffer().Size(), 0);
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), "");
}

TEST_F(NntpTest, PostRecordViewsThePostHeader)
{
    TPostRecordType& r = Client.PostRecord();
    EXPECT_EQ(r.PrArticleId(), 0);  // absent
    r.SetPrSubject("Hello");
    r.SetPrFromAddress("a@b.test");
    r.SetPrNewsGroups("misc.test");
    r.SetPrAppName("Quillcast");
    EXPECT_EQ(Client.PostHeader().GetValue("Subject"), " Hello");
    EXPECT_EQ(Client.PostHeader().GetValue("X-Newsreader"), " Quillcast");
    EXPECT_EQ(r.PrSubject(), "Hello");
    EXPECT_EQ(r.PrFromAddress(), "a@b.test");

    Client.PostHeader().Add("ArtID: 42");
    EXPECT_EQ(r.PrArticleId(), 42);
    Client.PostHeader().SetValue("ArtID", "forty-two");
    EXPECT_EQ(r.PrArticleId(), 0);

    TStringList other;
    other.Add("Subject: Replaced");
    Client.SetPostHeader(other);  // a copy, still viewed by the record
    other.Clear();
    EXPECT_EQ(r.PrSubject(), "Replaced");
}

TEST_F(NntpTest, DirectoriesKeepOneTrailingBackslash)
{
    struct Case {
        const char* Given;
        const char* Stored;
    } cases[] = {{"C:\\News", "C:\\News\\"}, {"C:\\News\\", "C:\\News\\"}, {"", "\\"}};
    for (const Case& c : cases) {
        Client.SetNewsDir(c.Given);
        Client.SetAttachFilePath(c.Given);
        EXPECT_EQ(Client.NewsDir(), c.Stored);
        EXPECT_EQ(Client.AttachFilePath(), c.Stored);
    }
}
