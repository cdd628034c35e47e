// TLS under the transport's connection, against a Python TLS echo server with a test CA
// and server certificate made by openssl, and against scripted servers that cannot
// complete a handshake.
#include <cctype>

#include "support/PythonPeer.h"
#include "support/TempDir.h"
#include "TransportFixture.h"

namespace {

struct TlsTest : TransportTest {
    TTempDir Certs;
    TPythonPeer Echo{"support/tls_echo_peer.py", {"--certs", QString::fromStdString(Certs.Path())}};
    std::string CA = Certs.File("ca.pem");

    void SetUp() override { ASSERT_NE(Echo.Port(), 0) << Echo.Line.toStdString(); }
};

// The certificate passes its checks or the connection ends with the reason; settings
// that cannot work are refused before the handshake. Over a channel that is up, half a
// MiB of lines goes out while the server echoes it: partial writes, and reads that must go
// on from what the channel holds without a new notification.
TEST_F(TlsTest, CertificateChecksAndEchoedLines)
{
    std::string pin = Certs.Read("server.sha256"), bare, out;
    pin.pop_back();
    for (char c : pin)
        if (c != ':') bare += static_cast<char>(std::tolower(c));
    for (int i = 0; out.size() < (512u << 10); ++i)
        out += std::to_string(i) + std::string(i % 700, 'a' + i % 26) + "\r\n";
    // clang-format off
    struct { TTlsSettings Settings; std::string Error; } cases[] = {
        {{"localhost", CA, ""}, ""},
        {{"127.0.0.1", CA, ""}, ""},
        {{"localhost", "", ""}, "Certificate verify failed: unable to get local issuer certificate"},
        {{"mail.example.com", CA, ""}, "Certificate verify failed: hostname mismatch"},
        {{"127.0.0.2", CA, ""}, "Certificate verify failed: IP address mismatch"},
        {{"mail.example.com", "", bare}, ""},
        {{"localhost", CA, "00" + pin.substr(2)}, "Certificate fingerprint mismatch: the server's is " + pin},
        {{"localhost", "/nonexistent/ca.pem", ""}, "Cannot load CA file /nonexistent/ca.pem"},
        {{"localhost", "", "AB:CD"}, "Invalid certificate fingerprint 'AB:CD' (expected the SHA-256 fingerprint in hex)"},
        {{"", "", ""}, "No server name to check the certificate against"},
    };
    // clang-format on
    for (const auto& c : cases) {
        TSockTransport t;
        ConnectTo(t, Echo.Port());
        t.SetReplyTimeOut(10000);  // a lost read fails instead of hanging
        EXPECT_EQ(MessageOf<ESockError>([&] { t.StartTls(c.Settings); }), c.Error) << c.Settings.Host;
        EXPECT_EQ(t.TlsPeerFingerprint(), c.Error.empty() ? pin : "");
        EXPECT_EQ(t.Connected(), c.Error.empty());
        if (!c.Error.empty()) continue;
        std::string in;
        t.Write(out);
        for (std::string line; in.size() < out.size(); in += line) t.ReadLn(line);
        EXPECT_TRUE(in == out);
    }
}

// A server that never answers the handshake is left on a cancel or at the reply
// time-out; one that answers in plain text or hangs up is refused with the reason. The
// connection is closed in every case.
TEST_F(TransportTest, TlsHandshakeThatCannotCompleteEndsTheConnection)
{
    // clang-format off
    struct { std::function<void(TScriptedServer&)> Script; int ReplyTimeOut; bool Cancel; std::string Error; } Cases[] = {
        {[](TScriptedServer& S) { S.Stall(); }, 0, true, "TLS handshake aborted"},
        {[](TScriptedServer& S) { S.Stall(); }, 300, false, "TLS handshake timed out"},
        {[](TScriptedServer& S) { S.SendLine("220 plain text only"); }, 0, false, "TLS handshake failed: "},
        {[](TScriptedServer& S) { S.ExpectBytes(1).Close(); }, 0, false, "Connection closed during the TLS handshake"},
    };
    // clang-format on
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TScriptedServer S;
        C.Script(S);
        S.Start();
        TSockTransport T;
        ConnectTo(T, S.Port());
        T.SetReplyTimeOut(C.ReplyTimeOut);
        if (C.Cancel) CancelLater(T, 100);
        const auto Start = [&] { T.StartTls({"127.0.0.1", "", ""}); };
        const std::string Error = C.Cancel ? MessageOf<EAbortError>(Start) : MessageOf<ESockError>(Start);
        EXPECT_TRUE(Error.starts_with(C.Error)) << Error;
        EXPECT_FALSE(T.Connected() || T.TlsActive());
    }
}

}  // namespace
