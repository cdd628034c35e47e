#include "base/Exception.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

namespace {

// Records every count the socket takes, through the transport's send seam; with FailWith
// set, every send fails with that error.
class TCountingTransport : public TSockTransport {
public:
    std::vector<int> Sends;
    int FailWith = 0;

protected:
    int SocketSend(const void* Buffer, int Count) override
    {
        if (FailWith) {
            SetSockLastError(FailWith);
            return -1;
        }
        const int n = TSockTransport::SocketSend(Buffer, Count);
        if (n > 0) Sends.push_back(n);
        return n;
    }
};

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

}  // namespace

using StreamTest = TransportTest;

// SendStream reports each chunk, whatever its handler raises (the first chunk included);
// SendBuffer makes the same sends without progress events.
TEST_F(StreamTest, FortyThousandBytesGoOutInThreeChunksWithProgress)
{
    const std::string data = Pattern(40000);
    Server.ExpectBytes(40000).ExpectBytes(40000);
    Server.Start();
    TCountingTransport t;
    ConnectTo(t, Server);
    std::vector<std::pair<int32_t, int32_t>> progress;
    t.OnPacketSent = [&](TObject*) {
        progress.emplace_back(t.BytesSent(), t.BytesTotal());
        throw Exception("handler fault");
    };
    TMemoryStream stream;
    stream.WriteString(data);  // position left at the end: SendStream starts from the start
    t.SendStream(stream);
    EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{16383, 40000}, {32766, 40000}, {40000, 40000}}));
    EXPECT_FALSE(t.StreamTransfer());
    t.Sends.clear();
    progress.clear();
    t.SendBuffer(data.data(), data.size());
    EXPECT_EQ(t.Sends, (std::vector<int>{16383, 16383, 7234}));
    EXPECT_EQ(t.BytesSent(), 80000);  // the writer counts every send
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), data + data);
    TMemoryStream empty;  // nothing to wait for: back at once
    t.SendStream(empty);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(t.BytesTotal(), 0);
    // A send failing other than would-block brings no notification: it ends the wait at
    // once (not at the time-out) and the connection.
    t.SetReplyTimeOut(3000);
    t.FailWith = WSAEHOSTUNREACH;
    EXPECT_EQ(MessageOf<ESockError>([&] { t.Write("RSET\r\n"); }), "10065:No route to Host");
    EXPECT_FALSE(t.Connected());
}

// A cancel or a peer reset ends the wait of SendStream and of SendBuffer. The cancel is
// cleared, and what a canceled Write did not send stays queued.
TEST_F(StreamTest, CancelOrPeerResetDuringTheSendWaits)
{
    const std::string data(64 << 20, 'q');
    TMemoryStream stream;
    stream.WriteString(data);
    for (bool reset : {false, true})
        for (bool whole : {true, false}) {
            TScriptedServer server;
            reset ? server.ExpectBytes(100000).Reset() : server.Stall();
            server.Start();
            TSockTransport t;
            ConnectTo(t, server);
            if (!reset) CancelLater(t, 100);
            const auto send = [&] { whole ? t.SendStream(stream) : t.Write(data); };
            const std::string error = reset ? MessageOf<ESockError>(send) : MessageOf<EAbortError>(send);
            EXPECT_EQ(error, reset ? "Connection closed" : "Socket send aborted") << reset << whole;
            EXPECT_FALSE(t.StreamTransfer());
            EXPECT_FALSE(t.CancelRequested());
            // A reset leaves nothing for a later conversation.
            // A canceled stream's rest is kept in the transport's own buffer: the caller's
            // stream may go away.
            EXPECT_TRUE(reset ? !t.Connected() && t.OutPending() == 0
                              : t.OutPending() > 0 && (!whole || t.BytesSent() < t.BytesTotal()));
        }
}

// A peer that stops reading: with a reply time-out, a wait in which nothing more goes
// out ends, and so does the connection, whose unsent rest would garble the next command.
TEST_F(StreamTest, SendingToAPeerThatStopsReadingTimesOut)
{
    const std::string data(64 << 20, 'q');
    TMemoryStream stream;
    stream.WriteString(data);
    for (bool whole : {true, false}) {
        TScriptedServer server;
        server.Stall();
        server.Start();
        TSockTransport t;
        ConnectTo(t, server);
        t.SetReplyTimeOut(200);
        const auto send = [&] { whole ? t.SendStream(stream) : t.Write(data); };
        EXPECT_EQ(MessageOf<ESockError>(send), "Send Timed out") << whole;
        EXPECT_FALSE(t.Connected());
        EXPECT_EQ(t.OutPending(), 0);
    }
}

// A large stream arrives whole. The reply arrives while the progress handler processes
// events itself, that is while the writer runs: neither the read notification nor the
// writer's own next run may be lost. Bytes received during the transfer are counted,
// later ones are not.
TEST_F(StreamTest, LargeStreamArrivesWholeAndRepliesMeanwhileAreCounted)
{
    const std::string data = Pattern(3 << 20);
    Server.ExpectBytes(1).Send("hello\r\n").ExpectBytes(data.size() - 1);
    Server.Start();
    ConnectTo(Client, Server);
    // A lost notification leaves the send or the read waiting: fail instead of hanging.
    Client.SetReplyTimeOut(3000);
    QTimer watchdog;
    watchdog.callOnTimeout([&] { Client.Cancel(); });
    watchdog.start(10000);
    int packets = 0, sent = 0;
    Client.OnPacketRecvd = [&](TObject*) { ++packets; };
    Client.OnPacketSent = [&](TObject*) {
        if (++sent == 1) PumpUntil([] { return false; }, 200);
    };
    TMemoryStream stream;
    stream.WriteString(data);
    Client.SendStream(stream);
    ASSERT_TRUE(Server.Finished());
    EXPECT_TRUE(Server.Received() == data);
    EXPECT_GE(sent, static_cast<int>((data.size() + SockChunkSize - 1) / SockChunkSize));  // more if sends were short
    EXPECT_EQ(Client.BytesSent(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(Client.BytesReceived(), 7);
    EXPECT_GE(packets, 1);
    std::string line;
    Client.ReadLn(line);
    EXPECT_EQ(line, "hello\r\n");
    EXPECT_EQ(Client.BytesReceived(), 7);
}

TEST_F(StreamTest, AStreamThatCannotBeReadFailsTheSend)
{
    struct TFailingStream : TMemoryStream {  // reads past 300 000 bytes fail
        int32_t Read(void* Buffer, int32_t Count) override
        {
            return Position() + Count > 300000 ? 0 : TMemoryStream::Read(Buffer, Count);
        }
    } stream;
    Server.Sink();
    Server.Start();
    ConnectTo(Client, Server);
    stream.WriteString(std::string(1 << 20, 'f'));
    EXPECT_EQ(MessageOf<EReadError>([&] { Client.SendStream(stream); }), "Stream read error");
    EXPECT_FALSE(Client.StreamTransfer());
}
