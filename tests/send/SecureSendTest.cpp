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

// Requests name only the fields a case needs; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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
    int Delivered() const { return QDir(QString::fromStdString(Dir.Path())).entryList({"msg-*.json"}).size(); }
    QJsonObject Message(int N) const { return ParseDelivered(Dir.File(QString::asprintf("msg-%03d.json", N).toStdString())); }
    std::string Pin() const { return Certs.Read("server.sha256").substr(0, 95); }  // "AB:…:EF" without its line end
};

// Extended SMTP in plain text, no login.
TSendRequest Plain(const TServer& S, const std::string& Body, std::vector<std::string> To = {"ann@x.test"})
{
    TSendRequest R;
    R.Host = "localhost";
    R.Port = S.Peer.Port();
    R.FromAddress = "me@x.test";
    R.Body = {Body};
    R.Recipients = std::move(To);
    R.SkipRefused = true;
    R.ExtendedSmtp = true;
    return R;
}

TSendRequest Request(const TServer& S, TSecurity Security)
{
    TSendRequest R = Plain(S, "Hello");
    R.ReplyTimeOut = 20000;
    R.ExtendedSmtp = false;
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
        TSendRequest R = Request(S, C.Security);
        R.AuthMethod = C.Method;
        R.AllowPlaintextAuth = C.Security == TSecurity::None;
        R.Fingerprint = C.Pin ? S.Pin() : "";  // replaces the CA file
        TSmtpClient Prober;  // what "Test connection" shows, sending nothing
        const std::vector<std::string> Offer = TSendRun(Prober).Probe(R);
        EXPECT_EQ(Offer.back(), "Logged in as ann (" + AuthMethodName(C.Method == amAuto ? amPlain : C.Method) + ")");
        EXPECT_EQ(Send(R, S.Dir.File("log")), "");
        const QJsonObject Got = S.Message(1);
        EXPECT_EQ(JsonText(Got["auth_user"]), "ann");
        EXPECT_EQ(Got["tls"].toBool(), C.Security != TSecurity::None);
        EXPECT_TRUE(!C.Pin || Offer[Offer.size() - 2] == "TLS: server certificate SHA-256 " + S.Pin()) << Offer[0];
        const std::string Log = S.Dir.Read("log");
        EXPECT_NE(Log.find("C: " + std::string(C.Shown) + "\n"), std::string::npos) << Log;
        // Neither the secret nor its base64 (alone, or as PLAIN's or XOAUTH2's) is shown.
        for (const std::string& Secret :
             {Password, Base64Encode(Password), PlainResponse("", "ann", Password), XOAuth2Response("ann", Password)})
            EXPECT_EQ(Log.find(Secret), std::string::npos) << Log;
    }
}

TEST(SecureSend, RefusedBeforeMailWithTheReason)
{
    const QStringList StartTls{"--tls", "starttls", "--auth", "ann:" + QString::fromStdString(Password)};
    struct { QStringList Server; std::function<void(TSendRequest&, const TServer&)> Change; std::string Error; } Cases[] = {
        {StartTls, [](auto& R, auto&) { R.CAFile.clear(); }, "Certificate verify failed: "},
        // The same address written another way, which the certificate does not name.
        {StartTls, [](auto& R, auto&) { R.Host = "127.1"; }, "Certificate verify failed: hostname"},
        {StartTls, [](auto& R, auto&) { R.Fingerprint = std::string(64, 'A'); }, "Certificate fingerprint mismatch: "},
        {StartTls, [](auto& R, auto&) { R.Password = "wrong"; }, "535 5.7.8 Authentication credentials invalid"},
        {{"--auth", "ann:x", "--auth-plaintext"}, [](auto& R, auto&) { R.Security = TSecurity::None; }, "The connection is not"},
        {{}, [](auto&, auto&) {}, "The server does not offer STARTTLS"},
        {{"--refuse-ehlo", "--tls", "starttls"}, [](auto&, auto&) {}, "502 5.5.1 EHLO not implemented"},
        {{"--size", "2000"}, [](auto& R, auto& S) { R = Plain(S, std::string(3000, 'x')); }, "The message is "},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TServer S(C.Server);
        TSendRequest R = Request(S, TSecurity::StartTls);
        C.Change(R, S);
        const std::string Error = Send(R, S.Dir.File("log")), Log = S.Dir.Read("log");
        EXPECT_TRUE(Error.starts_with(C.Error)) << Error;
        EXPECT_EQ(Log.find("MAIL FROM"), std::string::npos) << Log;
        EXPECT_EQ(Log.find("C: AUTH") == std::string::npos, !C.Error.starts_with("535")) << Log;
        EXPECT_TRUE(S.Delivered() == 0);
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
        EXPECT_EQ(Send(Plain(S, Text), S.Dir.File("log")), "");
        const QJsonObject Got = S.Message(1);
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
        TSendRequest R = Plain(S, "Hi", {"a@x.test", "bad@x.test", "b@x.test", "", "c@x.test", "d@x.test", "worse@x.test", "e@x.test"});
        R.ExtendedSmtp = Pipelined;
        TSendReport Report;
        EXPECT_EQ(Send(R, S.Dir.File("log"), &Report), "");
        Reports.push_back(Report.ToCsv());
        Envelopes.emplace_back();
        for (int N = 1; N <= S.Delivered(); ++N)
            Envelopes.back() += S.Message(N)["rcpt_tos"].toVariant().toStringList().join(",").toStdString() + "|";
        // Pipelined, a RCPT TO follows MAIL FROM before its reply came.
        EXPECT_EQ(S.Dir.Read("log").find("FROM:<me@x.test>\nC: RCPT TO:<a@x.test>") != std::string::npos, Pipelined);
    }
    EXPECT_EQ(Reports[0], Reports[1]);
    EXPECT_EQ(Envelopes[0], "a@x.test,b@x.test,c@x.test|d@x.test,e@x.test|");
    EXPECT_EQ(Envelopes[1], Envelopes[0]);
}

}  // namespace
