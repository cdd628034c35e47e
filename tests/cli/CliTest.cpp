// quillcast-send run as a process, against a real SMTP server on loopback.
#include <QJsonArray>
#include <QProcess>

#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace {

struct TRun {
    int Exit = -1;
    std::string Out, Err;
};

TRun RunSend(const QStringList& Args)
{
    QProcess P;
    P.start(QUILLCAST_SEND, Args);
    TRun R;
    if (!P.waitForFinished(60000)) {
        P.kill();
        P.waitForFinished();
        R.Err = "did not finish";
        return R;
    }
    R.Exit = P.exitStatus() == QProcess::NormalExit ? P.exitCode() : -1;
    R.Out = P.readAllStandardOutput().toStdString();
    R.Err = P.readAllStandardError().toStdString();
    return R;
}

std::string Str(const QJsonValue& V)
{
    return V.toString().toStdString();
}

std::string HeaderValue(const QJsonObject& Parsed, const std::string& Name)
{
    for (const QJsonValue& H : Parsed["headers"].toArray())
        if (Str(H.toArray()[0]) == Name)
            return Str(H.toArray()[1]);
    return "";
}

TEST(QuillcastSend, DeliversWithDateMailerAndProgress)
{
    TSmtpPeer Peer;
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    TTempDir Dir;
    // Read as the window reads address files: any line end, an empty line is an entry.
    const std::string List = Dir.Write("list.txt", "ann@x.test\r\nBob <bob@x.test>\n\rcarl@x.test");
    const std::string Body = Dir.Write("body.txt", "Hello\r\n.\nbye");
    const std::string Attachment = Dir.Write("data.bin", std::string(100000, 'z'));
    const TRun R = RunSend({"--host", "127.0.0.1", "--port", QString::number(Peer.Port()), "--from", "me@x.test",
                        "--from-name", "Me", "--to-file", QString::fromStdString(List), "--mode", "to",
                        "--subject", "Report", "--body-file", QString::fromStdString(Body), "--attach",
                        QString::fromStdString(Attachment)});
    EXPECT_EQ(R.Exit, 0) << R.Err;
    ASSERT_EQ(Peer.Messages().size(), 1u);
    QStringList Rcpt;
    for (const QJsonValue& V : Peer.Envelope(1)["rcpt_tos"].toArray())
        Rcpt << V.toString();
    EXPECT_EQ(Rcpt, (QStringList{"ann@x.test", "bob@x.test", "carl@x.test"}));

    const QJsonObject Parsed = ParseDelivered(Peer.Messages()[0]);
    EXPECT_EQ(HeaderValue(Parsed, "X-Mailer"), "Created by Veskor");
    EXPECT_EQ(HeaderValue(Parsed, "Subject"), "Report");
    EXPECT_EQ(HeaderValue(Parsed, "To"), "ann@x.test,Bob <bob@x.test>,,carl@x.test");
    // An RFC 5322 date that Python can read back.
    EXPECT_TRUE(Parsed["date_valid"].toBool()) << HeaderValue(Parsed, "Date");
    EXPECT_EQ(Str(Parsed["body"]), "Hello\r\n.\r\nbye");
    ASSERT_EQ(Parsed["attachments"].toArray().size(), 1);
    EXPECT_EQ(Parsed["attachments"].toArray()[0].toObject()["size"].toInteger(), 100000);
    // Progress lines end at the whole body.
    const size_t Last = R.Err.rfind(" bytes of ");
    ASSERT_NE(Last, std::string::npos) << R.Err;
    const size_t LineStart = R.Err.rfind('\n', Last) == std::string::npos ? 0 : R.Err.rfind('\n', Last) + 1;
    const std::string Sent = R.Err.substr(LineStart, Last - LineStart);
    EXPECT_EQ(R.Err.substr(Last), " bytes of " + Sent + " sent\n");
}

TEST(QuillcastSend, RefusedRecipientGivesExitThreeAndTheOthersReceive)
{
    TSmtpPeer Peer({"nobody@x.test"});
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    const TRun R = RunSend({"--host", "127.0.0.1", "--port", QString::number(Peer.Port()), "--from", "me@x.test",
                        "--to", "a@x.test", "--to", "Nobody <nobody@x.test>", "--to", "c@x.test", "--body", "Hi",
                        "--quiet"});
    EXPECT_EQ(R.Exit, 3) << R.Err;
    EXPECT_EQ(R.Err, "Recipient \"Nobody <nobody@x.test>\" not found\n");
    ASSERT_EQ(Peer.Messages().size(), 1u);
    EXPECT_EQ(Peer.Envelope(1)["rcpt_tos"].toArray().size(), 2);
}

TEST(QuillcastSend, FailuresGiveExitOneWithTheErrorText)
{
    const QString Port = QString::number(UnusedLoopbackPort());
    TRun R = RunSend({"--host", "127.0.0.1", "--port", Port, "--from", "me@x.test", "--to", "a@x.test"});
    EXPECT_EQ(R.Exit, 1);
    EXPECT_EQ(R.Err, "Connection Failed.\n");

    // Every recipient refused: the server refuses the data, and its reply is the error.
    TSmtpPeer Peer({"a@x.test"});
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    R = RunSend({"--host", "127.0.0.1", "--port", QString::number(Peer.Port()), "--from", "me@x.test", "--to",
             "a@x.test", "--body", "x"});
    EXPECT_EQ(R.Exit, 1);
    EXPECT_EQ(R.Err, "Recipient \"a@x.test\" not found\n503 Error: need RCPT command\n");

    TTempDir Dir;
    R = RunSend({"--host", "127.0.0.1", "--port", Port, "--from", "me@x.test", "--to-file",
             QString::fromStdString(Dir.File("missing.txt"))});
    EXPECT_EQ(R.Exit, 1);
    EXPECT_EQ(R.Err, "Cannot open file " + Dir.File("missing.txt") + ".\n");
}

TEST(QuillcastSend, BadArgumentsGiveExitTwoAndSendNothing)
{
    const QStringList Base{"--host", "127.0.0.1", "--from", "me@x.test"};
    const QStringList Cases[] = {
        {"--from", "me@x.test", "--to", "a@x.test"},           // no host
        {"--host", "127.0.0.1", "--to", "a@x.test"},           // no sender
        Base,                                                  // no recipients
        Base + QStringList{"--to", "a@x.test", "--to-file", "f"},
        Base + QStringList{"--to", "a@x.test", "--body", "x", "--body-file", "f"},
        Base + QStringList{"--to", "a@x.test", "--port", "smtp"},
        Base + QStringList{"--to", "a@x.test", "--port", "70000"},
        Base + QStringList{"--to", "a@x.test", "--mode", "all"},
        Base + QStringList{"--to", "a@x.test", "--timeout", "-1"},
        Base + QStringList{"--to", "a@x.test", "--frobnicate"},
        Base + QStringList{"--to", "a@x.test", "stray"},
        Base + QStringList{"--to", "a@x.test", "--host", "other"},
    };
    for (const QStringList& Args : Cases) {
        const TRun R = RunSend(Args);
        EXPECT_EQ(R.Exit, 2) << Args.join(' ').toStdString() << "\n" << R.Err;
        EXPECT_FALSE(R.Err.empty());
    }
    const TRun Help = RunSend({"--help"});
    EXPECT_EQ(Help.Exit, 0);
    EXPECT_NE(Help.Out.find("--reply-timeout"), std::string::npos);
}

}  // namespace
