// Secure, authenticated submission against real servers started here: aiosmtpd with
// STARTTLS or implicit TLS, certificates made by openssl at test time, AUTH required.
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "send/SendRun.h"
#include "smtp/SmtpClient.h"
#include "transport/TransportFixture.h"  // MessageOf

namespace {

const std::string Password = "s3cret!";
const QString Login = "ann:" + QString::fromStdString(Password);  // the servers' --auth
const std::string Text = "Привет, мир";

// 8-bit text to ann@x.test: with a login, in the security mode given (the login implies
// EHLO); without one, extended SMTP in plain text.
TSendRequest Request(const TSmtpPeer& S, TSecurity Security = TSecurity::None,
                     std::optional<TAuthMethod> Method = std::nullopt)
{
    TSendRequest R;
    R.Host = "localhost";
    R.Port = S.Port();
    R.ReplyTimeOut = 20000;
    R.FromAddress = "me@x.test";
    R.Body = {Text};
    R.Recipients = {"ann@x.test"};
    R.SkipRefused = true;
    R.ExtendedSmtp = !Method;
    R.Security = Security;
    R.CAFile = S.Certs.File("ca.pem");
    R.AuthUser = Method ? "ann" : "";
    R.Password = Method ? Password : "";
    R.AuthMethod = Method.value_or(amAuto);
    R.AllowPlaintextAuth = Security == TSecurity::None;
    return R;
}

std::string Pin(const TSmtpPeer& S) { return S.Certs.Read("server.sha256").substr(0, 95); }  // "AB:…:EF"

// Runs the request with the protocol log in Log; returns the error text ("" when none).
std::string Send(const TSendRequest& R, const std::string& Log, TSendReport* Report = nullptr)
{
    setenv("QUILLCAST_LOG", Log.c_str(), 1);
    TSmtpClient Client;
    TSendRun Run(Client);
    const std::string Error = MessageOf<Exception>([&] { Run.Run(R); });
    unsetenv("QUILLCAST_LOG");
    if (Report) *Report = Run.Report();
    return Error;
}

// Each mode and each mechanism (the STARTTLS server takes AUTH only after TLS), then
// without a login: an EHLO refusal leaves HELO, and 8-bit text goes quoted-printable to a
// server without 8BITMIME and is declared to one with it.
TEST(SecureSend, DeliveredInEachModeWithEachMechanism)
{
    using enum TSecurity;
    struct {
        TSecurity Security;
        std::optional<TAuthMethod> Method;  // none: no login
        bool Pin;
        QStringList Server;
        const char* Said;  // in the protocol log
        const char* Encoding;
    } Cases[] = {
        {StartTls, amAuto, false, {"--tls", "starttls", "--auth", Login}, "C: AUTH PLAIN ***\n", "8bit"},
        {Tls, amLogin, true, {"--tls", "tls", "--auth", Login}, "C: AUTH LOGIN\n", "8bit"},
        // The user allows a login in plain text.
        {None, amXOAuth2, false, {"--auth", Login, "--auth-plaintext"}, "C: AUTH XOAUTH2 ***\n", "8bit"},
        {None, std::nullopt, false, {"--refuse-ehlo"}, "C: HELO TmpStr\n", "8bit"},
        {None, std::nullopt, false, {"--no-8bitmime"}, "C: MAIL FROM:<me@x.test>\n", "quoted-printable"},
        {None, std::nullopt, false, {}, " BODY=8BITMIME\n", "8bit"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Said);
        TSmtpPeer S = TSmtpPeer::Secure(C.Server);
        TSendRequest R = Request(S, C.Security, C.Method);
        if (C.Method) {
            R.Fingerprint = C.Pin ? Pin(S) : "";
            R.CAFile = C.Pin ? "" : R.CAFile;  // the pin replaces the CA file
            TSmtpClient Prober;                // what "Test connection" shows, sending nothing
            const std::vector<std::string> Offer = TSendRun(Prober).Probe(R);
            EXPECT_EQ(Offer.back(),
                      "Logged in as ann (" + AuthMethodName(*C.Method == amAuto ? amPlain : *C.Method) + ")");
            EXPECT_TRUE(!C.Pin || Offer[Offer.size() - 2] == "TLS: server certificate SHA-256 " + Pin(S)) << Offer[0];
        }
        EXPECT_EQ(Send(R, S.Dir.File("log")), "");
        ASSERT_EQ(S.Messages().size(), 1u);
        const QJsonObject Got = ParseDelivered(S.Messages()[0]);
        EXPECT_EQ(JsonText(Got["auth_user"]), C.Method ? "ann" : "");
        EXPECT_EQ(Got["tls"].toBool(), C.Security != TSecurity::None);
        EXPECT_EQ(JsonText(Got["body"]), "\r\n" + Text + "\r\n");  // the body opens with a blank line
        EXPECT_EQ(HeaderValue(Got, "Content-Transfer-Encoding"), C.Encoding);
        const std::string Log = S.Dir.Read("log");
        EXPECT_NE(Log.find(C.Said), std::string::npos) << Log;
        // Neither the secret nor its base64 (alone, or as PLAIN's or XOAUTH2's) is shown.
        for (const std::string& Secret :
             {Password, Base64Encode(Password), PlainResponse("", "ann", Password), XOAuth2Response("ann", Password)})
            EXPECT_EQ(Log.find(Secret), std::string::npos) << Log;
    }
}

// One row per server behaviour; each certificate refusal (CA, host, pin) is shown with its
// reason in tests/transport, the host here as the client's part in it.
TEST(SecureSend, RefusedBeforeMailWithTheReason)
{
    const QStringList StartTls{"--tls", "starttls", "--auth", Login};
    // clang-format off
    struct {
        QStringList Server;
        std::function<void(TSendRequest&, const TSmtpPeer&)> Change;
        std::string Error;
    } Cases[] = {
        // The same address written another way, which the certificate does not name.
        {StartTls, [](auto& R, auto&) { R.Host = "127.1"; }, "Certificate verify failed: hostname"},
        {StartTls, [](auto& R, auto&) { R.Password = "wrong"; }, "535 5.7.8 Authentication credentials invalid"},
        {{"--auth", "ann:x", "--auth-plaintext"}, [](auto& R, auto&) { R.Security = TSecurity::None; }, "The connection is not"},
        {{}, [](auto&, auto&) {}, "The server does not offer STARTTLS"},
        {{"--refuse-ehlo", "--tls", "starttls"}, [](auto&, auto&) {}, "502 5.5.1 EHLO not implemented"},
        {{"--size", "2000"}, [](auto& R, auto& S) { R = Request(S); R.Body = {std::string(3000, 'x')}; }, "The message is "},
    };
    // clang-format on
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Error);
        TSmtpPeer S = TSmtpPeer::Secure(C.Server);
        TSendRequest R = Request(S, TSecurity::StartTls, amAuto);
        C.Change(R, S);
        const std::string Error = Send(R, S.Dir.File("log")), Log = S.Dir.Read("log");
        EXPECT_TRUE(Error.starts_with(C.Error)) << Error;
        EXPECT_EQ(Log.find("MAIL FROM"), std::string::npos) << Log;
        EXPECT_EQ(Log.find("C: AUTH") == std::string::npos, !C.Error.starts_with("535")) << Log;
        EXPECT_TRUE(S.Messages().empty());
    }
}

// Refused and 452 recipients, in lockstep and pipelined: the same report and messages.
TEST(SecureSend, PipelinedListReportsAsLockstep)
{
    std::vector<std::string> Reports, Envelopes;
    for (const bool Pipelined : {false, true}) {
        TSmtpPeer S = TSmtpPeer::Secure(
            {"--pipelining", "--max-rcpt", "3", "--refuse", "bad@x.test", "--refuse", "worse@x.test"});
        TSendRequest R = Request(S);
        R.Body = {"Hi"};
        R.Recipients = {"a@x.test", "bad@x.test", "b@x.test", "", "c@x.test", "d@x.test", "worse@x.test", "e@x.test"};
        R.ExtendedSmtp = Pipelined;
        TSendReport Report;
        EXPECT_EQ(Send(R, S.Dir.File("log"), &Report), "");
        Reports.push_back(Report.ToCsv());
        Envelopes.emplace_back();
        for (const std::string& M : S.Messages())
            Envelopes.back() += ParseDelivered(M)["rcpt_tos"].toVariant().toStringList().join(",").toStdString() + "|";
        // Pipelined, a RCPT TO follows MAIL FROM before its reply came.
        EXPECT_EQ(S.Dir.Read("log").find("FROM:<me@x.test>\nC: RCPT TO:<a@x.test>") != std::string::npos, Pipelined);
    }
    EXPECT_EQ(Reports[0], Reports[1]);
    EXPECT_EQ(Envelopes[0], "a@x.test,b@x.test,c@x.test|d@x.test,e@x.test|");
    EXPECT_EQ(Envelopes[1], Envelopes[0]);
}

}  // namespace
