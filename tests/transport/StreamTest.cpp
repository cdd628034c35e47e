#include "base/Exception.h"
#include "platform/SocketErrors.h"
#include "TransportFixture.h"

namespace {

// With FailWith set, every send through the transport's send seam fails with that error.
class TFailingTransport : public TSockTransport {
public:
    int FailWith = 0;

protected:
    int SocketSend(const void* Buffer, int Count) override
    {
        if (!FailWith) return TSockTransport::SocketSend(Buffer, Count);
        SetSockLastError(FailWith);
        return -1;
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
// SendBuffer sends without progress events, an empty stream returns at once, and a
// stream that cannot be read fails the send. A send failing other than would-block
// brings no notification: it ends the wait at once (not at the time-out), and the
// connection.
TEST_F(StreamTest, ChunksWithProgressAndFailuresThatEndTheSend)
{
    const std::string data = Pattern(40000);
    Server.ExpectBytes(80000).Sink();
    Server.Start();
    TFailingTransport t;
    ConnectTo(t, Server.Port());
    std::vector<std::pair<int32_t, int32_t>> progress;
    t.OnPacketSent = [&](TObject*) {
        progress.emplace_back(t.BytesSent(), t.BytesTotal());
        throw Exception("handler fault");
    };
    TMemoryStream stream;
    stream.WriteString(data);  // position left at the end: SendStream starts from the start
    t.SendStream(stream);
    EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{16383, 40000}, {32766, 40000}, {40000, 40000}}));
    progress.clear();
    t.SendBuffer(data.data(), data.size());
    TMemoryStream empty;
    t.SendStream(empty);
    EXPECT_TRUE(progress.empty());
    struct TBrokenStream : TMemoryStream {  // reads past 300 000 bytes fail
        int32_t Read(void* Buffer, int32_t Count) override
        {
            return Position() + Count > 300000 ? 0 : TMemoryStream::Read(Buffer, Count);
        }
    } broken;
    broken.WriteString(std::string(1 << 20, 'f'));
    EXPECT_EQ(MessageOf<EReadError>([&] { t.SendStream(broken); }), "Stream read error");
    t.SetReplyTimeOut(3000);
    t.FailWith = WSAEHOSTUNREACH;
    EXPECT_EQ(MessageOf<ESockError>([&] { t.Write("RSET\r\n"); }), "10065:No route to Host");
    EXPECT_FALSE(t.Connected());
    ASSERT_TRUE(Server.Finished());
    EXPECT_EQ(Server.Received().substr(0, 80000), data + data);
}

// Every send wait ends, for SendStream and Write alike: on a cancel, which is cleared and
// leaves the unsent rest queued (in the transport's own buffer: the caller's stream may go
// away); on a peer reset, leaving nothing for a later conversation; and, with a reply
// time-out, on a peer that stops reading, ending the connection, whose unsent rest would
// garble the next command.
TEST_F(StreamTest, EverySendWaitEnds)
{
    const std::string data(64 << 20, 'q');
    TMemoryStream stream;
    stream.WriteString(data);
    enum { Cancel, Reset, TimeOut };
    const char* const errors[] = {"Socket send aborted", "Connection closed", "Send Timed out"};
    for (int how : {Cancel, Reset, TimeOut})
        for (bool whole : {true, false}) {
            SCOPED_TRACE(testing::Message() << errors[how] << (whole ? " (stream)" : " (Write)"));
            TScriptedServer server;
            how == Reset ? server.ExpectBytes(100000).Reset() : server.Stall();
            server.Start();
            TSockTransport t;
            ConnectTo(t, server.Port());
            if (how == Cancel) CancelLater(t, 100);
            if (how == TimeOut) t.SetReplyTimeOut(200);
            const auto send = [&] { whole ? t.SendStream(stream) : t.Write(data); };
            EXPECT_EQ(how == Cancel ? MessageOf<EAbortError>(send) : MessageOf<ESockError>(send), errors[how]);
            EXPECT_FALSE(t.CancelRequested());
            EXPECT_EQ(t.Connected(), how == Cancel);
            EXPECT_EQ(t.OutPending() > 0, how == Cancel);
            EXPECT_TRUE(how != Cancel || !whole || t.BytesSent() < t.BytesTotal());
        }
}

// A large stream arrives whole while a reply comes in and the progress handler processes
// events itself, that is while the writer runs: neither the read notification nor the
// writer's own next run may be lost.
TEST_F(StreamTest, LargeStreamArrivesWholeWhileTheHandlerProcessesEvents)
{
    const std::string data = Pattern(3 << 20);
    Server.ExpectBytes(1).Send("hello\r\n").ExpectBytes(data.size() - 1);
    Server.Start();
    ConnectTo(Client, Server.Port());
    Client.SetReplyTimeOut(3000);  // a lost notification fails the send instead of hanging
    int sent = 0;
    Client.OnPacketSent = [&](TObject*) {
        if (++sent == 1) PumpUntil([] { return false; }, 200);
    };
    TMemoryStream stream;
    stream.WriteString(data);
    Client.SendStream(stream);
    ASSERT_TRUE(Server.Finished());
    EXPECT_TRUE(Server.Received() == data);
    std::string line;
    Client.ReadLn(line);
    EXPECT_EQ(line, "hello\r\n");
}
