// The send driver of the main window: Send, Stop and the handlers of the SMTP client's
// events. One press of Send fills a send request from the window and runs it (one
// conversation; one transaction unless the delivery settings or the server ask for more);
// the window is restored and any error reported whatever happens.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <QTimer>
#include <utility>

#include "AddressListModel.h"
#include "ErrorReport.h"
#include "KeychainStore.h"
#include "Main.h"
#include "Splash.h"
#include "base/Exception.h"
#include "mime/MessageComposer.h"
#include "nntp/NntpClient.h"
#include "send/SendRun.h"
#include "smtp/SmtpClient.h"
#include "transport/SockErrors.h"

namespace {

// The lengths of the displayed lines of one paragraph laid out Width pixels wide.
std::vector<int> WrappedLengths(const QString& Text, const QFont& Font, const QTextOption& Option, qreal Width)
{
    QTextLayout layout(Text, Font);
    layout.setTextOption(Option);
    layout.beginLayout();
    std::vector<int> lengths;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(Width);
        lengths.push_back(line.textLength());
    }
    layout.endLayout();
    if (lengths.empty()) lengths.push_back(0);
    return lengths;
}

}  // namespace

void Tmainform::CreateComponents()
{
    SmtpClient1 = std::make_unique<TSmtpClient>();
    TSmtpClient& c = *SmtpClient1;
    c.Name = "SmtpClient1";
    c.SetPort(TSendRequest::DefaultPort);
    c.SetTimeOut(TSendRequest::DefaultTimeOut);
    c.SetReportLevel(0);
    c.SetUserID(TSendRequest::DefaultUserID);
    c.PostMessage().SetLocalProgram(TSendRequest::DefaultLocalProgram);
    c.SetEncodeType(uuMime);
    c.SetClearParams(true);
    c.SetSubType(mtPlain);
    c.OnHostResolved = [this](TComponent*) { SmtpClient1HostResolved(); };
    c.OnConnect = [this](TObject*) { SmtpClient1Connect(); };
    c.OnSendStart = [this](TObject*) { SmtpClient1SendStart(); };
    c.OnPacketSent = [this](TObject*) { SmtpClient1PacketSent(); };
    c.OnSuccess = [this](TObject*) { SmtpClient1Success(); };
    c.OnFailure = [this](TObject*) { SmtpClient1Failure(); };
    c.OnAuthenticationFailed = [this](bool& Handled) { SmtpClient1AuthenticationFailed(Handled); };
    c.OnInvalidHost = [this](bool& Handled) { SmtpClient1InvalidHost(Handled); };
    c.OnRecipientNotFound = [this](const std::string& Recipient) { SmtpClient1RecipientNotFound(Recipient); };
    c.OnHeaderIncomplete = [this](bool& handled, int hiType) { SmtpClient1HeaderIncomplete(handled, hiType); };
    Credentials = std::make_unique<TKeychainStore>();
    // Test connection runs on the window's own client, so the progress window's Stop reaches it.
    ProbeServer = [](TSmtpClient& Client, const TSendRequest& Request) { return TSendRun(Client).Probe(Request); };

    NntpClient1 = std::make_unique<TNntpClient>();
    NntpClient1->Name = "NntpClient1";
    NntpClient1->SetPort(119);
    NntpClient1->SetReportLevel(0);
    NntpClient1->SetCacheMode(cmMixed);
    NntpClient1->SetParseAttachments(false);

    if (Splashform) {
        Splashform->MainWindow = this;
        Splashform->OnStop = [this] {
            if (FRun)
                FRun->Stop();
            else
                SmtpClient1->Cancel();
        };
    }
}

// ---- The memo as displayed

int Tmainform::MemoTextWidth() const
{
    if (Memo1->isVisible()) return Memo1->viewport()->width();
    // A page that was never shown has not laid its memo out yet; its viewport will be the
    // memo less its frame and the scroll bar, which is always there.
    return Memo1->width() - 2 * Memo1->frameWidth() - Memo1->verticalScrollBar()->sizeHint().width();
}

std::vector<std::string> Tmainform::DisplayedLines() const
{
    const QTextDocument* doc = Memo1->document();
    const qreal width = MemoTextWidth() - 2 * doc->documentMargin();
    std::vector<std::string> lines;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        int start = 0;
        for (const int length : WrappedLengths(text, doc->defaultFont(), doc->defaultTextOption(), width)) {
            lines.push_back(text.mid(start, length).toStdString());
            start += length;
        }
    }
    return lines;
}

void Tmainform::AppendSpaceToFirstLine()
{
    const QTextDocument* doc = Memo1->document();
    const QTextBlock first = doc->begin();
    const qreal width = MemoTextWidth() - 2 * doc->documentMargin();
    const int length = WrappedLengths(first.text(), doc->defaultFont(), doc->defaultTextOption(), width).front();
    QTextCursor cursor(Memo1->document());
    cursor.setPosition(first.position() + length);
    cursor.insertText(QStringLiteral(" "));
}

// ---- Send

void Tmainform::SetStatus(const char* Text) { Splashform->Label1->setText(QString::fromUtf8(Text)); }

void Tmainform::SendbtnClick()
{
    if (FSending) {
        // After Stop the window is back before the stopped send has unwound; a press
        // meanwhile is kept and runs as soon as it has.
        if (FRun && FRun->Stopped()) FSendAgain = true;
        return;
    }
    SetStatus("");
    // Every press, refused or not: the body handed to the client is never empty.
    AppendSpaceToFirstLine();
    bool refused = false;
    if (Edit6->text().isEmpty()) {
        FDialogs.Information("Please, provide host information");
        refused = true;
    }
    if (Edit2->text().isEmpty()) {
        FDialogs.Information("Please, provide port number");
        refused = true;
    }
    if (refused) return;
    // A press while the keyring or the user is asked for the password is ignored too.
    FSending = true;
    const auto password = LoginPassword(Delivery, "");
    FSending = false;
    if (password) Send(*password);
}

void Tmainform::Send(const std::string& Password)
{
    FSending = true;
    Splashform->show();
    Splashform->raise();
    setEnabled(false);
    QProgressBar* bar = Splashform->ProgressBar;
    bar->reset();
    bar->setFormat(QStringLiteral("%p%"));
    bar->show();
    // Stop works from the first moment: the lookup, the connect and the greeting included.
    Splashform->Button1->show();

    TSendRun run(*SmtpClient1);
    FRun = &run;
    run.OnProgress = [this, bar](const TSendProgress& p) {
        const TLanguage lang = Language();
        switch (p.Phase) {
        case TSendPhase::Connecting: SetStatus(LangText(ltConnecting, lang)); break;
        case TSendPhase::Greeting: SetStatus(LangText(ltWaitingGreeting, lang)); break;
        case TSendPhase::Recipients:
            if (p.RecipientsSent > 0)
                Splashform->Label1->setText(
                    QString::fromUtf8(LangText(ltRecipientsSent, lang)).arg(p.RecipientsSent).arg(p.RecipientsTotal));
            break;
        case TSendPhase::Message: break;  // the byte count, by the client's packet handler
        case TSendPhase::Answer: SetStatus(LangText(ltWaitingAnswer, lang)); break;
        }
        bar->setRange(0, static_cast<int>(std::max<int64_t>(1, p.BytesTotal)));
        bar->setValue(static_cast<int>(p.BytesSent));
        if (p.Split)
            bar->setFormat(QString::fromUtf8(LangText(ltRecipientOf, Language()))
                               .arg(p.RecipientsDone + p.RecipientsInTransaction)
                               .arg(p.RecipientsTotal));
    };
    std::exception_ptr error;
    try {
        TSendRequest r = ConnectionRequest(Delivery, Password);
        r.FromAddress = Edit5->text().toStdString();
        r.FromName = Edit4->text().toStdString();
        r.Subject = Edit1->text().toStdString();
        r.Mode = RadioButton1->isChecked()   ? TRecipientMode::To
                 : RadioButton2->isChecked() ? TRecipientMode::CarbonCopy
                                             : TRecipientMode::BlindCarbonCopy;
        r.Recipients = Addresses->Items().Items();
        for (int i = 0; i < ListBox1->count(); ++i) r.Attachments.push_back(ListBox1->item(i)->text().toStdString());
        r.Body = DisplayedLines();
        run.Run(std::move(r));
    } catch (...) {
        error = std::current_exception();
    }
    SmtpClient1->ClearParameters();
    Splashform->Button1->hide();
    bar->hide();
    Splashform->hide();
    setEnabled(true);
    FSending = false;
    FRun = nullptr;
    if (std::exchange(FSendAgain, false))
        QTimer::singleShot(0, this, [this] { Guarded(FDialogs, [this] { SendbtnClick(); }); });
    // The error text stays the transport's; the reason is shown under it.
    if (!run.ConnectFailure().empty())
        error = std::make_exception_ptr(ESockError("Connection Failed.\n" + run.ConnectFailure()));
    if (error && run.StoppedAfterMessage()) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            error = std::make_exception_ptr(
                EAbortError(ErrorReportText(e.what()) + "\n" + LangText(ltMayHaveMessage, Language())));
        }
    }
    // After a failure, or a refusal the user was just told of, the report says what
    // happened, unless some got the message.
    if ((!error && !run.HungUp()) || run.Delivered()) ShowResults(run.Report());
    if (error) std::rethrow_exception(error);
}

TDialogTexts Tmainform::Texts(std::initializer_list<TLangText> Title, std::initializer_list<TLangText> Labels,
                              std::initializer_list<TLangText> Buttons) const
{
    TDialogTexts t;
    for (const TLangText x : Title) t.Title = LangText(x, Language());
    for (const TLangText x : Labels) t.Labels.push_back(LangText(x, Language()));
    for (const TLangText x : Buttons) t.Buttons.push_back(LangText(x, Language()));
    return t;
}

void Tmainform::ShowResults(const TSendReport& Report)
{
    TResultRows rows;
    TStringList missed;  // the entries as stored, so the user can fix and resend them
    for (const TSendRow& row : Report.Rows()) {
        // An entry with no address in it was nobody to send to.
        if (row.Outcome == TSendOutcome::Accepted || row.Address().empty()) continue;
        rows.push_back({row.Entry, OutcomeText(row.Outcome, Language()), row.Reply});
        missed.Add(row.Entry);
    }
    if (rows.empty()) return;
    const TDialogTexts texts =
        Texts({ltResultsTitle}, {ltEntry, ltOutcome, ltServerReply}, {ltSaveReport, ltKeepOnly, ltClose});
    for (;;) {
        switch (FDialogs.ShowResults(texts, rows)) {
        case TResultsAnswer::SaveReport: {
            TFileDialog dialog{LangText(ltSaveReport, Language()),
                               "CSV (*.csv)|*.csv|All files (*)|*",
                               1,
                               "",
                               AddressListDir(),
                               "csv"};
            if (FDialogs.SaveFile(dialog)) Report.SaveToFile(dialog.FileName);
            break;
        }
        case TResultsAnswer::KeepOnly:
            Addresses->Clear();
            for (const std::string& entry : missed.Items()) Addresses->Add(entry);
            FListModified = true;
            numadr();
            return;
        case TResultsAnswer::Close: return;
        }
    }
}

// ---- Handlers of the client's events

void Tmainform::SmtpClient1HostResolved() { SetStatus(LangText(ltConnecting, Language())); }
void Tmainform::SmtpClient1Connect() { SetStatus(LangText(ltConnected, Language())); }
void Tmainform::SmtpClient1SendStart() { SetStatus(LangText(ltStarting, Language())); }

void Tmainform::SmtpClient1PacketSent()
{
    Splashform->Label1->setText(QString::fromUtf8(LangText(ltBytesSent, Language()))
                                    .arg(SmtpClient1->BytesSent())
                                    .arg(SmtpClient1->BytesTotal()));
}

void Tmainform::SmtpClient1Success() { FDialogs.ShowMessage(LangText(ltSentSuccessfully, Language())); }
void Tmainform::SmtpClient1Failure() { FDialogs.ShowMessage("Message delivery failure!"); }

void Tmainform::SmtpClient1AuthenticationFailed(bool& Handled)
{
    std::string userId;
    if (FDialogs.InputQuery("Authentication Needed", "Enter UserID: ", userId)) {
        Handled = true;
        SmtpClient1->SetUserID(userId);
    }
}

void Tmainform::SmtpClient1InvalidHost(bool& Handled)
{
    std::string host;
    if (FDialogs.InputQuery("Invalid Host!", "Specify a new host:", host)) {
        SmtpClient1->SetHost(host);
        Handled = true;
    }
}

// Raised only when refusals hang up; the send run ends the conversation after it.
void Tmainform::SmtpClient1RecipientNotFound(const std::string& Recipient)
{
    FDialogs.ShowMessage("Recipient \"" + Recipient + "\" not found");
}

void Tmainform::SmtpClient1HeaderIncomplete(bool&, int) { SmtpClient1->Disconnect(); }
