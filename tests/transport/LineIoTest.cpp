#include "TransportFixture.h"

using LineIoTest = TransportTest;

// Two lines in one read come out one by one, the second without a wait; a line split
// over reads comes out only whole; only LF ends a line.
TEST_F(LineIoTest, LinesAreCutAtLineFeedsWhateverTheReads)
{
    Server.Send("220 ready\r\n250 ok\r\n").Expect("go");
    for (const char* piece : {"25", "0 o", "k\r"}) Server.Send(piece).Pause(30);
    Server.Send("\n354 go\r\na\rb\n");
    Server.Start();
    ConnectTo(Client, Server.Port());
    std::string line;
    Client.ReadLn(line);
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

// Write sends the whole text up to a NUL, however long; Writeln always ends its line;
// nothing to send returns at once.
TEST_F(LineIoTest, WriteSendsTheWholeTextUpToANul)
{
    const std::string big(20000, 'x');
    Server.ExpectBytes(3).Expect(big).Expect("abc").Expect(std::string(16384, 'y'));
    Server.Start();
    ConnectTo(Client, Server.Port());
    Client.Write(std::string("abc\0def", 7));
    Client.Writeln(big);                          // not cut at 16 385 characters
    Client.Writeln(std::string("abc\0tail", 8));  // the line still ends
    Client.Writeln(std::string(16384, 'y'));
    Client.Write("");  // nothing to send: returns at once
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received().substr(0, 3), "abc");
}

// A wait for a line ends, after the lines already there: on a cancel, which stays set
// for the caller to see; on a silent server past the reply time-out; on a line past the
// length bound; on a close or a reset by the peer; and at once on a socket that never
// connected, leaving nothing queued to open a later conversation.
TEST_F(LineIoTest, EveryReadWaitEnds)
{
    // clang-format off
    struct { std::function<void(TScriptedServer&)> Steps; bool Cancel; int ReplyTimeOut; const char* Error; } cases[] = {
        {[](TScriptedServer& s) { s.Send("partial").Stall(); }, true, 0, "Socket readln aborted"},
        {[](TScriptedServer& s) { s.Stall(); }, false, 100, "Reply Timed out"},
        {[](TScriptedServer& s) { s.Send(std::string(MaxReplyLineLength + 100, 'a')).Stall(); }, false, 20000,
         "Reply line too long"},
        {[](TScriptedServer& s) { s.Pause(50).Close(); }, false, 20000, "Connection closed"},
        {[](TScriptedServer& s) { s.Pause(50).Reset(); }, false, 20000, "Connection closed"}};
    // clang-format on
    for (const auto& c : cases) {
        TScriptedServer server;
        server.Expect("QUIT").Send("221 bye\r\n");
        c.Steps(server);
        server.Start();
        TSockTransport t;
        ConnectTo(t, server.Port());
        t.SetReplyTimeOut(c.ReplyTimeOut);
        std::string line;
        t.Transaction("QUIT", line);
        EXPECT_EQ(line, "221 bye\r\n");
        EXPECT_EQ(t.ReplyCode(), 221);
        if (c.Cancel) CancelLater(t, 50);
        line = "untouched";
        EXPECT_EQ(MessageOf<ESockError>([&] { t.ReadLn(line); }), c.Error);
        EXPECT_EQ(line, "untouched");
        EXPECT_EQ(t.CancelRequested(), c.Cancel);
    }
    std::string line;
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.ReadLn(line); }), "Connection closed");
    EXPECT_EQ(MessageOf<ESockError>([&] { Client.Writeln("HELO"); }), "Connection closed");
    EXPECT_EQ(Client.OutPending(), 0);
}

// A server that floods while nothing is read: what waits in InBuffer stays bounded, and
// every line still arrives, in order, once it is read.
TEST_F(LineIoTest, UnreadInputIsBoundedAndNothingIsLost)
{
    std::string flood, all;
    for (int i = 0; i < 4096; ++i) flood += std::to_string(i) + std::string(1000, 'x') + "\r\n";
    Server.Send(flood).Expect("done");
    Server.Start();
    ConnectTo(Client, Server.Port());
    ASSERT_TRUE(PumpUntil([&] { return Client.InBuffer().Size() > MaxUnreadInput; }));
    PumpUntil([] { return false; }, 200);
    EXPECT_LE(Client.InBuffer().Size(), MaxUnreadInput + SockChunkSize);
    Client.SetReplyTimeOut(5000);
    for (std::string line; all.size() < flood.size(); all += line) Client.ReadLn(line);
    EXPECT_TRUE(all == flood);
    Client.Writeln("done");
    EXPECT_TRUE(Server.Finished());
}

// One parser for every client: the leading digits give the code; the fourth character's
// place, not the digits before it, marks a continuation.
TEST(ReplyLine, EveryLineForm)
{
    // clang-format off
    struct { const char* Line; int16_t Code; bool HasCode; bool Continued; } cases[] = {
        {"250 ok\r\n", 250, true, false}, {"250-first\r\n", 250, true, true}, {"220-", 220, true, true},
        {"0421 closing\r\n", 421, true, false}, {"hello 250\r\n", 0, false, false}, {"\r\n", 0, false, false},
        {"99999 big\r\n", 32767, true, false},         // too big: a refusal all the same
        {"123456789012 x\r\n", 32767, true, false},  // ten digits at most
        {"354\r\n", 354, true, false}, {"25-x\r\n", 25, true, false}, {"25\r\n", 25, true, false},
        {" \r\n", 0, false, true}, {"abc-def\r\n", 0, false, true}, {"550-5.1.1 x\n", 550, true, true}, {"", 0, false, false}};
    // clang-format on
    for (const auto& c : cases) {
        const TReplyLine r = ParseReplyLine(c.Line);
        EXPECT_EQ(std::tie(r.Code, r.HasCode, r.Continued), std::tie(c.Code, c.HasCode, c.Continued)) << c.Line;
    }
}
