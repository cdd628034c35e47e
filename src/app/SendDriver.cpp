// The send driver of the main window: Send, Stop and the handlers of the SMTP client's
// events. One press of Send is one conversation: connect, one mail transaction to the
// whole list, disconnect; the window is restored and any error reported whatever happens.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include "AddressListModel.h"
#include "Main.h"
#include "Splash.h"
#include "base/Exception.h"
#include "mime/MessageComposer.h"
#include "nntp/NntpClient.h"
#include "smtp/SmtpClient.h"

namespace {

// The port field as a port number; the runtime's conversion error for a text that is not
// a number, and a port error outside 1 to 65535.
int PortNumber(const std::string& Text)
{
    const int port = StrToInt(Text);
    if (port < 1 || port > 65535) throw Exception(Format("'%s' is not a valid port number", Text.c_str()));
    return port;
}

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
    c.SetPort(25);
    c.SetTimeOut(5000);
    c.SetReportLevel(0);
    c.SetUserID("TmpStr");
    c.PostMessage().SetLocalProgram("Created by Veskor");
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

    NntpClient1 = std::make_unique<TNntpClient>();
    NntpClient1->Name = "NntpClient1";
    NntpClient1->SetPort(119);
    NntpClient1->SetReportLevel(0);
    NntpClient1->SetCacheMode(cmMixed);
    NntpClient1->SetParseAttachments(false);

    if (Splashform) {
        Splashform->MainWindow = this;
        Splashform->OnStop = [this] { SmtpClient1->Cancel(); };
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
    if (FSending) return;
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
    if (!refused) Send();
}

void Tmainform::Send()
{
    TSmtpClient& c = *SmtpClient1;
    FSending = true;
    Splashform->show();
    Splashform->raise();
    setEnabled(false);

    std::exception_ptr error;
    try {
        c.ClearParameters();
        c.SetHost(Edit6->text().toStdString());
        c.SetPort(PortNumber(Edit2->text().toStdString()));
        c.SetUserID(Edit3->text().toStdString());
        TPostMessage& m = c.PostMessage();
        m.SetFromAddress(Edit5->text().toStdString());
        m.SetFromName(Edit4->text().toStdString());
        m.SetSubject(Edit1->text().toStdString());
        if (RadioButton1->isChecked()) m.SetToAddress(Addresses->Items());
        if (RadioButton3->isChecked()) m.SetToBlindCarbonCopy(Addresses->Items());
        if (RadioButton2->isChecked()) m.SetToCarbonCopy(Addresses->Items());
        for (int i = 0; i < ListBox1->count(); ++i) m.Attachments().Add(ListBox1->item(i)->text().toStdString());
        TStringList body;
        for (const std::string& line : DisplayedLines()) body.Add(line);
        m.SetBody(body);
        c.SetTimeOut(5000);
        // A server that goes silent cannot hold the window for ever, Stop button or not.
        c.SetReplyTimeOut(60000);
        m.SetDate(MessageDate());

        c.Connect();
        Splashform->Button1->show();
        c.SendMail();
        c.Disconnect();
    } catch (...) {
        error = std::current_exception();
    }
    // The clean-up always runs to its end; when it fails too, the first error is the one
    // the user is told about.
    try {
        if (c.Connected()) c.Disconnect();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    c.ClearParameters();
    Splashform->Button1->hide();
    Splashform->hide();
    setEnabled(true);
    FSending = false;
    if (error) std::rethrow_exception(error);
}

// ---- Handlers of the client's events

void Tmainform::SmtpClient1HostResolved() { SetStatus(LangText(ltConnecting, Language())); }
void Tmainform::SmtpClient1Connect() { SetStatus(LangText(ltConnected, Language())); }
void Tmainform::SmtpClient1SendStart() { SetStatus(LangText(ltStarting, Language())); }

void Tmainform::SmtpClient1PacketSent()
{
    SetStatus(Format("%d bytes of %d sent", static_cast<int>(SmtpClient1->BytesSent()),
                     static_cast<int>(SmtpClient1->BytesTotal()))
                  .c_str());
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

void Tmainform::SmtpClient1RecipientNotFound(const std::string& Recipient)
{
    FDialogs.ShowMessage("Recipient \"" + Recipient + "\" not found");
    SmtpClient1->Disconnect();
}

void Tmainform::SmtpClient1HeaderIncomplete(bool&, int) { SmtpClient1->Disconnect(); }
