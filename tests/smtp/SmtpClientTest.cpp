// The SMTP conversation against the scripted loopback server: every command the client
// sends is checked by the script, every reply is the script's.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "smtp/SmtpClient.h"
#include "support/TempDir.h"
#include "transport/TransportFixture.h"  // MessageOf, PumpUntil

namespace {

using Events = std::vector<std::string>;
const std::string Hello = "S: 220 ready\nC: HELO me\nS: 250 hi\n";
const std::string Bye = "C: QUIT\nS: 221 bye\n";
const std::string Envelope =
    "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n";
const std::string Data = "C: DATA\nS: 354 go\nD:\nS: 250 queued\n";

std::string ErrorOf(const std::function<void()>& Fn) { return MessageOf<Exception>(Fn); }

void Connect(TSmtpClient& C) { C.Connect(); }
void ConnectSend(TSmtpClient& C)
{
    C.Connect();
    C.SendMail();
}
void ConnectSendQuit(TSmtpClient& C)
{
    C.Connect();
    C.SendMail();
    C.Disconnect();
}

// A client aimed at a scripted server, recording its events, with a message from me@x.test
// to a@x.test, body "Hello". A client that waits for a reply the script never sends fails
// after 5 s instead of hanging.
struct TSession {
    TScriptedServer Server;
    TSmtpClient Client;
    Events Got;

    TSession()
    {
        Client.SetHost("127.0.0.1");
        Client.SetPort(Server.Port());
        Client.SetUserID("me");
        Client.SetReplyTimeOut(5000);
        auto Log = [this](const char* Name) { return [this, Name](TObject*) { Got.push_back(Name); }; };
        Client.OnConnect = Log("Connect");
        Client.OnSendStart = Log("SendStart");
        Client.OnSuccess = Log("Success");
        Client.OnFailure = Log("Failure");
        Client.OnRecipientNotFound = [this](const std::string& R) { Got.push_back("NotFound " + R); };
        Client.OnPacketSent = Log("Packet");  // once: every message here is one packet
        Client.PostMessage().SetFromAddress("me@x.test");
        Client.PostMessage().ToAddress().Add("a@x.test");
        Client.PostMessage().Body().Add("Hello");
    }
    // Starts the server on Script, then runs Fn; its error text, "" for none.
    std::string Run(const std::string& Script, const std::function<void(TSmtpClient&)>& Fn = Connect)
    {
        Server.Script(Script).Start();
        return ErrorOf([&] { Fn(Client); });
    }
};

// Every reply outcome once, at each threshold: greeting, HELO (and its one retry), QUIT and
// the commands of a transaction. A multi-line reply is read whole and a refusal gives its
// last line; a reply without a code is a refusal; the first error wins.
TEST(SmtpReplies, EveryOutcomeWithItsEvents)
{
    enum { None, Declines, Retries, Renames };  // what OnAuthenticationFailed does
    const std::string Rcpt = Hello + "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\n";
    // clang-format off
    const struct {
        const char* Name;
        std::string Script;
        bool Send;  // SendMail after Connect
        int Handler;
        const char* Error;  // of Connect, SendMail and Disconnect in turn; "" when all succeed
        Events Expected;
    } Cases[] = {
        {"continuation lines; greeting 399, HELO 299, QUIT 339",
         "S: 399-first\nS:  blank-led\nS: 399 last\nC: HELO me\nS: 299-one\nS: 299 two\nC: QUIT\nS: 339 fine\n", false,
         None, "", {"Connect"}},
        {"greeting 400 gives its last line", "S: 400-busy\nS: 400 try later\n" + Bye, false, None, "400 try later\r\n", {}},
        {"greeting without a code", "S: hello there\n" + Bye, false, None, "hello there\r\n", {}},
        {"greeting line wins over a failing QUIT", "S: 421 closing\nX:\n", false, None, "421 closing\r\n", {}},
        {"HELO 300", "S: 220 hi\nC: HELO me\nS: 300 no\n" + Bye, false, None, "Authentication failed", {}},
        {"HELO without a code", "S: 220 hi\nC: HELO me\nS: ok\n" + Bye, false, None, "Authentication failed", {}},
        {"HELO again with the handler's user ID", "S: 220 hi\nC: HELO me\nS: 550 who\nC: HELO \nS: 250 ok\n" + Bye,
         false, Renames, "", {"AuthFailed", "Connect"}},
        {"HELO refused twice", "S: 220 hi\nC: HELO me\nS: 550 who\nC: HELO me\nS: 550 still\n" + Bye, false, Retries,
         "Authentication failed", {"AuthFailed"}},
        {"handler declines", "S: 220 hi\nC: HELO me\nS: 550 who\n" + Bye, false, Declines, "Authentication failed",
         {"AuthFailed"}},
        {"QUIT 340", Hello + "C: QUIT\nS: 340 odd\n", false, None, "340 odd\r\n", {"Connect"}},
        {"RSET 400", Hello + "C: RSET\nS: 400 busy\n" + Bye, true, None, "400 busy\r\n", {"Connect", "SendStart"}},
        {"RSET without a code", Hello + "C: RSET\nS: what?\n" + Bye, true, None, "what?\r\n", {"Connect", "SendStart"}},
        {"DATA refused after a refused recipient", Rcpt + "S: 550 no\nC: DATA\nS: 554 no recipients\n" + Bye, true,
         None, "554 no recipients\r\n", {"Connect", "SendStart", "NotFound a@x.test"}},
        {"end of data refused", Rcpt + "S: 250 ok\nC: DATA\nS: 354 go\nD:\nS: 552 too big\n" + Bye, true, None,
         "552 too big\r\n", {"Connect", "SendStart", "Packet", "Failure"}},
    };
    // clang-format on
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TSession S;
        if (C.Handler != None)
            S.Client.OnAuthenticationFailed = [&](bool& Handled) {
                S.Got.push_back("AuthFailed");
                Handled = C.Handler != Declines;
                if (C.Handler == Renames) S.Client.SetUserID("");
            };
        std::string Errors = S.Run(C.Script, C.Send ? ConnectSend : Connect);
        if (S.Client.Connected()) {
            EXPECT_EQ(ErrorOf([&] { S.Client.Connect(); }), "Already connected");  // and leaves the connection alone
            Errors += ErrorOf([&] { S.Client.Disconnect(); });
        }
        EXPECT_EQ(Errors, C.Error);
        EXPECT_EQ(S.Got, C.Expected);
        EXPECT_FALSE(S.Client.Busy());
        EXPECT_FALSE(S.Client.Connected());
        EXPECT_TRUE(S.Server.Finished());
        EXPECT_EQ(S.Client.PostMessage().ToAddress().Count(), 1);  // nothing cleared after a failure
    }
}

// Recipient forms, order and thresholds, multi-line replies, DATA answered 250, dot lines,
// the events in order, Busy, ClearParams; and the protocol log of it all is the script again.
TEST(SmtpSendMail, WholeTransaction)
{
    const std::string Script =
        Hello +
        "C: RSET\nS: 399-reset\nS: 399 done\nC: MAIL FROM:<me@x.test>\nS: 250-sender\nS: 250 ok\n"
        "C: RCPT TO:<ann@x.test>\nS: 300 odd but fine\nC: RCPT TO:<bob@x.test>\nS: 301 no\n"
        "C: RCPT TO:<c@x.test>\nS: 550-5.1.1 unknown\nS: 550 5.1.1 really\n"
        "C: RCPT TO:<carl@x.test>\nS: 550 no\nC: RCPT TO:<dan@x.test>\nS: no code\n"
        "C: DATA\nS: 250-whatever\nS: 250 go on\nD:\nS: 250-queued\nS: 250 as 42\n" +
        Bye;
    TTempDir Dir;
    TSession S;
    TPostMessage& M = S.Client.PostMessage();
    M.ToAddress().SetText("Ann <ann@x.test>\r\nto:bob@x.test\r\nc@x.test");
    M.ToCarbonCopy().SetText("Carl <carl@x.test>\r\n\r\n");  // and an empty entry
    M.ToBlindCarbonCopy().SetText("<>\r\ndan@x.test\r\neve@x.test<");
    M.Body().SetText("Hello\r\n.\r\n.x");
    bool BusyInside = false, BusyAtSuccess = true;
    S.Client.OnSendStart = [&](TObject*) {
        BusyInside = S.Client.Busy();
        S.Client.SendMail();  // returns at once: nothing composed, sent or raised
        S.Got.push_back("SendStart");
    };
    S.Client.OnSuccess = [&](TObject*) { BusyAtSuccess = S.Client.Busy(); };
    setenv("QUILLCAST_LOG", Dir.File("conversation.log").c_str(), 1);
    EXPECT_EQ(S.Run(Script, ConnectSendQuit), "");
    unsetenv("QUILLCAST_LOG");
    ASSERT_TRUE(S.Server.Finished());

    const std::string Expected = S.Client.FinalHeader().Text() + "\r\n\r\nHello\r\n..\r\n..x\r\n.\r\nQUIT\r\n";
    const std::string Sent = S.Server.Received();
    ASSERT_GE(Sent.size(), Expected.size());
    EXPECT_EQ(Sent.substr(Sent.size() - Expected.size()), Expected);
    EXPECT_EQ(S.Client.ComposedSize(), static_cast<int64_t>(Expected.size() - 9));  // no ".", no QUIT
    EXPECT_EQ(S.Got, (Events{"Connect", "SendStart", "NotFound to:bob@x.test", "NotFound c@x.test",
                             "NotFound Carl <carl@x.test>", "NotFound dan@x.test", "Packet"}));
    EXPECT_TRUE(BusyInside);
    EXPECT_FALSE(BusyAtSuccess);
    // Delivered with ClearParams: recipients go, the rest stays.
    EXPECT_EQ(M.ToAddress().Count() + M.ToCarbonCopy().Count() + M.ToBlindCarbonCopy().Count(), 0);
    EXPECT_EQ(M.Body().Count(), 3);
    EXPECT_EQ(M.FromAddress(), "me@x.test");

    // The protocol log is the script again, with the message as its header lines, the empty
    // lines the header block ends with, and the size of the body.
    std::string Message;
    for (const std::string& Line : S.Client.FinalHeader().Items()) Message += "C: " + Line + "\n";
    Message += "C: \nC: \nC: [" + std::to_string(S.Client.BodyStream().Size()) + " bytes of stream data]\nC: .\n";
    std::string Logged = Script;
    EXPECT_EQ(Dir.Read("conversation.log"), Logged.replace(Logged.find("D:\n"), 3, Message));
}

// Handlers that connect and supply the sender from inside SendMail; without ClearParams the
// recipients stay for the next send.
TEST(SmtpSendMail, HandlersRepairTheSendWithoutClearParams)
{
    TSession S;
    S.Client.PostMessage().SetFromAddress("");
    bool BusyAfterConnect = false;
    S.Client.OnConnectionRequired = [&](bool& Handled) {
        S.Client.Connect();
        BusyAfterConnect = S.Client.Busy();  // a Connect inside SendMail leaves it set
        Handled = true;
    };
    S.Client.OnHeaderIncomplete = [&](bool& Handled, int) {
        S.Client.PostMessage().SetFromAddress("me@x.test");
        Handled = true;
    };
    S.Client.SetClearParams(false);
    EXPECT_EQ(S.Run(Hello + Envelope + Data + Bye, [](TSmtpClient& C) { C.SendMail(); }), "");
    EXPECT_EQ(ErrorOf([&] { S.Client.Disconnect(); }), "");
    EXPECT_TRUE(S.Server.Finished());
    EXPECT_TRUE(BusyAfterConnect);
    EXPECT_EQ(S.Got, (Events{"Connect", "SendStart", "Packet", "Success"}));
    EXPECT_EQ(S.Client.PostMessage().ToAddress().Count(), 1);
}

// Sends refused before any command: nothing reaches the server between HELO and QUIT,
// and the connection stays for the next send.
TEST(SmtpSendMail, RefusedBeforeAnyCommand)
{
    TSmtpClient Lone;
    Lone.OnHeaderIncomplete = [](bool&, int) { ADD_FAILURE() << "asked while not connected"; };
    EXPECT_EQ(ErrorOf([&] { Lone.SendMail(); }), "Not Connected");
    EXPECT_FALSE(Lone.Busy());
    EXPECT_EQ(Lone.FinalHeader().Strings(0), "From: <>");  // composition ran first

    TSession S;
    ASSERT_EQ(S.Run(Hello + Bye), "");
    TSmtpClient& C = S.Client;
    const struct {
        std::string From;
        std::vector<std::string> Bcc;
        int Type;  // what OnHeaderIncomplete is asked, 0: no handler
        std::string Error;
    } Cases[] = {
        {"", {}, 1, "Incomplete Header"},
        {"me@x.test", {}, 2, "Incomplete Header"},
        {"me@x.test", {}, 0, "Incomplete Header"},
        {"me@x.test\r\nRCPT TO:<evil@x.test>", {"a@x.test"}, 0, "Invalid character in command"},
        {"me@x.test", {"Ann <a@x.test\nDATA>"}, 0, "Invalid character in command"},
        {"me@x.test", {std::string("a@x.test\0b", 10)}, 0, "Invalid character in command"},
    };
    for (const auto& Case : Cases) {
        C.ClearParameters();
        C.PostMessage().SetFromAddress(Case.From);
        for (const auto& B : Case.Bcc) C.PostMessage().ToBlindCarbonCopy().Add(B);
        std::vector<int> Types;
        C.OnHeaderIncomplete = nullptr;
        if (Case.Type)
            C.OnHeaderIncomplete = [&](bool& Handled, int Type) {
                Types.push_back(Type);
                Handled = true;  // claims to have fixed it without doing so
            };
        EXPECT_EQ(ErrorOf([&] { C.SendMail(); }), Case.Error) << Case.From;
        EXPECT_EQ(Types, Case.Type ? std::vector<int>{Case.Type} : std::vector<int>{});
    }
    C.Disconnect();
    C.SetUserID("me\r\nMAIL FROM:<x>");
    EXPECT_EQ(ErrorOf([&] { C.Connect(); }), "Invalid character in command");
    EXPECT_FALSE(C.Busy());
    EXPECT_TRUE(S.Server.Finished());
    EXPECT_EQ(S.Server.Connections(), 1);
    EXPECT_EQ(S.Got, Events{"Connect"});
}

// An attachment that is shorter or longer when it is sent than when it was composed fails
// the send with a clear error: the message is never ended with ".", and the connection
// closes without QUIT.
TEST(SmtpSendMail, AnAttachmentThatChangesIsNeverDelivered)
{
    for (off_t NewSize : {10, 299999, 300001}) {
        TTempDir Dir;
        TSession S;
        const std::string File = Dir.Write("f.bin", std::string(300000, 'f'));
        S.Client.PostMessage().Attachments().Add(File);
        S.Client.OnSendStart = [&](TObject*) { ASSERT_EQ(::truncate(File.c_str(), NewSize), 0); };
        S.Server.Script(Hello + Envelope + "C: DATA\nS: 354 go\n").Sink();
        EXPECT_EQ(S.Run("", ConnectSend), "Attachment " + File + " changed while it was being sent");
        EXPECT_EQ(ErrorOf([&] { S.Client.Disconnect(); }), "");
        EXPECT_TRUE(S.Server.Finished());
        EXPECT_EQ(S.Server.Received().find("\r\n.\r\n"), std::string::npos) << NewSize;
    }
}

// Stop while SendMail waits for a reply, with part of a reply sometimes buffered already.
TEST(SmtpCancel, CancelEndsTheWait)
{
    for (bool Late : {false, true}) {
        SCOPED_TRACE(Late ? "reply arriving after Stop: dropped without QUIT" : "Disconnect still says QUIT");
        TSession S;
        if (Late) S.Server.Script(Hello + "C: RSET\n").Send("250 la").Pause(300).SendLine("te").ExpectClose();
        ASSERT_EQ(S.Run(Late ? "" : Hello + "C: RSET\n" + Bye), "");
        CancelLater(S.Client, 100);
        EXPECT_EQ(ErrorOf([&] { S.Client.SendMail(); }), "Socket readln aborted");
        EXPECT_FALSE(S.Client.Busy());
        if (Late) {
            // The late reply's notification runs the abort hook.
            EXPECT_TRUE(PumpUntil([&] { return !S.Client.Connected(); }));
            EXPECT_EQ(S.Client.InBuffer().Size(), 0);
        } else {
            EXPECT_EQ(ErrorOf([&] { S.Client.Disconnect(); }), "");
        }
        EXPECT_TRUE(S.Server.Finished());
    }
}

// Stop while the body is held up by a server that stopped reading: a QUIT would only be
// more message text (and would wait behind the unsent bytes), so Disconnect just closes.
TEST(SmtpCancel, StopInsideTheMessageClosesWithoutQuit)
{
    TTempDir Dir;
    TSession S;
    // More than the socket buffers of both ends hold.
    S.Client.PostMessage().Attachments().Add(Dir.Write("big.bin", std::string(24 << 20, 'b')));
    S.Server.Script(Hello + Envelope + "C: DATA\nS: 354 go\n").Stall();
    ASSERT_EQ(S.Run("", Connect), "");
    // Stop once the server has answered DATA and the body is on its way (composing a large
    // attachment under load can take longer than any fixed delay).
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&] {
        if (S.Server.Received().find("DATA\r\n") == std::string::npos) return;
        Poll.stop();
        CancelLater(S.Client, 200);
    });
    Poll.start(10);
    EXPECT_EQ(ErrorOf([&] { S.Client.SendMail(); }), "Socket send aborted");
    QTimer Guard;  // ends a QUIT stuck behind the body
    Guard.setSingleShot(true);
    QObject::connect(&Guard, &QTimer::timeout, [&] { S.Client.Cancel(); });
    Guard.start(3000);
    EXPECT_EQ(ErrorOf([&] { S.Client.Disconnect(); }), "");
    EXPECT_FALSE(S.Client.Connected());
}

}  // namespace
