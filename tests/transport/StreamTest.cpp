#include "base/Exception.h"
#include "TransportFixture.h"

namespace {

// Records every count the socket takes, through the transport's send seam.
class TCountingTransport : public TSockTransport {
public:
    std::vector<int> Sends;

protected:
    int SocketSend(const void* Buffer, int Count) override
    {
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

// A stream whose reads fail after the first Limit bytes.
class TFailingStream : public TMemoryStream {
public:
    int64_t Limit = 0;
    int32_t Read(void* Buffer, int32_t Count) override
    {
        if (Position() + Count > Limit) return 0;
        return TMemoryStream::Read(Buffer, Count);
    }
};

}  // namespace

class StreamTest : public TransportTest {};

TEST_F(StreamTest, FortyThousandBytesGoOutInThreeChunksWithProgress)
{
    const std::string data = Pattern(40000);
    Server.ExpectBytes(40000).ExpectBytes(40000);
    Server.Start();
    TCountingTransport t;
    ConnectTo(t, Server);
    std::vector<std::pair<int32_t, int32_t>> progress;
    t.OnPacketSent = [&](TObject*) { progress.emplace_back(t.BytesSent(), t.BytesTotal()); };
    TMemoryStream stream;
    stream.WriteString(data);  // position left at the end: SendStream starts from the start
    t.SendStream(stream);
    EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{16383, 40000}, {32766, 40000}, {40000, 40000}}));
    EXPECT_FALSE(t.StreamTransfer());

    // The same bytes through SendBuffer: the same three sends, and no progress events.
    t.Sends.clear();
    progress.clear();
    t.SendBuffer(data.data(), data.size());
    EXPECT_EQ(t.Sends, (std::vector<int>{16383, 16383, 7234}));
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(t.BytesSent(), 80000);  // the writer counts every send
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received(), data + data);

    TMemoryStream empty;  // nothing to wait for: back at once, no progress
    t.SendStream(empty);
    EXPECT_TRUE(progress.empty());
    EXPECT_EQ(t.BytesTotal(), 0);
    EXPECT_FALSE(t.StreamTransfer());
}

TEST_F(StreamTest, CancelOrPeerResetDuringTheSendWaits)
{
    const std::string data(64 << 20, 'q');
    TMemoryStream stream;
    stream.WriteString(data);
    {
        TScriptedServer server;
        server.Stall();
        server.Start();
        TSockTransport t;
        ConnectTo(t, server);
        CancelLater(t, 100);
        EXPECT_EQ(MessageOf<EAbortError>([&] { t.SendStream(stream); }), "Socket send aborted");
        EXPECT_FALSE(t.CancelRequested());
        EXPECT_FALSE(t.StreamTransfer());
        EXPECT_LT(t.BytesSent(), t.BytesTotal());
    }
    for (bool whole : {true, false}) {  // the stream's wait, then SendBuffer's
        TScriptedServer server;
        server.ExpectBytes(100000).Reset();
        server.Start();
        TSockTransport t;
        ConnectTo(t, server);
        const auto send = [&] { whole ? t.SendStream(stream) : t.Write(data); };
        EXPECT_EQ(MessageOf<ESockError>(send), "Connection closed") << whole;
        EXPECT_FALSE(t.StreamTransfer());
        EXPECT_FALSE(t.Connected());
        EXPECT_EQ(t.OutPending(), 0);  // nothing left to open a later conversation
    }
}

// A large stream arrives whole, with a progress event per chunk. The reply arrives while the
// progress handler processes events itself, that is while the writer runs: neither the
// read notification nor the writer's own next run may be lost. Bytes received during
// the transfer are counted, later ones are not.
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
    Server.Sink();
    Server.Start();
    ConnectTo(Client, Server);
    TFailingStream stream;
    stream.WriteString(std::string(1 << 20, 'f'));
    stream.Limit = 300000;
    EXPECT_EQ(MessageOf<EReadError>([&] { Client.SendStream(stream); }), "Stream read error");
    EXPECT_FALSE(Client.StreamTransfer());
}
