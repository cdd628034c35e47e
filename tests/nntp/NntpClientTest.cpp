#include <memory>

#include "nntp/NntpClient.h"
#include "transport/TransportFixture.h"  // MessageOf

namespace {
// A client aimed at S, which is started here; a broken script fails instead of hanging.
std::unique_ptr<TNntpClient> ClientFor(TScriptedServer& S)
{
    S.Start();
    auto c = std::make_unique<TNntpClient>();
    c->SetHost("127.0.0.1");
    c->SetPort(S.Port());
    c->SetTimeOut(5000);
    c->SetReplyTimeOut(5000);
    return c;
}
}  // namespace

// 200 and 201 need no login (no USER before the QUIT); 480 leads to USER and PASS, with
// missing credentials asked of the handler once. Every failed login says QUIT and hangs
// up; only a refused password is reported as an authentication failure. Disconnect says
// QUIT only while connected.
TEST(NntpClient, Logins)
{
    // Handler: 0 none, 1 leaves the credentials missing, 2 supplies them.
    struct { const char* Script; const char* User; int Handler; bool SockError; const char* Error; } cases[] = {
        {"S: 200 news.example ready\n", "reader", 0, false, ""},
        {"S: 201 news.example no posting\n", "reader", 0, false, ""},
        {"S: 480 login\nC: USER reader\nS: 381 password please\nC: PASS s3cret\nS: 281 welcome\n", "reader", 0, false, ""},
        {"S: 400 service temporarily unavailable\n", "reader", 0, true, "Log in to server failed"},
        {"S: 502 service permanently unavailable\n", "reader", 0, true, "Log in to server failed"},
        {"S: hello there\n", "reader", 0, true, "Log in to server failed"},  // no code is no welcome either
        {"S: 480 login\nC: USER reader\nS: 502 no\n", "reader", 0, true, "Log in to server failed"},
        {"S: 480 login\nC: USER reader\nS: 381 pw\nC: PASS s3cret\nS: 481 rejected\n", "reader", 0, false,
         "Authentication failed"},
        {"S: 480 login first\n", "", 0, false, "Authentication failed"},
        {"S: 480 login first\n", "", 1, false, "Authentication failed"},
        {"S: 480 login first\nC: USER late\nS: 281 ok\n", "", 2, false, ""}};
    for (const auto& k : cases) {
        const bool ok = !*k.Error;
        TScriptedServer server;
        server.Script(k.Script).Script("C: QUIT\nS: 205 bye\n").ExpectClose();
        auto c = ClientFor(server);
        c->SetUserId(k.User);
        c->SetPassword("s3cret");
        int connects = 0, failed = 0, asked = 0;
        c->OnConnect = [&](TObject*) { ++connects; };
        c->OnAuthenticationFailed = [&](TObject*) { ++failed; };
        if (k.Handler)
            c->OnAuthenticationNeeded = [&](bool& handled) {
                ++asked;
                if (k.Handler == 1) return;
                c->SetUserId("late");
                handled = true;
            };
        c->Disconnect();  // not connected yet: nothing is sent
        const auto connect = [&] { c->Connect(); };
        EXPECT_EQ(k.SockError ? MessageOf<ESockError>(connect) : MessageOf<NNTPError>(connect), k.Error) << k.Script;
        EXPECT_EQ(c->Connected(), ok) << k.Script;
        EXPECT_EQ(connects, ok ? 1 : 0);
        EXPECT_EQ(failed, std::string(k.Script).find("481") != std::string::npos ? 1 : 0) << k.Script;
        EXPECT_EQ(asked, k.Handler ? 1 : 0);
        EXPECT_FALSE(c->Busy());
        c->Disconnect();
        EXPECT_FALSE(c->Connected());
        EXPECT_TRUE(server.Finished()) << k.Script;
    }
}

// GROUP takes the article numbers and fires OnGroupSelect; 411 keeps the group. While the
// login runs (Busy) a selection does nothing; unconnected it needs the connection unless
// the cache mode is local.
TEST(NntpClient, GroupSelection)
{
    TScriptedServer server;
    server.Script("S: 480 login\nC: USER u\nS: 281 ok\nC: GROUP misc.test\nS: 211 1234 3000234 3002322 misc.test\n"
                  "C: GROUP no.such\nS: 411 no such group\nC: GROUP tiny\nS: 211 0 5 9\n");
    auto c = ClientFor(server);
    int selects = 0;
    c->OnGroupSelect = [&](TObject*) { ++selects; };
    EXPECT_EQ(MessageOf<Exception>([&] { c->SelectGroup("misc.test"); }), "Not Connected");
    EXPECT_FALSE(c->Busy());
    bool busyInside = false;
    c->OnAuthenticationNeeded = [&](bool& handled) {
        busyInside = c->Busy();
        c->SelectGroup("during");  // ignored, nothing is sent
        c->SetUserId("u");
        c->SetPassword("p");
        handled = true;
    };
    c->Connect();
    EXPECT_TRUE(busyInside);
    EXPECT_EQ(selects, 0);
    c->SelectGroup("misc.test");
    EXPECT_EQ(c->CurrentGroup(), "misc.test");
    EXPECT_EQ(c->FirstArticle(), 3000234);
    EXPECT_EQ(c->LastArticle(), 3002322);
    EXPECT_EQ(MessageOf<NNTPError>([&] { c->SelectGroup("no.such"); }), "Invalid Group");
    EXPECT_EQ(c->CurrentGroup(), "misc.test");
    EXPECT_EQ(selects, 1);
    EXPECT_FALSE(c->Busy());
    c->SelectGroup("tiny");  // the last field ends the line
    EXPECT_EQ(c->FirstArticle(), 5);
    EXPECT_EQ(c->LastArticle(), 9);
    EXPECT_TRUE(server.Finished());

    TNntpClient local;
    local.SetCacheMode(cmLocal);  // no server asked
    local.SelectGroup("misc.test");
    EXPECT_EQ(local.CurrentGroup(), "misc.test");
}

// On 412 the current group is selected again and the command repeated; without a current
// group only a handler that selects one saves the command. Endless 412s are bounded.
TEST(NntpClient, A412ReselectsAndRepeats)
{
    struct { bool HasGroup; bool HasHandler; bool HandlerSelects; int Repeats; const char* Error; } cases[] = {
        {false, false, false, 0, "No Group Selected"}, {false, true, false, 0, "No Group Selected"},
        {false, true, true, 0, ""}, {true, false, false, 0, ""}, {true, true, false, 0, ""},
        {true, false, false, TNntpClient::MaxGroupReselects, "No Group Selected"}};
    for (const auto& c : cases) {
        const std::string group = c.HandlerSelects ? "chosen" : "g";
        TScriptedServer server;
        server.Script("S: 200 ready\n");
        if (c.HasGroup) server.Script("C: GROUP g\nS: 211 10 1 10 g\n");
        server.Script("C: NEXT\nS: 412 no group\n");
        if (c.HandlerSelects) server.Script("C: GROUP chosen\nS: 211 1 7 7 chosen\n");
        for (int i = 0; i < c.Repeats; ++i) server.Script("C: GROUP g\nS: 211 1 1 1 g\nC: NEXT\nS: 412 again\n");
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

TEST(NntpClient, ACancelSeenByTheReaderClosesWithoutQuit)
{
    TScriptedServer server;
    server.SendLine("200 ready").Pause(100).SendLine("late data").ExpectClose();
    auto c = ClientFor(server);
    c->Connect();
    c->Cancel();
    for (int i = 0; i < 2500 && c->Connected(); ++i) SleepAndProcessMessages(2);
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->InBuffer().Size(), 0);
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.Received(), "");
}

// The post record views the post header (also after it is replaced by a copy);
// the directories keep one trailing backslash.
TEST(NntpClient, PropertiesAndThePostRecord)
{
    TNntpClient c;
    TPostRecordType& r = c.PostRecord();
    EXPECT_EQ(r.List(), &c.PostHeader());
    EXPECT_EQ(r.PrArticleId(), 0);  // absent
    r.SetPrSubject("Hello");
    r.SetPrFromAddress("a@b.test");
    r.SetPrNewsGroups("misc.test");
    r.SetPrAppName("Quillcast");
    EXPECT_EQ(c.PostHeader().GetValue("Subject"), " Hello");
    EXPECT_EQ(c.PostHeader().GetValue("X-Newsreader"), " Quillcast");
    EXPECT_EQ(r.PrFromAddress(), "a@b.test");
    c.PostHeader().Add("ArtID: 42");
    EXPECT_EQ(r.PrArticleId(), 42);
    c.PostHeader().SetValue("ArtID", "forty-two");
    EXPECT_EQ(r.PrArticleId(), 0);
    TStringList other;
    other.Add("Subject: Replaced");
    c.SetPostHeader(other);
    other.Clear();
    EXPECT_EQ(r.PrSubject(), "Replaced");

    const std::pair<const char*, const char*> dirs[] = {
        {"C:\\News", "C:\\News\\"}, {"C:\\News\\", "C:\\News\\"}, {"", "\\"}};
    for (const auto& [given, stored] : dirs) {
        c.SetNewsDir(given);
        c.SetAttachFilePath(given);
        EXPECT_EQ(c.NewsDir(), stored);
        EXPECT_EQ(c.AttachFilePath(), stored);
    }
}
