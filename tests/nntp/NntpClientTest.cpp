#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "nntp/NntpClient.h"
#include "platform/MessagePump.h"
#include "support/ScriptedServer.h"

namespace {

template <typename E, typename F>
std::string MessageOf(F&& Fn)
{
    try {
        Fn();
    } catch (const E& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::string("unexpected exception class: ") + e.what();
    }
    return "";
}

}  // namespace

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

TEST_F(NntpTest, GreetingWithoutLoginRequest)
{
    for (const char* greeting : {"200 news.example ready", "201 news.example no posting"}) {
        TScriptedServer server;
        server.SendLine(greeting).Expect("QUIT").SendLine("205 bye").ExpectClose();
        server.Start();
        TNntpClient c;
        c.SetHost("127.0.0.1");
        c.SetPort(server.Port());
        c.SetUserId("user");
        c.SetPassword("secret");
        int connects = 0;
        c.OnConnect = [&](TObject*) { ++connects; };
        c.Connect();
        EXPECT_TRUE(c.Connected());
        EXPECT_EQ(connects, 1);
        EXPECT_FALSE(c.Busy());
        c.Disconnect();  // no USER came before this QUIT
        EXPECT_FALSE(c.Connected());
        EXPECT_TRUE(server.Finished()) << greeting;
    }
}

TEST_F(NntpTest, LoginWithUserAndPassword)
{
    Server.Script(R"(
        S: 480 authentication required
        C: USER reader
        S: 381 password please
        C: PASS s3cret
        S: 281 welcome
    )");
    Start();
    Client.SetUserId("reader");
    Client.SetPassword("s3cret");
    Client.Connect();
    EXPECT_TRUE(Client.Connected());
    EXPECT_EQ(Connects, 1);
    EXPECT_EQ(AuthFailed, 0);
    EXPECT_TRUE(Server.Finished());
}

TEST_F(NntpTest, RefusedPasswordFailsTheLoginAndHangsUp)
{
    Server.Script(R"(
        S: 480 authentication required
        C: USER reader
        S: 381 password please
        C: PASS wrong
        S: 481 rejected
        C: QUIT
        S: 205 bye
    )").ExpectClose();
    Start();
    Client.SetUserId("reader");
    Client.SetPassword("wrong");
    EXPECT_EQ(MessageOf<NNTPError>([&] { Client.Connect(); }), "Authentication failed");
    EXPECT_EQ(AuthFailed, 1);
    EXPECT_EQ(Connects, 0);
    EXPECT_FALSE(Client.Connected());
    EXPECT_FALSE(Client.Busy());
    EXPECT_TRUE(Server.Finished());
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
        server.Start();
        TNntpClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        int asked = 0;
        if (c.HasHandler)
            client.OnAuthenticationNeeded = [&](bool& handled) {
                ++asked;
                if (!c.Supplies) return;
                client.SetUserId("late");
                client.SetPassword("pw");
                handled = true;
            };
        EXPECT_EQ(MessageOf<NNTPError>([&] { client.Connect(); }), c.Error);
        EXPECT_EQ(asked, c.HasHandler ? 1 : 0);
        EXPECT_EQ(client.Connected(), c.Supplies);
        EXPECT_TRUE(server.Finished());
    }
}

TEST_F(NntpTest, RefusingGreetingsOrUserFailTheLogin)
{
    struct Case {
        const char* Script;
    } cases[] = {
        {"S: 400 service temporarily unavailable\n"},
        {"S: 502 service permanently unavailable\n"},
        {"S: hello there\n"},  // no code at all is no welcome either
        {"S: 480 login\nC: USER u\nS: 502 no\n"},
    };
    for (const Case& c : cases) {
        TScriptedServer server;
        server.Script(c.Script).Expect("QUIT").SendLine("205 bye").ExpectClose();
        server.Start();
        TNntpClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        client.SetUserId("u");
        client.SetPassword("p");
        EXPECT_EQ(MessageOf<ESockError>([&] { client.Connect(); }), "Log in to server failed") << c.Script;
        EXPECT_FALSE(client.Connected());
        EXPECT_TRUE(server.Finished()) << c.Script;
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

TEST_F(NntpTest, A412ReselectsTheCurrentGroupAndRepeats)
{
    Server.Script(R"(
        S: 200 ready
        C: GROUP misc.test
        S: 211 10 1 10 misc.test
        C: ARTICLE 5
        S: 412 no group selected
        C: GROUP misc.test
        S: 211 12 1 12 misc.test
        C: ARTICLE 5
        S: 220 5 <id@x> article follows
    )");
    Start();
    Client.Connect();
    Client.SelectGroup("misc.test");
    std::string reply;
    Client.Transaction("ARTICLE 5", reply);
    EXPECT_EQ(reply, "220 5 <id@x> article follows\r\n");
    EXPECT_EQ(Client.LastArticle(), 12);
    EXPECT_FALSE(Client.Busy());
    EXPECT_TRUE(Server.Finished());
}

TEST_F(NntpTest, A412WithoutAGroup)
{
    struct Case {
        bool HasHandler;
        bool HandlerSelects;
        const char* Error;
    } cases[] = {{false, false, "No Group Selected"}, {true, false, "No Group Selected"}, {true, true, ""}};
    for (const Case& c : cases) {
        TScriptedServer server;
        server.Script("S: 200 ready\nC: NEXT\nS: 412 no group\n");
        if (c.HandlerSelects)
            server.Script("C: GROUP chosen\nS: 211 1 7 7 chosen\nC: GROUP chosen\nS: 211 1 7 7 chosen\nC: NEXT\nS: 223 7 <a@b>\n");
        server.Start();
        TNntpClient client;
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
        int asked = 0;
        if (c.HasHandler)
            client.OnGroupSelectRequired = [&](bool& handled) {
                ++asked;
                if (!c.HandlerSelects) return;
                client.SelectGroup("chosen");
                handled = true;
            };
        client.Connect();
        std::string reply;
        EXPECT_EQ(MessageOf<Exception>([&] { client.Transaction("NEXT", reply); }), c.Error);
        EXPECT_EQ(asked, c.HasHandler ? 1 : 0);
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

TEST_F(NntpTest, DisconnectSendsQuitOnlyWhenConnected)
{
    Server.Script("S: 200 ready\nC: QUIT\nS: 205 bye\n").ExpectClose();
    Start();
    Client.Disconnect();  // not connected: nothing happens
    Client.Connect();
    Client.Disconnect();
    EXPECT_FALSE(Client.Connected());
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), "QUIT\r\n");
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
