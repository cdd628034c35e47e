// Send: the window's state into one SMTP conversation, against the scripted loopback
// server and a real aiosmtpd; prompts, progress texts, Stop and the error report.
#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <optional>

#include "AppFixture.h"
#include "SmtpPeer.h"
#include "smtp/SmtpClient.h"
#include "support/ScriptedServer.h"

namespace {

const char* const Hello = "S: 220 ready\nC: HELO TmpStr\nS: 250 hi\n";
const char* const Bye = "C: QUIT\nS: 221 bye\n";
const std::string Start = "C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n";

// RSET, MAIL FROM, one accepted RCPT TO per recipient in this order, DATA and the message.
TScriptedServer& Transaction(TScriptedServer& S, const std::vector<std::string>& To = {"a@x.test", "b@x.test"})
{
    S.Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n");
    for (const auto& a : To) S.Script("C: RCPT TO:<" + a + ">\nS: 250 ok\n");
    return S.Script("C: DATA\nS: 354 go\n").ExpectUntil("\r\n.\r\n");
}

std::vector<std::string> Headers(const QJsonObject& Parsed, const std::string& Name)
{
    std::vector<std::string> values;
    for (const QJsonValue& h : Parsed["headers"].toArray())
        if (SameText(JsonText(h.toArray()[0]), Name)) values.push_back(JsonText(h.toArray()[1]));
    return values;
}

}  // namespace

class SendTest : public AppFixture {
protected:
    Tmainform& Window(uint16_t Port, std::vector<std::string> To = {"b@x.test", "a@x.test"})
    {
        Tmainform& f = Create();
        f.Edit6->setText("127.0.0.1");
        f.Edit2->setText(QString::number(Port));
        f.Edit5->setText("me@x.test");
        f.Edit4->setText("Me");
        f.Edit1->setText("Hello");
        f.Memo1->setPlainText("Body text");
        for (const auto& a : To) f.Addresses->Add(a);
        // Each handler's status line, in the order the client raised them.
        TSmtpClient& c = *f.SmtpClient1;
        auto record = [this, &f](auto Handler) {
            return [this, &f, Handler](auto&&... Args) {
                Handler(Args...);
                Status.push_back(f.Splashform->Label1->text().toStdString());
            };
        };
        c.OnHostResolved = record(c.OnHostResolved);
        c.OnConnect = record(c.OnConnect);
        c.OnSendStart = record(c.OnSendStart);
        c.OnPacketSent = record(c.OnPacketSent);
        return f;
    }
    // After a send the window is back: enabled, progress window and Stop button hidden.
    void ExpectRestored()
    {
        EXPECT_TRUE(Form->isEnabled());
        EXPECT_FALSE(Splash->isVisible());
        EXPECT_TRUE(Splash->Button1->isHidden());
        EXPECT_FALSE(Form->Sending());
        EXPECT_EQ(Form->SmtpClient1->PostMessage().ToBlindCarbonCopy().Count(), 0);
        EXPECT_EQ(Form->SmtpClient1->PostMessage().Attachments().Count(), 0);
    }
    std::vector<std::string> Status;
};

TEST_F(SendTest, DeliversToARealServerInEachModeAndThroughTheHostPrompt)
{
    const std::string file = WriteFile("data.bin", std::string(70000, '\x01') + "\xff");
    TSmtpPeer peer;
    ASSERT_NE(peer.Port(), 0) << peer.StartError();
    Tmainform& f = Window(peer.Port(), {"b@x.test", "Ann <a@x.test>"});
    f.ListBox1->addItem(QString::fromStdString(file));

    const std::string bad = std::string(130, 'h') + ".test";
    f.Edit6->setText(QString::fromStdString(bad));
    Dialogs.ExpectInput("127.0.0.1");
    f.Sendbtn->click();
    EXPECT_EQ(std::tie(Dialogs.Shown[0].Caption, Dialogs.Shown[0].Text),
              std::make_tuple(std::string("Invalid Host!"), std::string("Specify a new host:")));
    EXPECT_EQ(peer.Messages().size(), 1u);
    EXPECT_EQ(f.Edit6->text().toStdString(), bad) << "the typed host is for this send only";

    f.Edit6->setText("localhost");  // a name, looked up before connecting
    Status.clear();
    const std::pair<QRadioButton*, const char*> modes[] = {
        {f.RadioButton1, "To"}, {f.RadioButton2, "CC"}, {f.RadioButton3, nullptr}};  // where the list shows
    for (const auto& [button, header] : modes) {
        SCOPED_TRACE(header ? header : "BCC");
        button->setChecked(true);
        f.Sendbtn->click();
        ExpectRestored();
        EXPECT_TRUE(Dialogs.Texts(TDialogKind::Error).empty()) << Dialogs.Texts(TDialogKind::Error)[0];
        const QJsonObject parsed = ParseDelivered(peer.Messages().back());
        EXPECT_EQ(JsonText(parsed["mail_from"]), "me@x.test");
        EXPECT_EQ(parsed["rcpt_tos"].toArray().size(), 2);
        EXPECT_TRUE(parsed["defects"].toArray().isEmpty());
        EXPECT_TRUE(Headers(parsed, "Bcc").empty());
        for (const char* line : {"To", "CC"}) {
            std::string all;
            for (const auto& v : Headers(parsed, line)) all += v;
            const bool chosen = header && std::string(header) == line;
            EXPECT_EQ(all.find("a@x.test") != std::string::npos && all.find("b@x.test") != std::string::npos, chosen)
                << line << ": " << all;
        }
        EXPECT_EQ(Headers(parsed, "Date").size(), 1u);
        EXPECT_EQ(Headers(parsed, "Subject"), std::vector<std::string>{"Hello"});
        const QJsonArray parts = parsed["attachments"].toArray();
        ASSERT_EQ(parts.size(), 1) << "attachments do not pile up from one send to the next";
        EXPECT_EQ(JsonText(parts[0].toObject()["sha256"]), Sha256Hex(ReadFile("data.bin")));
    }
    EXPECT_EQ(peer.Messages().size(), 4u);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>(4, "Sent successfully"));
    ASSERT_GE(Status.size(), 2u);
    EXPECT_EQ(Status[0], "Connecting");
    EXPECT_EQ(Status[1], "Connected");
}

TEST_F(SendTest, EmptyHostAndPortAreRefusedAndEachPressAddsASpace)
{
    Tmainform& f = Create();
    f.Edit6->clear();
    f.Edit2->clear();
    f.Memo1->setPlainText("first\nsecond");
    for (int i = 0; i < 3; ++i) f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Information),
              (std::vector<std::string>{"Please, provide host information", "Please, provide port number",
                                        "Please, provide host information", "Please, provide port number",
                                        "Please, provide host information", "Please, provide port number"}));
    EXPECT_EQ(f.Memo1->toPlainText(), "first   \nsecond");
    EXPECT_FALSE(Splash->isVisible());
    EXPECT_TRUE(f.isEnabled());

    f.Memo1->clear();
    f.Edit6->setText("h");
    f.Send1->trigger();
    EXPECT_EQ(f.Memo1->toPlainText(), " ") << "an empty body becomes one space";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Information).back(), "Please, provide port number");
}

TEST_F(SendTest, ProgressTextsPromptsAndSuccessShownBeforeQuit)
{
    struct Case {
        const char* Name;
        std::string Greeting;                // up to the accepted HELO
        std::optional<std::string> UserId;  // typed into the prompt after a refused HELO
        std::vector<std::string> Status;     // the texts before the byte counts
        std::string Success;
    } cases[] = {
        // A numeric host is not looked up, so the resolved handler never runs.
        {"accepted HELO", Hello, std::nullopt, {"Connected", "Starting"}, "Sent successfully"},
        {"HELO refused, then a new user ID",
         "S: 220 ready\nC: HELO TmpStr\nS: 501 who are you\nC: HELO typed-id\nS: 250 hi\n", "typed-id",
         {"Connected", "Starting"}, "Sent successfully"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.Clear();
        Status.clear();
        TScriptedServer server;
        Transaction(server.Script(c.Greeting)).SendLine("250 queued").Script(Bye);
        server.Start();
        Tmainform& f = Window(server.Port());
        if (c.UserId) Dialogs.ExpectInput(*c.UserId);
        bool checked = false;
        Dialogs.OnShow = [&](const TShownDialog& d) {
            if (d.Text != c.Success) return;
            checked = true;
            EXPECT_EQ(server.Received().find("QUIT"), std::string::npos) << "QUIT waits for the box to close";
            EXPECT_TRUE(Splash->isVisible());
            EXPECT_FALSE(f.isEnabled());
        };
        f.Sendbtn->click();
        Dialogs.OnShow = nullptr;
        EXPECT_TRUE(checked);
        EXPECT_TRUE(server.Finished());
        ExpectRestored();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{c.Success});
        if (c.UserId) {
            EXPECT_EQ(Dialogs.Shown[0].Caption, "Authentication Needed");
            EXPECT_EQ(Dialogs.Shown[0].Text, "Enter UserID: ");
            EXPECT_EQ(f.Edit3->text(), "TmpStr") << "the typed ID is for this send only";
        }
        const size_t n = c.Status.size();
        ASSERT_GT(Status.size(), n);
        EXPECT_EQ(std::vector<std::string>(Status.begin(), Status.begin() + n), c.Status);
        const QString total = QString::number(f.SmtpClient1->BytesTotal());
        EXPECT_EQ(Status.back(), QString("%1 bytes of %2 sent").arg(total, total).toStdString());
        EXPECT_NE(server.Received().find("\r\nBody text \r\n"), std::string::npos) << "the press's space is sent";
    }
}

TEST_F(SendTest, FailuresAreReportedAfterTheWindowIsBack)
{
    struct Case {
        const char* Name;
        std::vector<std::string> To;
        std::function<void(TScriptedServer&)> Script;  // none: nothing listens
        std::vector<std::string> Messages;
        std::string Error;  // empty: none
        const char* PortText = nullptr;
        std::string HostText = {};  // one that does not resolve; the prompt is cancelled
    } cases[] = {
        {"no recipients", {}, [](TScriptedServer& s) { s.Script(Hello).Script(Bye); }, {}, "Incomplete Header."},
        {"refused recipient ends the send at once", {"a@x.test", "b@x.test"},
         [](TScriptedServer& s) {
             s.Script(Hello).Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n");
             s.Script("C: RCPT TO:<a@x.test>\nS: 550-5.1.1 No such\nS: 550 5.1.1 user\n").Script(Bye).Close();
         },
         {"Recipient \"a@x.test\" not found"}, ""},  // the hang-up that follows is no second box
        {"end of data refused", {"a@x.test"},
         [](TScriptedServer& s) { Transaction(s.Script(Hello), {"a@x.test"}).SendLine("554 5.7.1 spam").Script(Bye); },
         {"Message delivery failure!"}, "554 5.7.1 spam\r\n"},
        {"connection refused", {"a@x.test"}, nullptr, {}, "Connection Failed.\n10061:Connection refused."},
        {"port not a number", {"a@x.test"}, nullptr, {}, "'25x' is not a valid integer value.", "25x"},
        {"port 0", {"a@x.test"}, nullptr, {}, "'0' is not a valid port number.", "0"},
        {"port above 65535", {"a@x.test"}, nullptr, {}, "'65536' is not a valid port number.", "65536"},
        // Too long for a host name, so it fails without asking any name server.
        {"host prompt cancelled", {"a@x.test"}, nullptr, {}, "Null Remote Address.", nullptr, std::string(130, 'h')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.Clear();
        TScriptedServer server;
        uint16_t port = UnusedLoopbackPort();
        if (c.Script) {
            c.Script(server);
            server.Start();
            port = server.Port();
        }
        Tmainform& f = Window(port, c.To);
        if (c.PortText) f.Edit2->setText(c.PortText);
        if (!c.HostText.empty()) {
            f.Edit6->setText(QString::fromStdString(c.HostText));
            Dialogs.ExpectInput(std::nullopt);
        }
        Dialogs.OnShow = [&](const TShownDialog& d) {
            if (d.Kind == TDialogKind::Error) { EXPECT_TRUE(f.isEnabled()) << "reported after the clean-up"; }
        };
        f.Sendbtn->click();
        Dialogs.OnShow = nullptr;
        ExpectRestored();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), c.Messages);
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), c.Error.empty() ? std::vector<std::string>() : std::vector{c.Error});
        if (c.Script) { EXPECT_TRUE(server.Finished()); }
    }
}

TEST_F(SendTest, StopEndsTheSendAtOnceInEveryPhaseAndTheNextSendGoesAhead)
{
    const struct {
        const char* Name;
        std::function<void(TScriptedServer&)> Silent;  // the server falls silent after this
        std::string At;      // received when Stop is pressed; empty: the connection alone
        std::string Status;  // the progress line then
        std::string Error;
    } cases[] = {
        {"greeting", [](TScriptedServer&) {}, "", "Waiting for the server's greeting", "Socket readln aborted."},
        {"recipients", [&](TScriptedServer& s) { s.Script(Hello).Script(Start + "C: RCPT TO:<b@x.test>\n"); },
         "RCPT TO:<b@x.test>\r\n", "Sending recipients: 1 of 2", "Socket readln aborted."},
        {"after the final dot", [](TScriptedServer& s) { Transaction(s.Script(Hello)); }, "\r\n.\r\n",
         "Waiting for the server's answer",
         "Socket readln aborted.\nThe whole message had gone out: the server may already have taken it."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.Clear();
        TScriptedServer server;
        c.Silent(server.Accept());
        // No QUIT on the stopped connection: it is closed at once; the next send is served.
        Transaction(server.ExpectClose().Accept().Script(Hello)).SendLine("250 queued").Script(Bye).Start();
        Tmainform& f = Window(server.Port());
        bool pressed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (pressed || server.Connections() == 0 || server.Received().find(c.At) == std::string::npos ||
                Splash->Label1->text().toStdString() != c.Status)
                return;
            pressed = true;
            Splash->Button1->click();  // there from the first moment
            EXPECT_TRUE(f.isEnabled()) << "the window comes back at once";
            f.Sendbtn->click();  // before the stopped send has unwound
        });
        poll.start(5);
        f.Sendbtn->click();
        poll.stop();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector{c.Error}) << "none unless Stop was pressed";
        QApplication::processEvents();  // the press kept during the unwinding
        EXPECT_TRUE(server.Finished());
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"Sent successfully"});
        ExpectRestored();
    }
}

TEST_F(SendTest, BodyIsTheMemoAsDisplayedWhetherOrNotItsPageShows)
{
    Tmainform& f = Create();
    const QString paragraph = QStringLiteral("word ").repeated(60) + QStringLiteral("end");
    f.Memo1->setPlainText(QStringLiteral("short\n") + paragraph + QStringLiteral("\n\nlast"));
    f.PageControl1->setCurrentWidget(f.TabSheet2);
    const std::vector<std::string> hidden = f.DisplayedLines();
    f.PageControl1->setCurrentWidget(f.TabSheet1);
    QApplication::processEvents();
    const std::vector<std::string> shown = f.DisplayedLines();
    EXPECT_EQ(hidden, shown);
    ASSERT_GT(shown.size(), 5u) << "the long paragraph wraps";
    EXPECT_EQ(shown.back(), "last");
    std::string joined;
    for (size_t i = 1; i + 2 < shown.size(); ++i) joined += shown[i];
    EXPECT_EQ(QString::fromStdString(joined), paragraph) << "wrapping only splits, it loses nothing";
    // The real layout of the memo breaks the paragraph at the same places.
    const QTextLayout* layout = f.Memo1->document()->findBlockByNumber(1).layout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(static_cast<size_t>(layout->lineCount()), shown.size() - 3);
}

TEST_F(SendTest, SkippedRefusalsInSeveralTransactionsEndInTheResultsDialog)
{
    TScriptedServer server;
    Transaction(server.Script(Hello), {"a@x.test"}).SendLine("250 queued");
    server.Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<b@x.test>\nS: 550 5.1.1 no\n");
    server.Script(Bye).Start();
    Tmainform& f = Window(server.Port());
    f.Delivery = {1, 0, true};
    Dialogs.ExpectResults(TResultsAnswer::SaveReport);
    Dialogs.ExpectFile(Path("report.csv"));
    Dialogs.ExpectResults(TResultsAnswer::KeepOnly);
    f.Sendbtn->click();
    EXPECT_TRUE(server.Finished());
    ExpectRestored();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"Sent successfully"});
    EXPECT_TRUE(Dialogs.Texts(TDialogKind::Error).empty());
    EXPECT_EQ(Dialogs.Shown.back().Rows, (TResultRows{{"b@x.test", "refused", "550 5.1.1 no"}}));
    EXPECT_EQ(ReadFile("report.csv"), "entry,address,outcome,code,reply,transaction\r\n"
                                      "a@x.test,a@x.test,accepted,250,250 ok,1\r\n"
                                      "b@x.test,b@x.test,refused,550,550 5.1.1 no,2\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"b@x.test"}) << "kept to fix and resend";
    EXPECT_EQ(Splash->ProgressBar->format(), "recipient 2 of 2");
}
