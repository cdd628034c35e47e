// The SMTP conversation against the scripted loopback server: every command the client
// sends is checked by the script, every reply is the script's.
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/MessagePump.h"
#include "smtp/SmtpClient.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "transport/SockErrors.h"

namespace {

const char* const Hello = "S: 220 ready\nC: HELO me\nS: 250 hi\n";
const char* const Bye = "C: QUIT\nS: 221 bye\n";

template <typename F>
std::string ErrorOf(F&& Fn)
{
    try {
        Fn();
    } catch (const std::exception& E) {
        return E.what();
    }
    return "";
}

// Points a client at a scripted server. A client that waits for a reply the script never
// sends fails after 5 s instead of hanging.
void Aim(TSmtpClient& Client, const TScriptedServer& Server, const char* UserID = "me")
{
    Client.SetHost("127.0.0.1");
    Client.SetPort(Server.Port());
    Client.SetUserID(UserID);
    Client.SetReplyTimeOut(5000);
}

class SmtpClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Aim(Client, Server);
        Client.OnConnect = [this](TObject*) { Events.push_back("Connect"); };
        Client.OnSendStart = [this](TObject*) { Events.push_back("SendStart"); };
        Client.OnSuccess = [this](TObject*) { Events.push_back("Success"); };
        Client.OnFailure = [this](TObject*) { Events.push_back("Failure"); };
        Client.OnRecipientNotFound = [this](const std::string& R) { Events.push_back("NotFound " + R); };
        Client.OnPacketSent = [this](TObject*) {
            if (Events.empty() || Events.back() != "Packet")
                Events.push_back("Packet");
        };
        Client.OnAttachmentNotFound = [this](const std::string& F) { Events.push_back("NoFile " + F); };
    }

    void Simple(const std::vector<std::string>& To)
    {
        TPostMessage& M = Client.PostMessage();
        M.SetFromAddress("me@x.test");
        for (const std::string& T : To)
            M.ToAddress().Add(T);
        M.Body().Add("Hello");
    }

    // DATA accepted, the data read to its end, then ".".
    void Data(const std::string& EndReply = "250 queued")
    {
        Server.Script("C: DATA\nS: 354 go\n");
        Server.ExpectUntil("\r\n.\r\n");
        Server.SendLine(EndReply);
    }

    TScriptedServer Server;
    TSmtpClient Client;
    std::vector<std::string> Events;
};

using Events = std::vector<std::string>;

TEST_F(SmtpClientTest, NewClientDefaults)
{
    TSmtpClient Fresh;
    EXPECT_EQ(Fresh.Port(), 25);
    EXPECT_EQ(Fresh.EncodeType(), uuMime);
    EXPECT_TRUE(Fresh.ClearParams());
    EXPECT_EQ(Fresh.SubType(), mtPlain);
    EXPECT_EQ(Fresh.UserID(), "");
    EXPECT_FALSE(Fresh.Busy());
}

// ---- Connect

struct ConnectCase {
    const char* Name;
    std::function<void(TScriptedServer&)> Script;
    const char* Error;  // "" when Connect succeeds
};

TEST_F(SmtpClientTest, GreetingAndHeloOutcomes)
{
    const ConnectCase Cases[] = {
        {"continuation lines of greeting and HELO",
         [](TScriptedServer& S) {
             S.SendLine("220-first").SendLine(" blank-led").SendLine("220-third").SendLine("220 last");
             S.Expect("HELO me").SendLine("250-one").SendLine("250 two").Script(Bye);
         },
         ""},
        {"greeting 399 accepted", [](TScriptedServer& S) { S.Script("S: 399 odd\nC: HELO me\nS: 250 ok\n").Script(Bye); }, ""},
        {"greeting 400 refused", [](TScriptedServer& S) { S.Script("S: 400 no\n").Script(Bye); }, "400 no\r\n"},
        {"refused greeting raises its last line",
         [](TScriptedServer& S) { S.Script("S: 421-busy\nS: 421 try later\n").Script(Bye); }, "421 try later\r\n"},
        {"greeting without a code refused", [](TScriptedServer& S) { S.Script("S: hello there\n").Script(Bye); },
         "hello there\r\n"},
        {"greeting line wins over a failing QUIT",
         [](TScriptedServer& S) { S.Script("S: 421 closing\n").Close(); }, "421 closing\r\n"},
        {"HELO 299 accepted", [](TScriptedServer& S) { S.Script("S: 220 hi\nC: HELO me\nS: 299 ok\n").Script(Bye); }, ""},
        {"HELO 300 refused", [](TScriptedServer& S) { S.Script("S: 220 hi\nC: HELO me\nS: 300 no\n").Script(Bye); },
         "Authentication failed"},
        {"HELO without a code refused",
         [](TScriptedServer& S) { S.Script("S: 220 hi\nC: HELO me\nS: ok\n").Script(Bye); }, "Authentication failed"},
    };
    for (const ConnectCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TScriptedServer S;
        C.Script(S);
        S.Start();
        TSmtpClient Cl;
        int Connects = 0;
        Cl.OnConnect = [&](TObject*) { ++Connects; };
        Aim(Cl, S);
        const std::string Error = ErrorOf([&] { Cl.Connect(); });
        EXPECT_EQ(Error, C.Error);
        EXPECT_EQ(Connects, *C.Error ? 0 : 1);
        EXPECT_FALSE(Cl.Busy());
        if (!*C.Error) {
            EXPECT_EQ(ErrorOf([&] { Cl.Disconnect(); }), "");
        }
        EXPECT_FALSE(Cl.Connected());
        EXPECT_TRUE(S.Finished());
    }
}

TEST_F(SmtpClientTest, RefusedHeloRetriedOnceWithTheHandlersUserId)
{
    Server.Script("S: 220 hi\nC: HELO me\nS: 550 who\nC: HELO other\nS: 250 ok\n").Script(Bye);
    Server.Start();
    int Asked = 0;
    Client.OnAuthenticationFailed = [&](bool& Handled) {
        ++Asked;
        Client.SetUserID("other");
        Handled = true;
    };
    ASSERT_EQ(ErrorOf([&] { Client.Connect(); }), "");
    EXPECT_EQ(Asked, 1);
    EXPECT_EQ(Events, (::Events{"Connect"}));
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, HeloRefusedTwiceOrDeclinedFails)
{
    for (bool Accept : {true, false}) {
        SCOPED_TRACE(Accept ? "refused twice" : "handler declines");
        TScriptedServer S;
        S.Script("S: 220 hi\nC: HELO \nS: 550 who\n");
        if (Accept)
            S.Script("C: HELO \nS: 550 still no\n");
        S.Script(Bye).Start();
        TSmtpClient Cl;
        Aim(Cl, S, "");
        int Asked = 0;
        bool Connected = false;
        Cl.OnConnect = [&](TObject*) { Connected = true; };
        Cl.OnAuthenticationFailed = [&](bool& Handled) {
            ++Asked;
            Handled = Accept;
        };
        EXPECT_EQ(ErrorOf([&] { Cl.Connect(); }), "Authentication failed");
        EXPECT_EQ(Asked, 1);
        EXPECT_FALSE(Connected);
        EXPECT_FALSE(Cl.Connected());
        EXPECT_TRUE(S.Finished());
    }
}

TEST_F(SmtpClientTest, QuitThresholdIs339)
{
    for (const char* Reply : {"339 fine", "340 odd"}) {
        SCOPED_TRACE(Reply);
        TScriptedServer S;
        S.Script(Hello).Expect("QUIT").SendLine(Reply).Start();
        TSmtpClient Cl;
        Aim(Cl, S);
        Cl.Connect();
        const bool Refused = Reply[2] == '0';
        EXPECT_EQ(ErrorOf([&] { Cl.Disconnect(); }), Refused ? std::string(Reply) + "\r\n" : "");
        EXPECT_FALSE(Cl.Connected());
        EXPECT_TRUE(S.Finished());
    }
}

TEST_F(SmtpClientTest, DisconnectAfterCancelStillSaysQuit)
{
    Server.Script(Hello).Script(Bye).Start();
    Client.Connect();
    Client.Cancel();
    EXPECT_EQ(ErrorOf([&] { Client.Disconnect(); }), "");
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, SecondConnectLeavesTheConnectionAlone)
{
    Server.Script(Hello).Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.Connect(); }), "Already connected");
    EXPECT_TRUE(Client.Connected());
    EXPECT_FALSE(Client.Busy());
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, DestroyingAConnectedClientSendsNoQuit)
{
    Server.Script(Hello).ExpectClose().Start();
    {
        TSmtpClient Cl;
        Aim(Cl, Server);
        Cl.Connect();
    }
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), "HELO me\r\n");
}

TEST_F(SmtpClientTest, UserIdWithLineBreakIsRefusedBeforeConnecting)
{
    Server.Start();
    Client.SetUserID("me\r\nMAIL FROM:<x>");
    EXPECT_EQ(ErrorOf([&] { Client.Connect(); }), "Invalid character in command");
    EXPECT_EQ(Server.Connections(), 0);
    EXPECT_FALSE(Client.Busy());
}

// ---- SendMail

TEST_F(SmtpClientTest, WholeTransactionTranscript)
{
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.ToAddress().Add("Ann <ann@x.test>");
    M.ToAddress().Add("to:bob@x.test");
    M.ToCarbonCopy().Add("carl@x.test");
    M.ToCarbonCopy().Add("");
    M.ToBlindCarbonCopy().Add("<>");
    M.ToBlindCarbonCopy().Add("dan@x.test");
    M.ToBlindCarbonCopy().Add("eve@x.test<");
    M.Body().Add("Hello");
    M.Body().Add(".");
    M.Body().Add(".x");
    Server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n"
                "C: RCPT TO:<ann@x.test>\nS: 250 ok\nC: RCPT TO:<bob@x.test>\nS: 250 ok\n"
                "C: RCPT TO:<carl@x.test>\nS: 250 ok\nC: RCPT TO:<dan@x.test>\nS: 250 ok\n");
    Data();
    Server.Script(Bye).Start();

    Client.Connect();
    ASSERT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    ASSERT_TRUE(Server.Finished());

    const std::string Expected =
        Client.FinalHeader().Text() + "\r\n\r\n" + "Hello\r\n..\r\n..x\r\n.\r\nQUIT\r\n";
    const std::string Got = Server.Received();
    ASSERT_GE(Got.size(), Expected.size());
    EXPECT_EQ(Got.substr(Got.size() - Expected.size()), Expected);
    EXPECT_EQ(Events, (::Events{"Connect", "SendStart", "Packet", "Success"}));
    // Delivered with ClearParams: recipients and attachments go, the rest stays.
    EXPECT_EQ(M.ToAddress().Count() + M.ToCarbonCopy().Count() + M.ToBlindCarbonCopy().Count(), 0);
    EXPECT_EQ(M.Body().Count(), 3);
    EXPECT_EQ(M.FromAddress(), "me@x.test");
}

TEST(SmtpExtractAddress, EveryEntryForm)
{
    const std::pair<const char*, const char*> Cases[] = {
        {"Ann <ann@x.test>", "ann@x.test"},
        {"to:bob@x.test", "bob@x.test"},
        {"plain@x.test", "plain@x.test"},
        {"<>", ""},
        {"eve@x.test<", ""},
        {"<open@x.test", "open@x.test"},
        {"a<b@x.test<c>", "b@x.test"},
        {"Ann < a b >", " a b "},
        {"to: bob", " bob"},
        {"a::b", ""},
        {"Ann <x:y@z>", "x:y@z"},
        {"", ""},
    };
    for (const auto& [Entry, Address] : Cases)
        EXPECT_EQ(TSmtpClient::ExtractAddress(Entry), Address) << Entry;
}

struct FailureCase {
    const char* Name;
    const char* Script;  // after the greeting, up to the refusal
    bool DataSent;
    const char* EndReply;
    const char* Error;
    ::Events Expected;
};

TEST_F(SmtpClientTest, EveryTransactionFailure)
{
    const char* const Start = "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n";
    const FailureCase Cases[] = {
        {"RSET refused", "C: RSET\nS: 450 busy\n", false, "", "450 busy\r\n", {"SendStart"}},
        {"RSET answered without a code", "C: RSET\nS: what?\n", false, "", "what?\r\n", {"SendStart"}},
        {"MAIL refused", "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 553 no\n", false, "", "553 no\r\n",
         {"SendStart"}},
        {"DATA refused after refused recipients",
         "C: RCPT TO:<a@x.test>\nS: 550 no\nC: RCPT TO:<b@x.test>\nS: 550 no\nC: DATA\nS: 554 no recipients\n",
         false, "", "554 no recipients\r\n", {"SendStart", "NotFound a@x.test", "NotFound b@x.test"}},
        {"end of data refused",
         "C: RCPT TO:<a@x.test>\nS: 250 ok\nC: RCPT TO:<b@x.test>\nS: 250 ok\nC: DATA\nS: 354 go\n", true,
         "552 too big", "552 too big\r\n", {"SendStart", "Packet", "Failure"}},
    };
    for (const FailureCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TScriptedServer S;
        S.Script(Hello);
        if (std::string(C.Script).rfind("C: RSET", 0) != 0)
            S.Script(Start);
        S.Script(C.Script);
        if (C.DataSent)
            S.ExpectUntil("\r\n.\r\n").SendLine(C.EndReply);
        S.Script(Bye).Start();
        TSmtpClient Cl;
        ::Events Got;
        Cl.OnSendStart = [&](TObject*) { Got.push_back("SendStart"); };
        Cl.OnRecipientNotFound = [&](const std::string& R) { Got.push_back("NotFound " + R); };
        Cl.OnPacketSent = [&](TObject*) {
            if (Got.back() != "Packet")
                Got.push_back("Packet");
        };
        Cl.OnFailure = [&](TObject*) { Got.push_back("Failure"); };
        Cl.OnSuccess = [&](TObject*) { Got.push_back("Success"); };
        Aim(Cl, S);
        Cl.PostMessage().SetFromAddress("me@x.test");
        Cl.PostMessage().ToAddress().Add("a@x.test");
        Cl.PostMessage().ToAddress().Add("b@x.test");
        Cl.PostMessage().Body().Add("Hi");
        Cl.Connect();
        EXPECT_EQ(ErrorOf([&] { Cl.SendMail(); }), C.Error);
        EXPECT_EQ(Got, C.Expected);
        EXPECT_FALSE(Cl.Busy());
        EXPECT_EQ(Cl.PostMessage().ToAddress().Count(), 2);  // nothing cleared after a failure
        EXPECT_TRUE(Cl.Connected());
        Cl.Disconnect();
        EXPECT_TRUE(S.Finished());
    }
}

TEST_F(SmtpClientTest, RecipientThresholdIs300AndRefusalsDoNotStopTheTransaction)
{
    Simple({"a@x.test", "b@x.test"});
    Client.PostMessage().ToCarbonCopy().Add("Carl <c@x.test>");
    Client.PostMessage().ToBlindCarbonCopy().Add("d@x.test");
    Server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n"
                "C: RCPT TO:<a@x.test>\nS: 300 odd but fine\nC: RCPT TO:<b@x.test>\nS: 301 no\n"
                "C: RCPT TO:<c@x.test>\nS: 550 no\nC: RCPT TO:<d@x.test>\nS: no code\n");
    Data();
    Server.Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Events, (::Events{"Connect", "SendStart", "NotFound b@x.test", "NotFound Carl <c@x.test>",
                                "NotFound d@x.test", "Packet", "Success"}));
}

TEST_F(SmtpClientTest, MultiLineRepliesAreReadWhole)
{
    Simple({"a@x.test", "b@x.test"});
    Server.Script(Hello)
        .Script("C: RSET\nS: 250-reset\nS: 250 done\nC: MAIL FROM:<me@x.test>\nS: 250-sender\nS: 250 ok\n"
                "C: RCPT TO:<a@x.test>\nS: 550-5.1.1 unknown\nS: 550 5.1.1 really\n"
                "C: RCPT TO:<b@x.test>\nS: 250-fine\nS: 250 ok\nC: DATA\nS: 354-go\nS: 354 on\n");
    Server.ExpectUntil("\r\n.\r\n").SendLine("250-queued").SendLine("250 as 42");
    Server.Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Events, (::Events{"Connect", "SendStart", "NotFound a@x.test", "Packet", "Success"}));
}

TEST_F(SmtpClientTest, DataAnswered250StillSendsTheMessage)
{
    Simple({"a@x.test"});
    Server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n"
                "C: DATA\nS: 250 whatever\n");
    Server.ExpectUntil("Hello\r\n.\r\n").SendLine("250 queued").Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, NotConnectedComesBeforeTheCompletenessCheck)
{
    int Asked = 0;
    Client.OnHeaderIncomplete = [&](bool&, int) { ++Asked; };
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Not Connected");
    EXPECT_EQ(Asked, 0);
    EXPECT_FALSE(Client.Busy());
    // Composition ran first.
    EXPECT_EQ(Client.FinalHeader().Strings(0), "From: <>");
}

TEST_F(SmtpClientTest, IncompleteHeaderAsksOnce)
{
    struct Case {
        const char* From;
        bool Recipient;
        int Type;
    } Cases[] = {{"", false, 1}, {"", true, 1}, {"me@x.test", false, 2}};
    Server.Script(Hello).Script(Bye).Start();
    Client.Connect();
    for (const Case& C : Cases) {
        Client.ClearParameters();
        Client.PostMessage().SetFromAddress(C.From);
        if (C.Recipient)
            Client.PostMessage().ToAddress().Add("");  // an empty entry still counts
        std::vector<int> Types;
        Client.OnHeaderIncomplete = [&](bool& Handled, int Type) {
            Types.push_back(Type);
            Handled = true;  // claims to have fixed it without doing so
        };
        EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Incomplete Header");
        EXPECT_EQ(Types, std::vector<int>{C.Type});
    }
    Client.OnHeaderIncomplete = nullptr;
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Incomplete Header");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());  // nothing was sent between HELO and QUIT
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "SendStart"), 0);
}

TEST_F(SmtpClientTest, HandlerThatSuppliesTheSenderLetsTheTransactionRun)
{
    Simple({"a@x.test"});
    Client.PostMessage().SetFromAddress("");
    Client.OnHeaderIncomplete = [&](bool& Handled, int) {
        Client.PostMessage().SetFromAddress("late@x.test");
        Handled = true;
    };
    Server.Script(Hello).Script(
        "C: RSET\nS: 250 ok\nC: MAIL FROM:<late@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n");
    Data();
    Server.Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, WithoutClearParamsASecondSendGoesToTheSameRecipients)
{
    Simple({"a@x.test"});
    Client.SetClearParams(false);
    Server.Script(Hello);
    for (int i = 0; i < 2; ++i) {
        Server.Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n");
        Data();
    }
    Server.Script(Bye).Start();
    Client.Connect();
    Client.SendMail();
    EXPECT_EQ(Client.PostMessage().ToAddress().Count(), 1);
    Client.SendMail();
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, BusyKeepsASecondSendOut)
{
    Simple({"a@x.test"});
    Server.Script(Hello).Script(
        "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n");
    Data();
    Server.Script(Bye).Start();
    Client.Connect();
    EXPECT_FALSE(Client.Busy());
    bool BusyInside = false, BusyAtSuccess = true;
    Client.OnSendStart = [&](TObject*) {
        BusyInside = Client.Busy();
        Client.SendMail();  // returns at once: nothing composed, sent or raised
        Events.push_back("SendStart");
    };
    Client.OnSuccess = [&](TObject*) { BusyAtSuccess = Client.Busy(); };
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "");
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
    EXPECT_TRUE(BusyInside);
    EXPECT_FALSE(BusyAtSuccess);
    EXPECT_EQ(std::count(Events.begin(), Events.end(), "SendStart"), 1);
}

TEST_F(SmtpClientTest, LineBreakInAnEnvelopeAddressSendsNothing)
{
    const std::pair<std::string, std::string> Cases[] = {
        {"me@x.test\r\nRCPT TO:<evil@x.test>", "a@x.test"},
        {"me@x.test", "Ann <a@x.test\nDATA>"},
        {"me@x.test", std::string("a@x.test\0b", 10)},
    };
    Server.Script(Hello).Script(Bye).Start();
    Client.Connect();
    for (const auto& [From, To] : Cases) {
        Client.ClearParameters();
        Client.PostMessage().SetFromAddress(From);
        Client.PostMessage().ToBlindCarbonCopy().Add(To);
        EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Invalid character in command") << From << " " << To;
    }
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Events, (::Events{"Connect"}));
}

TEST_F(SmtpClientTest, MissingAttachmentFailsBeforeAnyCommand)
{
    TTempDir Dir;
    const std::string Present = Dir.Write("present.bin", "abc");
    const std::string Missing = Dir.File("missing.bin");
    Simple({"a@x.test"});
    Client.PostMessage().Attachments().Add(Present);
    Client.PostMessage().Attachments().Add(Missing);
    Server.Script(Hello).Script(Bye).Start();
    Client.Connect();
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Cannot open file " + Missing);
    Client.Disconnect();
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Events, (::Events{"Connect", "NoFile " + Missing}));
}

TEST_F(SmtpClientTest, CancelEndsAWaitForAReply)
{
    Simple({"a@x.test"});
    Server.Script(Hello).Expect("RSET").Script(Bye).Start();
    Client.Connect();
    QTimer::singleShot(100, [&] { Client.Cancel(); });
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Socket readln aborted");
    EXPECT_FALSE(Client.Busy());
    EXPECT_EQ(ErrorOf([&] { Client.Disconnect(); }), "");
    EXPECT_TRUE(Server.Finished());
}

TEST_F(SmtpClientTest, ReplyArrivingAfterCancelDropsTheConnectionWithoutQuit)
{
    Simple({"a@x.test"});
    Server.Script(Hello).Expect("RSET").Pause(300).SendLine("250 late").ExpectClose().Start();
    Client.Connect();
    QTimer::singleShot(50, [&] { Client.Cancel(); });
    EXPECT_EQ(ErrorOf([&] { Client.SendMail(); }), "Socket readln aborted");
    // The late reply's notification runs the abort hook.
    for (int i = 0; i < 2500 && Client.Connected(); ++i)
        SleepAndProcessMessages();
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.InBuffer().Size(), 0);
    EXPECT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), "HELO me\r\nRSET\r\n");
}

}  // namespace
