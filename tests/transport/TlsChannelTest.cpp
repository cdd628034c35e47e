#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/PythonPeer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"
#include "transport/SockErrors.h"
#include "transport/TlsChannel.h"

namespace {

// A TLS echo server with a test CA and server certificate made by openssl; the channel
// over a connected non-blocking socket, driven by poll() as notifications will drive it.
struct TlsChannelTest : testing::Test {
    TTempDir Certs;
    TPythonPeer Echo{"support/tls_echo_peer.py", {"--certs", QString::fromStdString(Certs.Path())}};
    std::string CA = Certs.File("ca.pem");
    int Fd = -1;

    void SetUp() override { ASSERT_NE(Echo.Port(), 0) << Echo.Line.toStdString(); }
    void TearDown() override { close(Fd); }
    TTlsChannel::TRawIo Connect(uint16_t Port)
    {
        close(Fd);
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{AF_INET, htons(Port), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        fcntl(Fd, F_SETFL, O_NONBLOCK);
        return TTlsChannel::SocketIo(Fd);
    }
    template <class F> TTlsStatus Drive(F Step)
    {
        TTlsStatus s;
        for (pollfd p{Fd, 0, 0}; (s = Step()) == tlsWantRead || s == tlsWantWrite;)
            if (p.events = s == tlsWantRead ? POLLIN : POLLOUT; poll(&p, 1, 10000) != 1) return tlsError;
        return s;
    }
};

TEST_F(TlsChannelTest, CertificateChecksAcceptOrSayWhy)
{
    std::string pin = Certs.Read("server.sha256"), bare;
    pin.pop_back();
    for (char c : pin) if (c != ':') bare += static_cast<char>(std::tolower(c));
    struct { TTlsSettings Settings; std::string Error; } cases[] = {
        {{"localhost", CA, ""}, ""},
        {{"127.0.0.1", CA, ""}, ""},
        {{"localhost", "", ""}, "Certificate verify failed: unable to get local issuer certificate"},
        {{"mail.example.com", CA, ""}, "Certificate verify failed: hostname mismatch"},
        {{"127.0.0.2", CA, ""}, "Certificate verify failed: IP address mismatch"},
        {{"mail.example.com", "", bare}, ""},
        {{"localhost", CA, "00" + pin.substr(2)}, "Certificate fingerprint mismatch: the server's is " + pin},
    };
    for (const auto& c : cases) {
        TTlsChannel channel(c.Settings, Connect(Echo.Port()));
        EXPECT_EQ(Drive([&] { return channel.Handshake(); }), c.Error.empty() ? tlsOk : tlsError) << c.Settings.Host;
        EXPECT_EQ(channel.ErrorText(), c.Error);
        EXPECT_EQ(channel.PeerFingerprint(), pin);
    }
}

// 1 MiB each way at once: partial writes, reads that must go on without a notification,
// every byte back in order; then close_notify, which the server answers by closing.
TEST_F(TlsChannelTest, EchoesEveryByteAndClosesPolitely)
{
    TTlsChannel channel({"localhost", CA, ""}, Connect(Echo.Port()));
    std::string out(1 << 20, '\0'), in;
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7 + i / 251);
    size_t sent = 0;
    char buffer[16383];
    int n = 0;
    for (TTlsStatus s = tlsOk; in.size() < out.size();) {
        pollfd p{Fd, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        ASSERT_EQ(poll(&p, 1, 10000), 1);
        while (sent < out.size() && channel.Write(&out[sent], static_cast<int>(std::min<size_t>(16383, out.size() - sent)), n) == tlsOk)
            sent += static_cast<size_t>(n);
        while ((s = channel.Read(buffer, sizeof buffer, n)) == tlsOk) in.append(buffer, static_cast<size_t>(n));
        ASSERT_TRUE(s == tlsWantRead || s == tlsWantWrite) << channel.ErrorText();
    }
    EXPECT_TRUE(in == out);
    EXPECT_EQ(Drive([&] { return channel.Shutdown(); }), tlsOk);
    EXPECT_EQ(Drive([&] { return channel.Read(buffer, sizeof buffer, n); }), tlsClosed);
}

// A plain-text server (the wrong port) fails the handshake instead of hanging; unusable
// settings are refused before anything is sent.
TEST_F(TlsChannelTest, PlainServerAndBadSettingsAreRefused)
{
    TScriptedServer plain;
    plain.Send("220 plain text here\r\n").Stall();
    plain.Start();
    TTlsChannel channel({"localhost", CA, ""}, Connect(plain.Port()));
    EXPECT_EQ(Drive([&] { return channel.Handshake(); }), tlsError);
    EXPECT_EQ(channel.ErrorText().rfind("TLS handshake failed: ", 0), 0u) << channel.ErrorText();
    for (const TTlsSettings& bad : {TTlsSettings{"localhost", "/nonexistent/ca.pem", ""},
                                    TTlsSettings{"localhost", "", "AB:CD"}, TTlsSettings{"", "", ""}})
        EXPECT_THROW(TTlsChannel(bad, TTlsChannel::SocketIo(Fd)), ESockError);
}

}  // namespace
