#include <cstdlib>

#include "support/TempDir.h"
#include "TransportFixture.h"

class LineIoTest : public TransportTest {};

TEST_F(LineIoTest, TwoLinesInOneReadComeOutOneByOne)
{
    Server.Send("220 ready\r\n250 ok\r\n").Stall();
    Server.Start();
    ConnectTo(Client, Server);
    int reads = 0;
    Client.OnDataReceived = [&](TObject*) { ++reads; };
    std::string a, b;
    Client.ReadLn(a);
    EXPECT_GE(reads, 1);
    ASSERT_EQ(a, "220 ready\r\n");
    EXPECT_EQ(Client.InBuffer().DataString(), "250 ok\r\n");  // already there: no wait needed
    Client.ReadLn(b);
    EXPECT_EQ(b, "250 ok\r\n");
    EXPECT_EQ(Client.InBuffer().Size(), 0);
}

TEST_F(LineIoTest, ALineSplitOverReadsIsReturnedOnlyWhole)
{
    Server.SendPieces({"25", "0 o", "k\r", "\n354 go\r\n"}, 30).Stall();
    Server.Start();
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);
    EXPECT_EQ(line, "250 ok\r\n");
    Client.ReadLn(line);
    EXPECT_EQ(line, "354 go\r\n");
}

TEST_F(LineIoTest, OnlyLineFeedEndsALine)
{
    Server.Send("a\rb\nc\r\n").Stall();
    Server.Start();
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);
    EXPECT_EQ(line, "a\rb\n");
    Client.ReadLn(line);
    EXPECT_EQ(line, "c\r\n");
}

TEST_F(LineIoTest, TransactionReadsOneLineAndTakesItsCode)
{
    Server.Expect("EHLO me").Send("250-first\r\n250 last\r\n")
        .Expect("NOOP").SendLine("hello")
        .Expect("X").SendLine("0421 old style")
        .Expect("Y").SendLine("70000 big");
    Server.Start();
    ConnectTo(Client, Server);
    struct Step {
        const char* Command;
        const char* Reply;
        int16_t Code;
    } steps[] = {
        {"EHLO me", "250-first\r\n", 250},
        {"NOOP", "hello\r\n", 0},
        {"X", "0421 old style\r\n", 421},
        {"Y", "70000 big\r\n", 32767},
    };
    for (const Step& s : steps) {
        std::string reply;
        Client.Transaction(s.Command, reply);
        EXPECT_EQ(reply, s.Reply);
        EXPECT_EQ(Client.LastReply(), s.Reply);
        EXPECT_EQ(Client.ReplyCode(), s.Code) << s.Command;
        if (s.Code == 250) {
            std::string rest;
            Client.ReadLn(rest);  // the continuation stays for the caller
            EXPECT_EQ(rest, "250 last\r\n");
        }
    }
    EXPECT_TRUE(Server.Finished());
}

TEST_F(LineIoTest, WriteSendsTheWholeTextUpToANul)
{
    const std::string big(20000, 'x');
    Server.ExpectBytes(3).Expect(big).Expect("abc").Expect(std::string(16384, 'y'));
    Server.Start();
    ConnectTo(Client, Server);
    Client.Write(std::string("abc\0def", 7));
    Client.Writeln(big);                               // not cut at 16 385 characters
    Client.Writeln(std::string("abc\0tail", 8));       // the line still ends
    Client.Writeln(std::string(16384, 'y'));
    Client.Write("");                                  // nothing to send: returns at once
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received().substr(0, 3), "abc");
    EXPECT_EQ(Server.ReceivedCount(), 3 + 20002 + 5 + 16386u);
}

TEST_F(LineIoTest, CancelDuringReadLnAbortsAndStaysSet)
{
    Server.Send("partial").Stall();
    Server.Start();
    ConnectTo(Client, Server);
    std::string line;
    CancelLater(Client, 50);
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.ReadLn(line); }), "Socket readln aborted");
    EXPECT_TRUE(Client.CancelRequested());
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.ReadLn(line); }), "Socket readln aborted");
    EXPECT_EQ(Client.InBuffer().DataString(), "partial");
}

TEST_F(LineIoTest, SendingWithACancelPendingSendsNothing)
{
    Server.Stall();
    Server.Start();
    ConnectTo(Client, Server);
    Client.Cancel();
    Client.Writeln("QUIT");
    EXPECT_TRUE(Client.CancelRequested());
    EXPECT_EQ(Client.OutPending(), 0);
    PumpUntil([] { return false; }, 20);
    EXPECT_EQ(Server.ReceivedCount(), 0u);
}

TEST_F(LineIoTest, CancelDuringSendBufferAbortsAndClearsTheFlag)
{
    Server.Stall();  // never reads, so the socket fills up
    Server.Start();
    ConnectTo(Client, Server);
    const std::string huge(64 << 20, 'z');
    CancelLater(Client, 100);
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.Write(huge); }), "Socket send aborted");
    EXPECT_FALSE(Client.CancelRequested());
    EXPECT_GT(Client.OutPending(), 0);  // what was not sent stays queued
}

TEST_F(LineIoTest, ReplyTimeOutEndsASilentWait)
{
    Server.SendLine("220 hi").Stall();
    Server.Start();
    ConnectTo(Client, Server);
    Client.SetReplyTimeOut(100);
    std::string line;
    Client.ReadLn(line);  // a line already there is not affected
    EXPECT_EQ(line, "220 hi\r\n");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Reply Timed out");
    EXPECT_FALSE(Client.CancelRequested());
}

TEST_F(LineIoTest, OverLongLineIsRefused)
{
    Server.Send(std::string(MaxReplyLineLength + 100, 'a')).Stall();
    Server.Start();
    ConnectTo(Client, Server);
    std::string line = "untouched";
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Reply line too long");
    EXPECT_EQ(line, "untouched");
}

// A dead connection ends every wait that cannot be satisfied from what is buffered.
TEST_F(LineIoTest, PeerCloseOrResetEndsTheReadWait)
{
    for (bool reset : {false, true}) {
        TScriptedServer server;
        server.Expect("QUIT").Send("221 bye\r\n").Pause(50);
        if (reset)
            server.Reset();
        else
            server.Close();
        server.Start();
        TSockTransport t;
        ConnectTo(t, server);
        std::string reply;
        t.Transaction("QUIT", reply);
        EXPECT_EQ(reply, "221 bye\r\n");
        EXPECT_EQ(MessageOf<ESockError>([&] { t.ReadLn(reply); }), "Connection closed") << reset;
        EXPECT_FALSE(t.Connected());
    }
}

TEST_F(LineIoTest, NeverConnectedFailsAtOnce)
{
    std::string line;
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Connection closed");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Writeln("HELO"); }), "Connection closed");
    EXPECT_EQ(Client.OutPending(), 0);  // nothing left to open a later conversation
}

TEST_F(LineIoTest, PeerResetDuringSendEndsTheSendWait)
{
    Server.ExpectBytes(1000).Reset();
    Server.Start();
    ConnectTo(Client, Server);
    const std::string huge(64 << 20, 'z');
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Write(huge); }), "Connection closed");
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Client.OutPending(), 0);
}

TEST_F(LineIoTest, ProtocolLogRecordsTheConversationAsAScript)
{
    TTempDir dir;
    const std::string log = dir.File("conversation.log");
    Server.SendLine("220 hi").Expect("HELO me").SendLine("250 ok");
    Server.Start();
    ::setenv("QUILLCAST_LOG", log.c_str(), 1);
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);
    Client.Transaction("HELO me", line);
    ::unsetenv("QUILLCAST_LOG");
    Client.Writeln("not logged");
    EXPECT_EQ(dir.Read("conversation.log"), "S: 220 hi\nC: HELO me\nS: 250 ok\n");
}
