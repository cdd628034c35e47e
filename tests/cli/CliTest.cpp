// quillcast-send run as a process: its arguments and exit codes, the password sources, and
// deliveries to real servers on loopback.
#include <QJsonArray>
#include <QProcess>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace {

struct TRun {
    int Exit;  // -1 when it crashed or did not end within a minute
    std::string Out, Err;
};

TRun RunSend(const QStringList& Args)
{
    QProcess P;  // killed by its destructor if it hangs
    P.start(QUILLCAST_SEND, Args);
    const bool Ended = P.waitForFinished(60000) && P.exitStatus() == QProcess::NormalExit;
    return {Ended ? P.exitCode() : -1, P.readAllStandardOutput().toStdString(), P.readAllStandardError().toStdString()};
}

QString Q(const std::string& S) { return QString::fromStdString(S); }

// A server that takes 100 recipients per message: a list of 250 from a file goes out in
// three transactions over one connection, every message the same bytes (Date, the mailer
// text, the body file and the attachment), with progress; a resume from the report sends
// nothing again.
TEST(QuillcastSend, DeliversAListLongerThanTheServersLimitAndResumes)
{
    TSmtpPeer Peer({}, 100);
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    TTempDir Dir;
    // Read as the window reads address files: any line end, an empty line is an entry.
    std::string List = "ann@x.test\r\nBob <bob@x.test>\n\r";
    for (int i = 0; i < 248; ++i) List += "r" + std::to_string(i) + "@x.test\n";
    const QStringList Args{"--host",      "127.0.0.1",
                           "--port",      QString::number(Peer.Port()),
                           "--from",      "me@x.test",
                           "--to-file",   Q(Dir.Write("list.txt", List)),
                           "--mode",      "to",
                           "--subject",   "Report",
                           "--body-file", Q(Dir.Write("body.txt", "Hello\r\n.\nbye")),
                           "--attach",    Q(Dir.Write("data.bin", std::string(100000, 'z'))),
                           "--report",    Q(Dir.File("report.csv"))};
    const TRun R = RunSend(Args);
    EXPECT_EQ(R.Exit, 0) << R.Err;
    // Progress lines, the last one at the whole message, then the summary.
    const std::string Summary = "250 accepted, 0 refused, 0 deferred in 3 transactions\n";
    ASSERT_TRUE(R.Err.ends_with(Summary)) << R.Err;
    const size_t Of = R.Err.rfind(" bytes of ");
    ASSERT_NE(Of, std::string::npos) << R.Err;
    const size_t Start = R.Err.rfind('\n', Of) + 1;  // npos + 1 is 0
    EXPECT_EQ(R.Err.substr(Of), " bytes of " + R.Err.substr(Start, Of - Start) + " sent\n" + Summary);
    // A progress line as each transaction starts once the server's 452 split the list; none
    // per recipient.
    size_t Shown = 0;
    for (size_t At = R.Err.find("Transaction "); At != std::string::npos; At = R.Err.find("Transaction ", At + 1))
        ++Shown;
    EXPECT_EQ(Shown, 2u) << R.Err;
    EXPECT_NE(R.Err.find("\nTransaction 2: recipients 101 to 200 of 250\n"), std::string::npos) << R.Err;
    const std::vector<std::string> Messages = Peer.Messages();
    ASSERT_EQ(Messages.size(), 3u);
    const QJsonObject First = ParseDelivered(Messages[0]);
    EXPECT_TRUE(HeaderValue(First, "To").starts_with("ann@x.test,Bob <bob@x.test>,,r0@x.test,"))
        << HeaderValue(First, "To");
    EXPECT_EQ(HeaderValue(First, "X-Mailer"), "Created by Veskor");
    EXPECT_TRUE(First["date_valid"].toBool()) << HeaderValue(First, "Date");
    EXPECT_EQ(JsonText(First["body"]), "Hello\r\n.\r\nbye");
    EXPECT_EQ(First["attachments"][0]["size"].toInteger(), 100000);
    for (size_t i = 0; i < 3; ++i) {
        const QJsonObject Got = ParseDelivered(Messages[i]);
        EXPECT_EQ(Got["rcpt_tos"].toArray().size(), i < 2 ? 100 : 50);
        EXPECT_EQ(Got["connection"].toInt(), 1);
        EXPECT_EQ(JsonText(Got["raw_sha256"]), JsonText(First["raw_sha256"])) << "every message identical";
    }
    const TRun Again = RunSend(Args + QStringList{"--resume", Q(Dir.File("report.csv"))});
    EXPECT_EQ(Again.Exit, 0) << Again.Err;
    EXPECT_EQ(Peer.Messages().size(), 3u);
}

// Every exit code, a refused recipient with and without a hang-up, and the password from a
// file or a command before QUILLCAST_PASSWORD (wrong in every row that does not say).
TEST(QuillcastSend, ArgumentsPasswordSourcesAndExitCodes)
{
    TSmtpPeer Peer = TSmtpPeer::Secure({"--tls", "starttls", "--auth", "ann:s3cret!", "--refuse", "nobody@x.test"});
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    TTempDir Dir;
    const QStringList Live{"--host",      "localhost", "--port",   QString::number(Peer.Port()),
                           "--tls",       "starttls",  "--tls-ca", Q(Peer.Certs.File("ca.pem")),
                           "--auth-user", "ann",       "--from",   "me@x.test",
                           "--body",      "Hi",        "--quiet"};
    TScriptedServer Quit;  // takes the message, then refuses QUIT
    Quit.Script(
            "S: 220 hi\nC: HELO TmpStr\nS: 250 ok\nC: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n"
            "C: RCPT TO:<a@x.test>\nS: 250 ok\nC: DATA\nS: 354 go\nD:\nS: 250 queued\nC: QUIT\nS: 500 no\n")
        .Start();
    const QStringList Dead{"--host", "127.0.0.1", "--port", QString::number(UnusedLoopbackPort()),
                           "--from", "me@x.test"};
    const QStringList To = Dead + QStringList{"--to", "a@x.test"};  // each bad row below spoils it one way
    const std::string Bad = "quillcast-send: ";
    // clang-format off
    const struct {
        QStringList Args;
        int Exit;
        std::string Err;  // standard error; with exit 2 its start
        const char* Password = "wrong";   // QUILLCAST_PASSWORD; none: not set
        const char* TlsModule = nullptr;  // QUILLCAST_TLS_MODULE; none: not set
    } Cases[] = {
        // A refused recipient does not stop delivery to the others.
        {Live + QStringList{"--password-file", Q(Dir.Write("pw", "s3cret!\n")), "--to", "a@x.test", "--to",
                            "Nobody <nobody@x.test>", "--to", "c@x.test"},
         3, "Recipient \"Nobody <nobody@x.test>\" not found\n"},
        // Hung up at the refusal: nobody got the message; the hang-up is not a second error.
        {Live + QStringList{"--password-command", "echo 's3cret!'", "--to", "nobody@x.test", "--to", "a@x.test",
                            "--stop-on-refusal"},
         1, "Recipient \"nobody@x.test\" not found\n"},
        {Live + QStringList{"--to", "b@x.test"}, 0, "", "s3cret!"},  // from the environment
        {Live + QStringList{"--to", "b@x.test"}, 1, "535 5.7.8 Authentication credentials invalid\n"},
        // Without its TLS module the program says which file it could not load.
        {Live + QStringList{"--to", "b@x.test"}, 1, "TLS is not available: cannot load libquillcast-tls.so (/none.so: "
         "cannot open shared object file: No such file or directory)\n", "s3cret!", "/none.so"},
        {To, 1, "Connection Failed. 10061:Connection refused\n"},
        // Once the message is taken, a failed QUIT is reported but must not ask for a resend.
        {QStringList{"--host", "127.0.0.1", "--port", QString::number(Quit.Port()), "--from", "me@x.test", "--to",
                     "a@x.test", "--quiet"}, 0, "500 no\n"},
        {To.mid(2), 2, Bad},                                                                  // no host
        {QStringList{"--host", "127.0.0.1", "--port", Dead[3], "--to", "a@x.test"}, 2, Bad},  // no sender
        {To.mid(0, 6), 2, Bad},                                                               // no recipient
        {To + QStringList{"--to-file", "f"}, 2, Bad},
        {To + QStringList{"--port", "70000"}, 2, Bad},
        {To + QStringList{"--mode", "all"}, 2, Bad},
        {To + QStringList{"--timeout", "-1"}, 2, Bad},
        {To + QStringList{"--pause", "soon"}, 2, Bad},
        {To + QStringList{"--frobnicate"}, 2, Bad},
        {To + QStringList{"stray"}, 2, Bad},
        {To + QStringList{"--host", "other"}, 2, Bad},
        {To + QStringList{"--auth-user", "ann"}, 2, Bad, nullptr},  // a login without a password source
    };
    // clang-format on
    const auto SetEnv = [](const char* Name, const char* Value) { Value ? setenv(Name, Value, 1) : unsetenv(Name); };
    for (const auto& C : Cases) {
        SetEnv("QUILLCAST_PASSWORD", C.Password);
        SetEnv("QUILLCAST_TLS_MODULE", C.TlsModule);
        const TRun R = RunSend(C.Args);
        EXPECT_EQ(R.Exit, C.Exit) << C.Args.join(' ').toStdString();
        EXPECT_EQ(C.Exit == 2 ? R.Err.substr(0, Bad.size()) : R.Err, C.Err);
    }
    unsetenv("QUILLCAST_PASSWORD");
    EXPECT_TRUE(Quit.Finished());
    const std::vector<std::string> Messages = Peer.Messages();
    ASSERT_EQ(Messages.size(), 2u);
    EXPECT_EQ(Strings(ParseDelivered(Messages[0])["rcpt_tos"]), (std::vector<std::string>{"a@x.test", "c@x.test"}));
}

}  // namespace
