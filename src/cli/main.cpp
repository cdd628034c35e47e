// quillcast-send: delivers one message to a list of recipients, the way the window's Send
// does, for scripts and for machines without a display. Arguments become a send request;
// the send layer carries it out over one connection.
//
// Exit codes: 0 the server accepted the message for every recipient, 3 it accepted the
// message but some recipients were refused, deferred or not tried, 1 any failure (its text
// on standard error, worded as the window's error report words it), 2 bad arguments.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>

#include "base/Exception.h"
#include "base/StringList.h"
#include "send/SendRun.h"
#include "smtp/SmtpClient.h"

namespace {

enum ExitCode { exDelivered = 0, exFailure = 1, exBadArguments = 2, exSomeRefused = 3 };

std::string Utf8(const QString& S) { return S.toUtf8().toStdString(); }

// The window's error report text on one plain line: a server's reply keeps its line end.
std::string ReportText(const std::string& Message)
{
    std::string Text = ErrorReportText(Message);
    while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.pop_back();
    return Text;
}

struct TArguments {
    TSendRequest Request;
    std::string ToFile, BodyFile, Body, ReportFile, ResumeFile, PasswordFile, PasswordCommand;
    bool HasToFile = false, HasBodyFile = false, HasBody = false;
    QStringList To;
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
    if (!Ok || V < Low || V > High) return false;
    Value = V;
    return true;
}

// The secret is the first line; its line end is no part of it.
std::string FirstLine(const QByteArray& Data)
{
    const qsizetype End = Data.indexOf('\n');
    std::string Line = (End < 0 ? Data : Data.left(End)).toStdString();
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    return Line;
}

// The password from --password-file, --password-command or QUILLCAST_PASSWORD; never
// from the command line itself, where every user could read it in the process list.
void ReadPassword(TArguments& A)
{
    TSendRequest& R = A.Request;
    if (!A.PasswordFile.empty()) {
        QFile F(QString::fromStdString(A.PasswordFile));
        if (!F.open(QIODevice::ReadOnly)) throw Exception("Cannot open file " + A.PasswordFile);
        R.Password = FirstLine(F.readAll());
    } else if (!A.PasswordCommand.empty()) {
        QProcess P;
        P.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        P.start("/bin/sh", {"-c", QString::fromStdString(A.PasswordCommand)});
        if (!P.waitForFinished(60000) || P.exitStatus() != QProcess::NormalExit || P.exitCode() != 0)
            throw Exception("The password command failed: " + A.PasswordCommand);
        R.Password = FirstLine(P.readAllStandardOutput());
    } else {
        R.Password = qEnvironmentVariable("QUILLCAST_PASSWORD").toStdString();
    }
}

// Returns -1 when the arguments are usable, else the exit code.
int ParseArguments(const QStringList& Argv, TArguments& A)
{
    TSendRequest& R = A.Request;
    const QString Port = QString::number(TSendRequest::DefaultPort);
    const QString TimeOut = QString::number(TSendRequest::DefaultTimeOut);
    const QString ReplyTimeOut = QString::number(TSendRequest::DefaultReplyTimeOut);
    QCommandLineParser P;
    P.setApplicationDescription("Sends one message to a list of recipients over one SMTP connection.");
    const QCommandLineOption HelpOpt({"h", "help"}, "Show this help.");
    const QCommandLineOption HostOpt("host", "SMTP server name or IPv4 address.", "HOST");
    const QCommandLineOption PortOpt(
        "port", "Server port (default " + Port + ", 587 with --tls starttls, 465 with --tls tls).", "PORT");
    const QCommandLineOption UserOpt("user-id", QString("Name sent with HELO (default %1).").arg(R.UserID.c_str()),
                                     "NAME", R.UserID.c_str());
    const QCommandLineOption FromOpt("from", "Sender's address.", "ADDRESS");
    const QCommandLineOption FromNameOpt("from-name", "Sender's name.", "NAME");
    const QCommandLineOption ToFileOpt("to-file", "File of recipient entries, one per line.", "FILE");
    const QCommandLineOption ToOpt("to", "A recipient entry (repeatable).", "ADDRESS");
    const QCommandLineOption ModeOpt("mode", "How recipients are addressed: to, cc or bcc (default).", "MODE", "bcc");
    const QCommandLineOption SubjectOpt("subject", "Subject text.", "TEXT");
    const QCommandLineOption BodyFileOpt("body-file", "File holding the message text.", "FILE");
    const QCommandLineOption BodyOpt("body", "The message text.", "TEXT");
    const QCommandLineOption AttachOpt("attach", "A file to attach (repeatable).", "FILE");
    const QCommandLineOption TimeOutOpt(
        "timeout", "Limit of the lookup and of the connect, ms (default " + TimeOut + ").", "MS", TimeOut);
    const QCommandLineOption ReplyTimeOutOpt(
        "reply-timeout",
        "Limit of each wait for a reply and of a send that makes no progress, ms; 0 = none (default " + ReplyTimeOut +
            ").",
        "MS", ReplyTimeOut);
    const QCommandLineOption MaxOpt("max-recipients", "Recipients per transaction; 0 = no limit (default).", "N", "0");
    const QCommandLineOption PauseOpt("pause", "Pause between transactions, ms (default 0).", "MS", "0");
    const QCommandLineOption ReportOpt("report", "Write a CSV row per recipient entry to FILE.", "FILE");
    const QCommandLineOption ResumeOpt("resume", "Send only to the entries REPORT does not show as accepted.",
                                       "REPORT");
    const QCommandLineOption StopOpt("stop-on-refusal", "Hang up at the first refused recipient.");
    const QCommandLineOption QuietOpt("quiet", "No progress lines.");
    const QCommandLineOption TlsOpt("tls", "Connection security: none (default), starttls or tls.", "MODE", "none");
    const QCommandLineOption CAOpt("tls-ca", "Trust the CA certificates in FILE (PEM) instead of the system's.",
                                   "FILE");
    const QCommandLineOption PinOpt("tls-fingerprint",
                                    "Accept only the server certificate with this SHA-256 fingerprint.", "SHA256");
    const QCommandLineOption AuthUserOpt("auth-user",
                                         "Log in as NAME (the password from --password-file, "
                                         "--password-command or QUILLCAST_PASSWORD).",
                                         "NAME");
    const QCommandLineOption PasswordFileOpt("password-file", "Read the password from the first line of FILE.", "FILE");
    const QCommandLineOption PasswordCommandOpt("password-command", "Run CMD; its first output line is the password.",
                                                "CMD");
    const QCommandLineOption AuthMethodOpt("auth-method", "Login method: auto (default), plain, login or xoauth2.",
                                           "METHOD", "auto");
    const QCommandLineOption PlainAuthOpt("allow-plaintext-auth", "Send the login over an unencrypted connection too.");
    const QCommandLineOption EhloOpt("ehlo", "Speak EHLO and use what the server offers, also without TLS or login.");
    P.addOptions({HelpOpt,       HostOpt,         PortOpt,
                  UserOpt,       FromOpt,         FromNameOpt,
                  ToFileOpt,     ToOpt,           ModeOpt,
                  SubjectOpt,    BodyFileOpt,     BodyOpt,
                  AttachOpt,     TimeOutOpt,      ReplyTimeOutOpt,
                  MaxOpt,        PauseOpt,        ReportOpt,
                  ResumeOpt,     StopOpt,         QuietOpt,
                  TlsOpt,        CAOpt,           PinOpt,
                  AuthUserOpt,   PasswordFileOpt, PasswordCommandOpt,
                  AuthMethodOpt, PlainAuthOpt,    EhloOpt});

    if (!P.parse(Argv)) return BadArguments(P.errorText());
    if (P.isSet(HelpOpt)) {
        std::fputs(P.helpText().toUtf8().constData(), stdout);
        return exDelivered;
    }
    if (!P.positionalArguments().isEmpty())
        return BadArguments("unexpected argument '" + P.positionalArguments().first() + "'");
    // Single-valued options given twice are a mistake rather than "the last one wins".
    for (const QCommandLineOption* O : {&HostOpt,         &PortOpt,
                                        &UserOpt,         &FromOpt,
                                        &FromNameOpt,     &ToFileOpt,
                                        &ModeOpt,         &SubjectOpt,
                                        &BodyFileOpt,     &BodyOpt,
                                        &TimeOutOpt,      &ReplyTimeOutOpt,
                                        &MaxOpt,          &PauseOpt,
                                        &ReportOpt,       &ResumeOpt,
                                        &TlsOpt,          &CAOpt,
                                        &PinOpt,          &AuthUserOpt,
                                        &PasswordFileOpt, &PasswordCommandOpt,
                                        &AuthMethodOpt})
        if (P.values(*O).size() > 1) return BadArguments("--" + O->names().first() + " given more than once");

    if (!P.isSet(HostOpt) || P.value(HostOpt).isEmpty()) return BadArguments("--host is required");
    if (!P.isSet(FromOpt)) return BadArguments("--from is required");
    if (P.isSet(ToFileOpt) == P.isSet(ToOpt)) return BadArguments("give either --to-file or --to");
    if (P.isSet(BodyFileOpt) && P.isSet(BodyOpt)) return BadArguments("give either --body-file or --body");
    const std::string Tls = Utf8(P.value(TlsOpt));
    if (Tls != "none" && Tls != "starttls" && Tls != "tls") return BadArguments("--tls must be none, starttls or tls");
    R.Security = Tls == "tls" ? TSecurity::Tls : Tls == "starttls" ? TSecurity::StartTls : TSecurity::None;
    R.Port = DefaultPortFor(R.Security);
    if (P.isSet(PortOpt) && !ParseNumber(P.value(PortOpt), 1, 65535, R.Port))
        return BadArguments("'" + P.value(PortOpt) + "' is not a valid port number");
    const std::string Method = Utf8(P.value(AuthMethodOpt));
    static const std::pair<const char*, TAuthMethod> Methods[] = {
        {"auto", amAuto}, {"plain", amPlain}, {"login", amLogin}, {"xoauth2", amXOAuth2}};
    const auto Found =
        std::find_if(std::begin(Methods), std::end(Methods), [&](const auto& M) { return Method == M.first; });
    if (Found == std::end(Methods)) return BadArguments("--auth-method must be auto, plain, login or xoauth2");
    R.AuthMethod = Found->second;
    if (P.isSet(PasswordFileOpt) && P.isSet(PasswordCommandOpt))
        return BadArguments("give either --password-file or --password-command");
    if ((P.isSet(PasswordFileOpt) || P.isSet(PasswordCommandOpt)) && !P.isSet(AuthUserOpt))
        return BadArguments("a password needs --auth-user");
    if (P.isSet(AuthUserOpt) && P.value(AuthUserOpt).isEmpty()) return BadArguments("--auth-user needs a name");
    if (P.isSet(AuthUserOpt) && !P.isSet(PasswordFileOpt) && !P.isSet(PasswordCommandOpt) &&
        !qEnvironmentVariableIsSet("QUILLCAST_PASSWORD"))
        return BadArguments("--auth-user needs --password-file, --password-command or QUILLCAST_PASSWORD");
    if (P.isSet(CAOpt) && P.isSet(PinOpt)) return BadArguments("give either --tls-ca or --tls-fingerprint");
    if ((P.isSet(CAOpt) || P.isSet(PinOpt)) && R.Security == TSecurity::None)
        return BadArguments("--tls-ca and --tls-fingerprint need --tls starttls or --tls tls");
    R.CAFile = Utf8(P.value(CAOpt));
    R.Fingerprint = Utf8(P.value(PinOpt));
    R.AuthUser = Utf8(P.value(AuthUserOpt));
    R.AllowPlaintextAuth = P.isSet(PlainAuthOpt);
    R.ExtendedSmtp = P.isSet(EhloOpt);
    A.PasswordFile = Utf8(P.value(PasswordFileOpt));
    A.PasswordCommand = Utf8(P.value(PasswordCommandOpt));
    for (const auto& [Opt, Value] : {std::pair{&TimeOutOpt, &R.TimeOut}, std::pair{&ReplyTimeOutOpt, &R.ReplyTimeOut},
                                     std::pair{&PauseOpt, &R.PauseMs}})
        if (!ParseNumber(P.value(*Opt), 0, 0x7fffffff, *Value))
            return BadArguments("'" + P.value(*Opt) + "' is not a valid time in ms");
    if (!ParseNumber(P.value(MaxOpt), 0, 0x7fffffff, R.MaxRecipients))
        return BadArguments("'" + P.value(MaxOpt) + "' is not a valid number of recipients");
    const std::string Mode = Utf8(P.value(ModeOpt));
    if (Mode != "to" && Mode != "cc" && Mode != "bcc") return BadArguments("--mode must be to, cc or bcc");
    R.Mode = Mode == "to"   ? TRecipientMode::To
             : Mode == "cc" ? TRecipientMode::CarbonCopy
                            : TRecipientMode::BlindCarbonCopy;

    R.Host = Utf8(P.value(HostOpt));
    R.UserID = Utf8(P.value(UserOpt));
    R.FromAddress = Utf8(P.value(FromOpt));
    R.FromName = Utf8(P.value(FromNameOpt));
    R.Subject = Utf8(P.value(SubjectOpt));
    // Unlike the window, a refused recipient does not end the conversation unless asked.
    R.SkipRefused = !P.isSet(StopOpt);
    for (const QString& File : P.values(AttachOpt)) R.Attachments.push_back(Utf8(File));
    A.HasToFile = P.isSet(ToFileOpt);
    A.ToFile = Utf8(P.value(ToFileOpt));
    A.To = P.values(ToOpt);
    A.HasBodyFile = P.isSet(BodyFileOpt);
    A.BodyFile = Utf8(P.value(BodyFileOpt));
    A.HasBody = P.isSet(BodyOpt);
    A.Body = Utf8(P.value(BodyOpt));
    A.ReportFile = Utf8(P.value(ReportOpt));
    A.ResumeFile = Utf8(P.value(ResumeOpt));
    A.Quiet = P.isSet(QuietOpt);
    return -1;
}

// The files the arguments name, read as the window reads address and message files.
void ReadFiles(TArguments& A)
{
    TSendRequest& R = A.Request;
    if (A.HasToFile) {
        TStringList List;
        List.LoadFromFile(A.ToFile);
        R.Recipients = List.TakeItems();
    } else {
        for (const QString& To : A.To) R.Recipients.push_back(Utf8(To));
    }
    TStringList Body;
    if (A.HasBodyFile)
        Body.LoadFromFile(A.BodyFile);
    else if (A.HasBody)
        Body.SetText(A.Body);
    R.Body = Body.TakeItems();
    if (!A.ResumeFile.empty()) R.AlreadyAccepted = TSendReport::LoadFromFile(A.ResumeFile).AcceptedEntries();
    if (!R.AuthUser.empty()) ReadPassword(A);
}

int Send(TArguments& A)
{
    try {
        ReadFiles(A);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "%s\n", ReportText(E.what()).c_str());
        return exFailure;
    }
    TSmtpClient Client;
    TSendRun Run(Client);
    if (!A.Quiet) {
        Client.OnPacketSent = [&Client](TObject*) {
            std::fprintf(stderr, "%d bytes of %d sent\n", static_cast<int>(Client.BytesSent()),
                         static_cast<int>(Client.BytesTotal()));
        };
        // Once per transaction, as it starts; the progress of each RCPT TO is not printed.
        Run.OnProgress = [Shown = 0](const TSendProgress& P) mutable {
            if (!P.Split || P.Phase != TSendPhase::Recipients || P.Transaction == Shown) return;
            Shown = P.Transaction;
            std::fprintf(stderr, "Transaction %d: recipients %d to %d of %d\n", P.Transaction, P.RecipientsDone + 1,
                         P.RecipientsDone + P.RecipientsInTransaction, P.RecipientsTotal);
        };
    }
    Run.OnRecipient = [](const TSendRow& Row) {
        if (Row.Outcome == TSendOutcome::Refused)
            std::fprintf(stderr, "Recipient \"%s\" not found\n", Row.Entry.c_str());
        else if (Row.Outcome == TSendOutcome::Deferred)
            std::fprintf(stderr, "Recipient \"%s\" deferred: %s\n", Row.Entry.c_str(), Row.Reply.c_str());
    };

    bool Failed = false;
    try {
        Run.Run(std::move(A.Request));
    } catch (const std::exception& E) {
        // Once the server has taken the message, a failed QUIT must not make a script send
        // it a second time: report it, but keep the delivery's exit code.
        std::string Text = ReportText(E.what());
        if (!Run.ConnectFailure().empty()) Text += " " + Run.ConnectFailure();
        std::fprintf(stderr, "%s\n", Text.c_str());
        Failed = !Run.Delivered();
    }
    const TSendReport& Report = Run.Report();
    if (!A.ReportFile.empty()) {
        try {
            Report.SaveToFile(A.ReportFile);
        } catch (const std::exception& E) {
            std::fprintf(stderr, "%s\n", ReportText(E.what()).c_str());
            Failed = true;
        }
    }
    if (!A.Quiet && Run.Transactions() > 0)
        std::fprintf(stderr, "%d accepted, %d refused, %d deferred in %d transaction%s\n",
                     Report.Count(TSendOutcome::Accepted), Report.Count(TSendOutcome::Refused),
                     Report.Count(TSendOutcome::Deferred), Run.Transactions(), Run.Transactions() == 1 ? "" : "s");
    if (Failed) return exFailure;
    // An entry with no address in it (an empty line) is nobody left out.
    bool Everyone = true;
    for (const TSendRow& Row : Report.Rows())
        Everyone = Everyone && (Row.Outcome == TSendOutcome::Accepted || Row.Address().empty());
    if (Everyone) return exDelivered;
    // Nobody got it (every recipient deferred, say): a failure, not a partial delivery.
    return Run.Delivered() || Report.Count(TSendOutcome::Accepted) > 0 ? exSomeRefused : exFailure;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication App(argc, argv);
    QCoreApplication::setApplicationName("quillcast-send");
    TArguments A;
    const int Code = ParseArguments(QCoreApplication::arguments(), A);
    if (Code >= 0) return Code;
    return Send(A);
}
