#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/PythonPeer.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"
#include "transport/SockErrors.h"
#include "transport/TlsChannel.h"

namespace {

// One CA, one server certificate and one TLS echo server for every case.
struct TlsChannelTest : testing::Test {
    static inline TTestCertificates* Certs;
    static inline TPythonPeer* Echo;
    static void SetUpTestSuite()
    {
        Certs = new TTestCertificates;
        Echo = new TPythonPeer("support/tls_echo_peer.py", {"--cert", Certs->CertFile, "--key", Certs->KeyFile});
    }
    static void TearDownTestSuite() { delete Echo, delete Certs; }
    void SetUp() override
    {
        ASSERT_TRUE(Certs->Made()) << "openssl could not make the test certificates";
        ASSERT_NE(Echo->Port(), 0) << Echo->StartError();
    }
    void TearDown() override { Fd >= 0 && close(Fd); }

    // A connected non-blocking socket, as the transport hands it over.
    int Connect(uint16_t Port)
    {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(Port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        fcntl(Fd, F_SETFL, O_NONBLOCK);
        return Fd;
    }
    // Repeats Step after the socket notification it asks for, as the transport will.
    template <class F> TTlsStatus Drive(F Step)
    {
        TTlsStatus s;
        while ((s = Step()) == tlsWantRead || s == tlsWantWrite) {
            pollfd p{Fd, static_cast<short>(s == tlsWantRead ? POLLIN : POLLOUT), 0};
            if (poll(&p, 1, 10000) != 1) return tlsError;
        }
        return s;
    }
    int Fd = -1;
};

TEST_F(TlsChannelTest, CertificateChecksAcceptOrSayWhy)
{
    const std::string pin = Certs->Fingerprint;
    std::string lowerBare;
    for (char c : pin) if (c != ':') lowerBare += static_cast<char>(std::tolower(c));
    const std::string wrongPin = "00" + pin.substr(2);
    struct { TTlsSettings Settings; std::string Error; } cases[] = {
        {{"localhost", Certs->CAFile, ""}, ""},
        {{"127.0.0.1", Certs->CAFile, ""}, ""},
        {{"localhost", "", ""}, "Certificate verify failed: unable to get local issuer certificate"},
        {{"mail.example.com", Certs->CAFile, ""}, "Certificate verify failed: hostname mismatch"},
        {{"127.0.0.2", Certs->CAFile, ""}, "Certificate verify failed: IP address mismatch"},
        {{"mail.example.com", "", lowerBare}, ""},
        {{"localhost", Certs->CAFile, wrongPin}, "Certificate fingerprint mismatch: the server's is " + pin},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Settings.Host + " " + c.Settings.Fingerprint);
        TTlsChannel channel(c.Settings, TTlsChannel::SocketIo(Connect(Echo->Port())));
        EXPECT_EQ(Drive([&] { return channel.Handshake(); }), c.Error.empty() ? tlsOk : tlsError);
        EXPECT_EQ(channel.ErrorText(), c.Error);
        EXPECT_EQ(channel.PeerFingerprint(), pin);
        close(std::exchange(Fd, -1));
    }
}

// 1 MiB each way at once: partial writes, reads that must go on without a notification,
// and every byte back in order; then close_notify, which the server answers by closing.
TEST_F(TlsChannelTest, EchoesEveryByteAndClosesPolitely)
{
    TTlsChannel channel({"localhost", Certs->CAFile, ""}, TTlsChannel::SocketIo(Connect(Echo->Port())));
    ASSERT_EQ(Drive([&] { return channel.Handshake(); }), tlsOk) << channel.ErrorText();
    std::string out(1 << 20, '\0'), in;
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7 + i / 251);
    size_t sent = 0;
    char buffer[16383];
    while (in.size() < out.size()) {
        pollfd p{Fd, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
        ASSERT_EQ(poll(&p, 1, 10000), 1);
        int n = 0;
        while (sent < out.size() && channel.Write(out.data() + sent, static_cast<int>(std::min<size_t>(16383, out.size() - sent)), n) == tlsOk)
            sent += static_cast<size_t>(n);
        TTlsStatus s;
        while ((s = channel.Read(buffer, sizeof buffer, n)) == tlsOk) in.append(buffer, static_cast<size_t>(n));
        ASSERT_TRUE(s == tlsWantRead || s == tlsWantWrite) << channel.ErrorText();
    }
    EXPECT_TRUE(in == out);
    EXPECT_EQ(Drive([&] { return channel.Shutdown(); }), tlsOk);
    int n = 0;
    EXPECT_EQ(Drive([&] { return channel.Read(buffer, sizeof buffer, n); }), tlsClosed);
}

// A plain-text server (the wrong port) fails the handshake instead of hanging; unusable
// settings are refused before anything is sent.
TEST_F(TlsChannelTest, PlainServerAndBadSettingsAreRefused)
{
    TScriptedServer plain;
    plain.Send("220 plain text here\r\n").Stall();
    plain.Start();
    TTlsChannel channel({"localhost", Certs->CAFile, ""}, TTlsChannel::SocketIo(Connect(plain.Port())));
    EXPECT_EQ(Drive([&] { return channel.Handshake(); }), tlsError);
    EXPECT_EQ(channel.ErrorText().rfind("TLS handshake failed: ", 0), 0u) << channel.ErrorText();
    for (const TTlsSettings& bad : {TTlsSettings{"localhost", "/nonexistent/ca.pem", ""},
                                    TTlsSettings{"localhost", "", "AB:CD"}, TTlsSettings{"", "", ""}})
        EXPECT_THROW(TTlsChannel(bad, TTlsChannel::SocketIo(Fd)), ESockError);
}

}  // namespace
