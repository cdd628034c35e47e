// Secure, authenticated submission against real servers started here: aiosmtpd with
// STARTTLS or implicit TLS, certificates made by openssl at test time, AUTH required.
#include <QDir>
#include <QJsonArray>

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "send/SendRun.h"
#include "smtp/SmtpClient.h"
#include "support/PythonPeer.h"

namespace {

const std::string Password = "s3cret!";

struct TServer {
    TTempDir Dir, Certs;
    TPythonPeer Peer;
    explicit TServer(QStringList Args)
        : Peer("smtp/secure_smtp_peer.py", Args << "--dir" << QString::fromStdString(Dir.Path()) << "--certs"
                                                << QString::fromStdString(Certs.Path()))
    {
    }
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> Out;
        const QDir D(QString::fromStdString(Dir.Path()));
        for (const QString& Name : D.entryList({"msg-*.json"}, QDir::Files, QDir::Name))
            Out.push_back(D.filePath(Name).toStdString());
        return Out;
    }
};

TSendRequest Request(const TServer& S, TSecurity Security)
{
    TSendRequest R;
    R.Host = "localhost";
    R.Port = S.Peer.Port();
    R.ReplyTimeOut = 20000;
    R.FromAddress = "me@x.test";
    R.Recipients = {"ann@x.test"};
    R.Body = {"Hello"};
    R.SkipRefused = true;
    R.Security = Security;
    R.CAFile = S.Certs.File("ca.pem");
    R.AuthUser = "ann";
    R.Password = Password;
    return R;
}

// Runs the request with the protocol log in Log; returns the error text ("" when none).
std::string Send(const TSendRequest& R, const std::string& Log, TSendReport* Report = nullptr)
{
    setenv("QUILLCAST_LOG", Log.c_str(), 1);
    TSmtpClient Client;
    TSendRun Run(Client);
    std::string Error;
    try {
        Run.Run(R);
    } catch (const std::exception& E) {
        Error = E.what();
    }
    unsetenv("QUILLCAST_LOG");
    if (Report)
        *Report = Run.Report();
    return Error;
}

TEST(SecureSend, DeliveredOverEachModeWithEachMechanism)
{
    struct { const char* ServerTls; TSecurity Security; TAuthMethod Method; bool Pin; const char* Shown; } Cases[] = {
        {"starttls", TSecurity::StartTls, amAuto, false, "AUTH PLAIN ***"},
        {"starttls", TSecurity::StartTls, amLogin, true, "AUTH LOGIN"},
        {"starttls", TSecurity::StartTls, amXOAuth2, false, "AUTH XOAUTH2 ***"},
        {"tls", TSecurity::Tls, amPlain, true, "AUTH PLAIN ***"},
        {"tls", TSecurity::Tls, amLogin, false, "AUTH LOGIN"},
        {"tls", TSecurity::Tls, amXOAuth2, false, "AUTH XOAUTH2 ***"},
        {"none", TSecurity::None, amPlain, false, "AUTH PLAIN ***"},  // allowed in plain text
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.ServerTls) + " " + C.Shown);
        TServer S({"--tls", C.ServerTls, "--auth", QString::fromStdString("ann:" + Password), "--auth-plaintext"});
        ASSERT_NE(S.Peer.Port(), 0) << S.Peer.Line.toStdString();
        TSendRequest R = Request(S, C.Security);
        R.AuthMethod = C.Method;
        R.AllowPlaintextAuth = C.Security == TSecurity::None;
        if (C.Pin) {
            R.CAFile.clear();
            R.Fingerprint = S.Certs.Read("server.sha256");
            R.Fingerprint.pop_back();  // its line end
        }
        EXPECT_EQ(Send(R, S.Dir.File("log")), "");
        ASSERT_EQ(S.Messages().size(), 1u);
        const QJsonObject Got = ParseDelivered(S.Messages()[0]);
        EXPECT_EQ(JsonText(Got["auth_user"]), "ann");
        EXPECT_EQ(Got["tls"].toBool(), C.Security != TSecurity::None);
        const std::string Log = S.Dir.Read("log");
        EXPECT_NE(Log.find("C: " + std::string(C.Shown) + "\n"), std::string::npos) << Log;
        // Neither the secret nor its base64 (alone, or as PLAIN's or XOAUTH2's) is shown.
        for (const std::string& Secret : {Password, std::string("czNjcmV0IQ"), std::string("YW5uAHMzY3JldC")})
            EXPECT_EQ(Log.find(Secret), std::string::npos) << Log;
    }
}

TEST(SecureSend, RefusedBeforeMailWithTheReason)
{
    const QStringList StartTls{"--tls", "starttls", "--auth", "ann:" + QString::fromStdString(Password)};
    struct { QStringList Server; std::function<void(TSendRequest&, const TServer&)> Change; std::string Error; } Cases[] = {
        {StartTls, [](TSendRequest& R, const TServer&) { R.CAFile.clear(); }, "Certificate verify failed: "},
        // The same address written another way, which the certificate does not name.
        {StartTls, [](TSendRequest& R, const TServer&) { R.Host = "127.1"; }, "Certificate verify failed: hostname"},
        {StartTls, [](TSendRequest& R, const TServer&) { R.Fingerprint = std::string(64, 'A'); },
         "Certificate fingerprint mismatch: the server's is "},
        {StartTls, [](TSendRequest& R, const TServer&) { R.Password = "wrong"; }, "535 5.7.8 Authentication credentials invalid"},
        {{"--auth", "ann:x", "--auth-plaintext"}, [](TSendRequest& R, const TServer&) { R.Security = TSecurity::None; },
         "The connection is not encrypted: the password is not sent"},
        {{}, [](TSendRequest&, const TServer&) {}, "The server does not offer STARTTLS"},
        {{"--refuse-ehlo", "--tls", "starttls"}, [](TSendRequest&, const TServer&) {}, "502 5.5.1 EHLO not implemented"},
        {{"--size", "2000"},
         [](TSendRequest& R, const TServer&) { R.Security = TSecurity::None; R.AuthUser.clear(); R.ExtendedSmtp = true;
                                               R.Body = {std::string(3000, 'x')}; },
         "The message is "},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TServer S(C.Server);
        ASSERT_NE(S.Peer.Port(), 0) << S.Peer.Line.toStdString();
        TSendRequest R = Request(S, TSecurity::StartTls);
        C.Change(R, S);
        EXPECT_TRUE(Send(R, S.Dir.File("log")).starts_with(C.Error)) << Send(R, S.Dir.File("log2"));
        const std::string Log = S.Dir.Read("log");
        EXPECT_EQ(Log.find("MAIL FROM"), std::string::npos) << Log;
        if (!C.Error.starts_with("535")) {
            EXPECT_EQ(Log.find("C: AUTH"), std::string::npos) << Log;
        }
        EXPECT_TRUE(S.Messages().empty());
    }
}

// Extended SMTP without TLS or login: an EHLO refusal leaves HELO, 8-bit text goes
// quoted-printable to a server without 8BITMIME and is declared to one with it.
TEST(SecureSend, EhloFallbackAndEightBitText)
{
    const std::string Text = "Привет, мир";
    struct { QStringList Server; const char* Said; const char* Encoding; } Cases[] = {
        {{"--refuse-ehlo"}, "C: HELO TmpStr\n", "8bit"},
        {{"--no-8bitmime"}, "C: MAIL FROM:<me@x.test>\n", "quoted-printable"},
        {{}, " BODY=8BITMIME\n", "8bit"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Said);
        TServer S(C.Server);
        TSendRequest R = Request(S, TSecurity::None);
        R.AuthUser.clear();
        R.ExtendedSmtp = true;
        R.Body = {Text};
        EXPECT_EQ(Send(R, S.Dir.File("log")), "");
        ASSERT_EQ(S.Messages().size(), 1u);
        const QJsonObject Got = ParseDelivered(S.Messages()[0]);
        EXPECT_EQ(JsonText(Got["body"]), "\r\n" + Text + "\r\n");  // the body opens with a blank line
        EXPECT_EQ(HeaderValue(Got, "Content-Transfer-Encoding"), C.Encoding);
        EXPECT_NE(S.Dir.Read("log").find(C.Said), std::string::npos) << S.Dir.Read("log");
    }
}

// Refused and 452 recipients, in lockstep and pipelined: the same report and messages.
TEST(SecureSend, PipelinedListReportsAsLockstep)
{
    std::vector<std::string> Reports, Envelopes;
    for (const bool Pipelined : {false, true}) {
        TServer S({"--pipelining", "--max-rcpt", "3", "--refuse", "bad@x.test", "--refuse", "worse@x.test"});
        TSendRequest R = Request(S, TSecurity::None);
        R.AuthUser.clear();
        R.ExtendedSmtp = Pipelined;
        R.Recipients = {"a@x.test", "bad@x.test", "b@x.test", "", "c@x.test", "d@x.test", "worse@x.test", "e@x.test"};
        TSendReport Report;
        EXPECT_EQ(Send(R, S.Dir.File("log"), &Report), "");
        Reports.push_back(Report.ToCsv());
        std::string Envelope;
        for (const std::string& M : S.Messages()) {
            for (const std::string& To : Strings(ParseDelivered(M)["rcpt_tos"]))
                Envelope += To + ",";
            Envelope += "|";
        }
        Envelopes.push_back(Envelope);
        // Pipelined, a RCPT TO follows MAIL FROM before its reply came.
        const std::string Log = S.Dir.Read("log");
        EXPECT_EQ(Log.find("MAIL FROM:<me@x.test>\nC: RCPT TO:<a@x.test>") != std::string::npos, Pipelined) << Log;
    }
    EXPECT_EQ(Reports[0], Reports[1]);
    EXPECT_EQ(Envelopes[0], "a@x.test,b@x.test,c@x.test,|d@x.test,e@x.test,|");
    EXPECT_EQ(Envelopes[1], Envelopes[0]);
}

}  // namespace
