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
    c->SetReplyTimeOut(5000);
    return c;
}
}  // namespace

// Each outcome of the greeting, USER and PASS replies: 200 needs no login (no USER before
// the QUIT); 480 leads to USER and PASS, missing credentials asked of the handler once
// (while the login runs the client is Busy, and a group selection does nothing). Every
// failed login says QUIT and hangs up; a reply without a code is no welcome either; only a
// refused password is reported as an authentication failure. Disconnect says QUIT only
// while connected.
TEST(NntpClient, Logins)
{
    // Supply: the handler asked for missing credentials supplies them (otherwise it declines).
    // clang-format off
    struct { const char* Script; const char* User; bool Supply; bool SockError; const char* Error; const char* Events; }
    cases[] = {
        {"S: 200 news.example ready\n", "u", false, false, "", "connect "},
        {"S: 480\nC: USER u\nS: 381\nC: PASS pw\nS: 281 ok\n", "u", false, false, "", "connect "},
        {"S: 400 service temporarily unavailable\n", "u", false, true, "Log in to server failed", ""},
        {"S: hello there\n", "u", false, true, "Log in to server failed", ""},
        {"S: 480 login\nC: USER u\nS: 502 no\n", "u", false, true, "Log in to server failed", ""},
        {"S: 480\nC: USER u\nS: 381\nC: PASS pw\nS: 481\n", "u", false, false, "Authentication failed", "failed "},
        {"S: 480 login first\n", "", false, false, "Authentication failed", "asked "},
        {"S: 480 login first\nC: USER late\nS: 281 ok\n", "", true, false, "", "asked connect "}};
    // clang-format on
    for (const auto& k : cases) {
        TScriptedServer server;
        server.Script(k.Script).Script("C: QUIT\nS: 205 bye\n").ExpectClose();
        auto c = ClientFor(server);
        c->SetUserId(k.User);
        c->SetPassword("pw");
        std::string events;
        c->OnConnect = [&](TObject*) { events += "connect "; };
        c->OnAuthenticationFailed = [&](TObject*) { events += "failed "; };
        c->OnAuthenticationNeeded = [&](bool& handled) {
            events += "asked ";
            EXPECT_TRUE(c->Busy());
            c->SelectGroup("during");  // ignored: nothing is sent
            c->SetUserId(k.Supply ? "late" : "");
            handled = k.Supply;
        };
        c->Disconnect();  // not connected yet: nothing is sent
        const auto connect = [&] { c->Connect(); };
        EXPECT_EQ(k.SockError ? MessageOf<ESockError>(connect) : MessageOf<NNTPError>(connect), k.Error) << k.Script;
        EXPECT_EQ(events, k.Events) << k.Script;
        EXPECT_EQ(c->Connected(), !*k.Error) << k.Script;
        EXPECT_FALSE(c->Busy());
        c->Disconnect();
        EXPECT_TRUE(server.Finished()) << k.Script;
    }
}

// One conversation through the group replies. GROUP takes the article numbers (the last
// field ends the line) and fires OnGroupSelect; 411 keeps the group. On 412 without a
// current group only a handler that selects one saves the command; with one, it is
// selected again and the command repeated, but endless 412s are bounded. Unconnected, a
// selection needs the connection.
TEST(NntpClient, GroupReplies)
{
    TScriptedServer server;
    server.Script(
        "S: 200 ready\nC: NEXT\nS: 412 no group\nC: NEXT\nS: 412 no group\nC: GROUP chosen\nS: 211 0 5 9\n"
        "C: GROUP chosen\nS: 211 0 5 9\nC: NEXT\nS: 223 7 <a@b>\nC: GROUP no.such\nS: 411 no such group\n");
    for (int i = 0; i < TNntpClient::MaxGroupReselects; ++i)
        server.Script("C: NEXT\nS: 412 again\nC: GROUP chosen\nS: 211 1 1 1 chosen\n");
    server.Script("C: NEXT\nS: 412 again\n");
    auto c = ClientFor(server);
    int selects = 0;
    c->OnGroupSelect = [&](TObject*) { ++selects; };
    EXPECT_EQ(MessageOf<Exception>([&] { c->SelectGroup("chosen"); }), "Not Connected");
    c->Connect();
    std::string reply;
    const auto next = [&] { return MessageOf<Exception>([&] { c->Transaction("NEXT", reply); }); };
    EXPECT_EQ(next(), "No Group Selected");  // no group, no handler
    c->OnGroupSelectRequired = [&](bool& handled) {
        c->SelectGroup("chosen");
        handled = true;
    };
    EXPECT_EQ(next(), "");
    EXPECT_EQ(reply, "223 7 <a@b>\r\n");
    EXPECT_EQ(c->FirstArticle(), 5);
    EXPECT_EQ(c->LastArticle(), 9);
    EXPECT_EQ(MessageOf<NNTPError>([&] { c->SelectGroup("no.such"); }), "Invalid Group");
    EXPECT_EQ(c->CurrentGroup(), "chosen");
    EXPECT_EQ(selects, 2);
    c->OnGroupSelectRequired = nullptr;
    EXPECT_EQ(next(), "No Group Selected");
    EXPECT_FALSE(c->Busy());
    EXPECT_TRUE(server.Finished());
}

TEST(NntpClient, ACancelSeenByTheReaderClosesWithoutQuit)
{
    TScriptedServer server;
    server.SendLine("200 ready").Pause(100).SendLine("late data").ExpectClose();
    auto c = ClientFor(server);
    c->Connect();
    c->Cancel();
    EXPECT_TRUE(PumpUntil([&] { return !c->Connected(); }));
    EXPECT_EQ(c->InBuffer().Size(), 0);
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.Received(), "");
}
