// quillcast-send: delivers one message to a list of recipients in one SMTP transaction,
// the way the window's Send does, for scripts and for machines without a display.
//
// Exit codes: 0 the server accepted the message for every recipient, 3 it accepted the
// message but refused some recipients, 1 any failure (its text on standard error, worded
// as the window's error report words it), 2 bad arguments.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <utility>

#include "base/Exception.h"
#include "base/StringList.h"
#include "mime/MessageComposer.h"
#include "smtp/SmtpClient.h"

namespace {

enum ExitCode { exDelivered = 0, exFailure = 1, exBadArguments = 2, exSomeRefused = 3 };

std::string Utf8(const QString& S)
{
    return S.toUtf8().toStdString();
}

// The window's error report text on one plain line: a server's reply keeps its line end.
std::string ReportText(const std::string& Message)
{
    std::string Text = ErrorReportText(Message);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r'))
        Text.pop_back();
    return Text;
}

struct TArguments {
    std::string Host;
    int Port = 25;
    std::string UserID = "TmpStr";
    std::string From, FromName, Subject, Mode = "bcc";
    std::string ToFile, BodyFile, Body;
    bool HasToFile = false, HasBodyFile = false, HasBody = false;
    QStringList To, Attach;
    int TimeOut = 5000, ReplyTimeOut = 60000;
    bool Quiet = false;
};

int BadArguments(const QString& Why)
{
    std::fprintf(stderr, "quillcast-send: %s\nTry 'quillcast-send --help'.\n", Why.toUtf8().constData());
    return exBadArguments;
}

bool ParseNumber(const QString& Text, int Low, int High, int& Value)
{
    bool Ok = false;
    const int V = Text.trimmed().toInt(&Ok, 10);
    if (!Ok || V < Low || V > High)
        return false;
    Value = V;
    return true;
}

// Returns -1 when the arguments are usable, else the exit code.
int ParseArguments(const QStringList& Argv, TArguments& A)
{
    QCommandLineParser P;
    P.setApplicationDescription("Sends one message to a list of recipients in one SMTP transaction.");
    const QCommandLineOption HelpOpt({"h", "help"}, "Show this help.");
    const QCommandLineOption HostOpt("host", "SMTP server name or IPv4 address.", "HOST");
    const QCommandLineOption PortOpt("port", "Server port (default 25).", "PORT", "25");
    const QCommandLineOption UserOpt("user-id", "Name sent with HELO (default TmpStr).", "NAME", "TmpStr");
    const QCommandLineOption FromOpt("from", "Sender's address.", "ADDRESS");
    const QCommandLineOption FromNameOpt("from-name", "Sender's name.", "NAME");
    const QCommandLineOption ToFileOpt("to-file", "File of recipient entries, one per line.", "FILE");
    const QCommandLineOption ToOpt("to", "A recipient entry (repeatable).", "ADDRESS");
    const QCommandLineOption ModeOpt("mode", "How recipients are addressed: to, cc or bcc (default).", "MODE", "bcc");
    const QCommandLineOption SubjectOpt("subject", "Subject text.", "TEXT");
    const QCommandLineOption BodyFileOpt("body-file", "File holding the message text.", "FILE");
    const QCommandLineOption BodyOpt("body", "The message text.", "TEXT");
    const QCommandLineOption AttachOpt("attach", "A file to attach (repeatable).", "FILE");
    const QCommandLineOption TimeOutOpt("timeout", "Limit of the lookup and of the connect, ms (default 5000).", "MS", "5000");
    const QCommandLineOption ReplyTimeOutOpt(
        "reply-timeout", "Limit of each wait for a reply and of a send that makes no progress, ms; 0 = none (default 60000).",
        "MS", "60000");
    const QCommandLineOption QuietOpt("quiet", "No progress lines.");
    P.addOptions({HelpOpt, HostOpt, PortOpt, UserOpt, FromOpt, FromNameOpt, ToFileOpt, ToOpt, ModeOpt, SubjectOpt,
                  BodyFileOpt, BodyOpt, AttachOpt, TimeOutOpt, ReplyTimeOutOpt, QuietOpt});

    if (!P.parse(Argv))
        return BadArguments(P.errorText());
    if (P.isSet(HelpOpt)) {
        std::fputs(P.helpText().toUtf8().constData(), stdout);
        return exDelivered;
    }
    if (!P.positionalArguments().isEmpty())
        return BadArguments("unexpected argument '" + P.positionalArguments().first() + "'");
    // Single-valued options given twice are a mistake rather than "the last one wins".
    for (const QCommandLineOption* O : {&HostOpt, &PortOpt, &UserOpt, &FromOpt, &FromNameOpt, &ToFileOpt, &ModeOpt,
                                        &SubjectOpt, &BodyFileOpt, &BodyOpt, &TimeOutOpt, &ReplyTimeOutOpt})
        if (P.values(*O).size() > 1)
            return BadArguments("--" + O->names().first() + " given more than once");

    if (!P.isSet(HostOpt) || P.value(HostOpt).isEmpty())
        return BadArguments("--host is required");
    if (!P.isSet(FromOpt))
        return BadArguments("--from is required");
    if (P.isSet(ToFileOpt) == P.isSet(ToOpt))
        return BadArguments("give either --to-file or --to");
    if (P.isSet(BodyFileOpt) && P.isSet(BodyOpt))
        return BadArguments("give either --body-file or --body");
    if (!ParseNumber(P.value(PortOpt), 1, 65535, A.Port))
        return BadArguments("'" + P.value(PortOpt) + "' is not a valid port number");
    if (!ParseNumber(P.value(TimeOutOpt), 0, 0x7fffffff, A.TimeOut))
        return BadArguments("'" + P.value(TimeOutOpt) + "' is not a valid time-out");
    if (!ParseNumber(P.value(ReplyTimeOutOpt), 0, 0x7fffffff, A.ReplyTimeOut))
        return BadArguments("'" + P.value(ReplyTimeOutOpt) + "' is not a valid time-out");
    A.Mode = Utf8(P.value(ModeOpt));
    if (A.Mode != "to" && A.Mode != "cc" && A.Mode != "bcc")
        return BadArguments("--mode must be to, cc or bcc");

    A.Host = Utf8(P.value(HostOpt));
    A.UserID = Utf8(P.value(UserOpt));
    A.From = Utf8(P.value(FromOpt));
    A.FromName = Utf8(P.value(FromNameOpt));
    A.Subject = Utf8(P.value(SubjectOpt));
    A.HasToFile = P.isSet(ToFileOpt);
    A.ToFile = Utf8(P.value(ToFileOpt));
    A.To = P.values(ToOpt);
    A.HasBodyFile = P.isSet(BodyFileOpt);
    A.BodyFile = Utf8(P.value(BodyFileOpt));
    A.HasBody = P.isSet(BodyOpt);
    A.Body = Utf8(P.value(BodyOpt));
    A.Attach = P.values(AttachOpt);
    A.Quiet = P.isSet(QuietOpt);
    return -1;
}

int Send(const TArguments& A)
{
    TSmtpClient Client;
    int Refused = 0;
    bool Delivered = false;
    try {
        Client.SetHost(A.Host);
        Client.SetPort(A.Port);
        Client.SetUserID(A.UserID);
        Client.SetTimeOut(A.TimeOut);
        Client.SetReplyTimeOut(A.ReplyTimeOut);

        TPostMessage& M = Client.PostMessage();
        M.SetFromAddress(A.From);
        M.SetFromName(A.FromName);
        M.SetSubject(A.Subject);
        M.SetLocalProgram("Created by Veskor");
        M.SetDate(MessageDate());

        TStringList& Recipients = A.Mode == "to"   ? M.ToAddress()
                                  : A.Mode == "cc" ? M.ToCarbonCopy()
                                                   : M.ToBlindCarbonCopy();
        if (A.HasToFile) {
            Recipients.LoadFromFile(A.ToFile);
        } else {
            for (const QString& To : A.To)
                Recipients.Add(Utf8(To));
        }
        if (A.HasBodyFile)
            M.Body().LoadFromFile(A.BodyFile);
        else if (A.HasBody)
            M.Body().SetText(A.Body);
        for (const QString& File : A.Attach)
            M.Attachments().Add(Utf8(File));

        Client.OnPacketSent = [&Client, &A](TObject*) {
            if (!A.Quiet)
                std::fprintf(stderr, "%d bytes of %d sent\n", static_cast<int>(Client.BytesSent()),
                             static_cast<int>(Client.BytesTotal()));
        };
        // Unlike the window, a refused recipient does not end the conversation: the
        // message still goes to the others.
        Client.OnRecipientNotFound = [&Refused](const std::string& Recipient) {
            ++Refused;
            std::fprintf(stderr, "Recipient \"%s\" not found\n", Recipient.c_str());
        };
        Client.OnSuccess = [&Delivered](TObject*) { Delivered = true; };

        Client.Connect();
        Client.SendMail();
        Client.Disconnect();
    } catch (const std::exception& E) {
        // Once the server has taken the message, a failed QUIT must not make a script send
        // it a second time: report it, but keep the delivery's exit code.
        std::fprintf(stderr, "%s\n", ReportText(E.what()).c_str());
        // A stalled send has already closed the connection: no QUIT behind unsent bytes.
        if (Client.Connected()) {
            try {
                Client.Disconnect();
            } catch (const std::exception&) {
            }
        }
        if (!Delivered)
            return exFailure;
    }
    return Refused > 0 ? exSomeRefused : exDelivered;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName("quillcast-send");
    TArguments A;
    const int Code = ParseArguments(QCoreApplication::arguments(), A);
    if (Code >= 0)
        return Code;
    return Send(A);
}
