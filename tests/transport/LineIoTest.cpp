#include <cstdlib>

#include "support/TempDir.h"
#include "TransportFixture.h"

using LineIoTest = TransportTest;

// Two lines in one read come out one by one, the second without a wait; a line split
// over reads comes out only whole; only LF ends a line.
TEST_F(LineIoTest, LinesAreCutAtLineFeedsWhateverTheReads)
{
    Server.Send("220 ready\r\n250 ok\r\n").Expect("go").SendPieces({"25", "0 o", "k\r", "\n354 go\r\na\rb\n"}, 30).Stall();
    Server.Start();
    ConnectTo(Client, Server);
    int reads = 0;
    Client.OnDataReceived = [&](TObject*) { ++reads; };
    std::string line;
    Client.ReadLn(line);
    EXPECT_GE(reads, 1);
    ASSERT_EQ(line, "220 ready\r\n");
    EXPECT_EQ(Client.InBuffer().DataString(), "250 ok\r\n");
    Client.ReadLn(line);
    EXPECT_EQ(line, "250 ok\r\n");
    Client.Writeln("go");
    for (const char* expected : {"250 ok\r\n", "354 go\r\n", "a\rb\n"}) {
        Client.ReadLn(line);
        EXPECT_EQ(line, expected);
    }
}

// Transaction reads one line and takes its code; a continuation stays for the caller.
TEST_F(LineIoTest, TransactionReadsOneLineAndTakesItsCode)
{
    Server.Expect("EHLO me").Send("250-first\r\n250 last\r\n").Expect("NOOP").SendLine("hello")
        .Expect("X").SendLine("0421 old style");
    Server.Start();
    ConnectTo(Client, Server);
    struct { const char* Command; const char* Reply; int16_t Code; } steps[] = {
        {"EHLO me", "250-first\r\n", 250}, {"NOOP", "hello\r\n", 0}, {"X", "0421 old style\r\n", 421}};
    for (const auto& s : steps) {
        std::string reply;
        Client.Transaction(s.Command, reply);
        EXPECT_EQ(reply, s.Reply);
        EXPECT_EQ(Client.LastReply(), s.Reply);
        EXPECT_EQ(Client.ReplyCode(), s.Code) << s.Command;
        if (s.Code == 250) {
            Client.ReadLn(reply);
            EXPECT_EQ(reply, "250 last\r\n");
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
    Client.Writeln(big);                          // not cut at 16 385 characters
    Client.Writeln(std::string("abc\0tail", 8));  // the line still ends
    Client.Writeln(std::string(16384, 'y'));
    Client.Write("");                             // nothing to send: returns at once
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received().substr(0, 3), "abc");
    EXPECT_EQ(Server.ReceivedCount(), 3 + 20002 + 5 + 16386u);
}

// The cancel stays set after an aborted ReadLn: the next ReadLn aborts at once, a
// Writeln sends nothing, silently, and a SendStream raises at once.
TEST_F(LineIoTest, CancelDuringReadLnAbortsAndStaysSet)
{
    Server.Send("partial").Stall();
    Server.Start();
    ConnectTo(Client, Server);
    std::string line;
    CancelLater(Client, 50);
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.ReadLn(line); }), "Socket readln aborted");
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.ReadLn(line); }), "Socket readln aborted");
    EXPECT_EQ(Client.InBuffer().DataString(), "partial");
    Client.Writeln("QUIT");
    EXPECT_TRUE(Client.CancelRequested());
    EXPECT_EQ(Client.OutPending(), 0);
    TMemoryStream stream;  // a stream is refused at once, and that clears the cancel
    stream.WriteString("body");
    EXPECT_EQ(MessageOf<EAbortError>([&] { Client.SendStream(stream); }), "Socket send aborted");
    EXPECT_FALSE(Client.CancelRequested());
    PumpUntil([] { return false; }, 20);
    EXPECT_EQ(Server.ReceivedCount(), 0u);
}

// A wait for a line ends, after the lines already there: on a silent server past the
// reply time-out, on a line past the length bound, on a close or a reset by the peer,
// and at once on a socket that never connected.
TEST_F(LineIoTest, EveryReadWaitEnds)
{
    struct { std::function<void(TScriptedServer&)> Steps; int ReplyTimeOut; const char* Error; } cases[] = {
        {[](TScriptedServer& s) { s.Stall(); }, 100, "Reply Timed out"},
        {[](TScriptedServer& s) { s.Send(std::string(MaxReplyLineLength + 100, 'a')).Stall(); }, 20000,
         "Reply line too long"},
        {[](TScriptedServer& s) { s.Pause(50).Close(); }, 20000, "Connection closed"},
        {[](TScriptedServer& s) { s.Pause(50).Reset(); }, 20000, "Connection closed"}};
    for (const auto& c : cases) {
        TScriptedServer server;
        server.Expect("QUIT").Send("221 bye\r\n");
        c.Steps(server);
        server.Start();
        TSockTransport t;
        ConnectTo(t, server);
        t.SetReplyTimeOut(c.ReplyTimeOut);
        std::string line;
        t.Transaction("QUIT", line);
        EXPECT_EQ(line, "221 bye\r\n");
        line = "untouched";
        EXPECT_EQ(MessageOf<ESockError>([&] { t.ReadLn(line); }), c.Error);
        EXPECT_EQ(line, "untouched");
        EXPECT_FALSE(t.CancelRequested());
    }
    std::string line;
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Connection closed");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Writeln("HELO"); }), "Connection closed");
    EXPECT_EQ(Client.OutPending(), 0);  // nothing left to open a later conversation
}

// A server that floods while nothing is read: what waits in InBuffer stays bounded, and
// every line still arrives, in order, once it is read.
TEST_F(LineIoTest, UnreadInputIsBoundedAndNothingIsLost)
{
    std::string flood, all;
    for (int i = 0; i < 4096; ++i) flood += std::to_string(i) + std::string(1000, 'x') + "\r\n";
    Server.SetRecordBytes(false);
    Server.Send(flood).Expect("done");
    Server.Start();
    ConnectTo(Client, Server);
    ASSERT_TRUE(PumpUntil([&] { return Client.InBuffer().Size() > MaxUnreadInput; }));
    PumpUntil([] { return false; }, 200);
    EXPECT_LE(Client.InBuffer().Size(), MaxUnreadInput + SockChunkSize);
    Client.SetReplyTimeOut(5000);
    for (std::string line; all.size() < flood.size(); all += line) Client.ReadLn(line);
    EXPECT_TRUE(all == flood);
    Client.Writeln("done");
    EXPECT_TRUE(Server.Finished());
}

TEST_F(LineIoTest, ProtocolLogRecordsTheConversationAsAScript)
{
    TTempDir dir;
    Server.SendLine("220 hi").Expect("HELO me").SendLine("250 ok");
    Server.Start();
    ::setenv("QUILLCAST_LOG", dir.File("conversation.log").c_str(), 1);
    ConnectTo(Client, Server);
    std::string line;
    Client.ReadLn(line);
    Client.Transaction("HELO me", line);
    ::unsetenv("QUILLCAST_LOG");
    Client.Writeln("not logged");
    EXPECT_EQ(dir.Read("conversation.log"), "S: 220 hi\nC: HELO me\nS: 250 ok\n");
}
