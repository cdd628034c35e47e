// Send: the window's state into one SMTP conversation, against the scripted loopback
// server and a real aiosmtpd; prompts, progress texts, Stop and the error report.
#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include "AppFixture.h"
#include "SmtpPeer.h"
#include "app/AddressListModel.h"
#include "smtp/SmtpClient.h"
#include "support/ScriptedServer.h"

namespace {

const char* const Hello = "S: 220 ready\nC: HELO TmpStr\nS: 250 hi\n";
const char* const Bye = "C: QUIT\nS: 221 bye\n";

std::string Str(const QJsonValue& V) { return V.toString().toStdString(); }

std::vector<std::string> Headers(const QJsonObject& Parsed, const std::string& Name)
{
    std::vector<std::string> values;
    for (const QJsonValue& h : Parsed["headers"].toArray())
        if (SameText(Str(h.toArray()[0]), Name)) values.push_back(Str(h.toArray()[1]));
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
                StopShown.push_back(!f.Splashform->Button1->isHidden());
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
    std::vector<bool> StopShown;
};

TEST_F(SendTest, DeliversInEachModeToARealServer)
{
    const std::string attachment(70000, '\x01');
    const std::string file = WriteFile("data.bin", attachment + "\xff\x00tail");
    const std::string content = ReadFile("data.bin");
    struct Mode {
        const char* Name;
        QRadioButton* Tmainform::*Button;
        const char* Header;  // where the list appears, or nothing for blind copies
    } modes[] = {
        {"To", &Tmainform::RadioButton1, "To"},
        {"CC", &Tmainform::RadioButton2, "CC"},
        {"BCC", &Tmainform::RadioButton3, nullptr},
    };
    TSmtpPeer peer;
    ASSERT_NE(peer.Port(), 0) << peer.StartError();
    Tmainform& f = Window(peer.Port(), {"b@x.test", "Ann <a@x.test>"});
    f.Edit6->setText("localhost");  // a name, looked up before connecting
    f.ListBox1->addItem(QString::fromStdString(file));
    int delivered = 0;
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.Name);
        (f.*mode.Button)->setChecked(true);
        f.Sendbtn->click();
        ExpectRestored();
        EXPECT_TRUE(Dialogs.Texts(TDialogKind::Error).empty()) << Dialogs.Texts(TDialogKind::Error)[0];
        ASSERT_EQ(peer.Messages().size(), static_cast<size_t>(++delivered));
        const QJsonObject envelope = peer.Envelope(delivered);
        EXPECT_EQ(Str(envelope["mail_from"]), "me@x.test");
        EXPECT_EQ(envelope["rcpt_tos"].toArray().size(), 2);
        const QJsonObject parsed = ParseDelivered(peer.Messages().back());
        EXPECT_TRUE(parsed["defects"].toArray().isEmpty());
        EXPECT_TRUE(Headers(parsed, "Bcc").empty());
        // The list shows on the chosen line only, and nowhere for blind copies.
        for (const char* line : {"To", "CC"}) {
            std::string all;
            for (const auto& v : Headers(parsed, line)) all += v;
            const bool chosen = mode.Header && std::string(mode.Header) == line;
            EXPECT_EQ(all.find("a@x.test") != std::string::npos, chosen) << line << ": " << all;
            EXPECT_EQ(all.find("b@x.test") != std::string::npos, chosen) << line << ": " << all;
        }
        ASSERT_EQ(Headers(parsed, "Date").size(), 1u);
        EXPECT_EQ(Headers(parsed, "Subject"), std::vector<std::string>{"Hello"});
        const QJsonArray parts = parsed["attachments"].toArray();
        ASSERT_EQ(parts.size(), 1) << "attachments do not pile up from one send to the next";
        EXPECT_EQ(Str(parts[0].toObject()["sha256"]), Sha256Hex(content));
    }
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message),
              (std::vector<std::string>{"Sent successfully", "Sent successfully", "Sent successfully"}));
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

TEST_F(SendTest, ProgressTextsInOrderAndSuccessShownBeforeQuit)
{
    TScriptedServer server;
    server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n")
        .Script("C: RCPT TO:<a@x.test>\nS: 250 ok\nC: RCPT TO:<b@x.test>\nS: 250 ok\nC: DATA\nS: 354 go\n")
        .ExpectUntil("\r\n.\r\n")
        .SendLine("250 queued")
        .Script(Bye);
    server.Start();
    Tmainform& f = Window(server.Port());
    bool checked = false;
    Dialogs.OnShow = [&](const TShownDialog& d) {
        if (d.Text != "Sent successfully") {
            return;
        }
        checked = true;
        EXPECT_EQ(server.Received().find("QUIT"), std::string::npos) << "QUIT waits for the box to close";
        EXPECT_TRUE(Splash->isVisible());
        EXPECT_FALSE(Splash->Button1->isHidden());
        EXPECT_FALSE(f.isEnabled());
    };
    f.Sendbtn->click();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(server.Finished());
    ExpectRestored();
    // A numeric host is not looked up, so "Connecting" never shows.
    ASSERT_GE(Status.size(), 3u);
    EXPECT_EQ(Status[0], "Connected");
    EXPECT_FALSE(StopShown[0]) << "no Stop button until Connect has returned";
    EXPECT_EQ(Status[1], "Starting");
    EXPECT_TRUE(StopShown[1]);
    for (size_t i = 2; i < Status.size(); ++i) EXPECT_TRUE(Status[i].ends_with(" sent")) << Status[i];
    const int64_t total = f.SmtpClient1->BytesTotal();
    EXPECT_EQ(Status.back(), std::to_string(total) + " bytes of " + std::to_string(total) + " sent");
    EXPECT_NE(server.Received().find("\r\nBody text \r\n"), std::string::npos) << "the space of the press is sent";
}

TEST_F(SendTest, RussianStatusTexts)
{
    TScriptedServer server;
    server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n")
        .AnswerLines(3, "250 ok")  // two recipients and DATA
        .ExpectUntil("\r\n.\r\n")
        .SendLine("250 queued")
        .Script(Bye);
    server.Start();
    Tmainform& f = Window(server.Port());
    f.ComboBox1Change();  // index 0 -> English, as a pick of the same item would
    f.ComboBox1->setCurrentIndex(1);
    f.ComboBox1Change();
    f.Sendbtn->click();
    EXPECT_TRUE(server.Finished());
    ASSERT_GE(Status.size(), 2u);
    EXPECT_EQ(Status[0], "Соединились");
    EXPECT_EQ(Status[1], "Стартуем");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"Отправлено успешно"});
}

TEST_F(SendTest, UnresolvableHostThenALoopbackAddressTypedIntoThePrompt)
{
    TSmtpPeer peer;
    ASSERT_NE(peer.Port(), 0) << peer.StartError();
    Tmainform& f = Window(peer.Port());
    // Too long for a host name, so it fails without asking any name server.
    const std::string bad = std::string(130, 'h') + ".test";
    f.Edit6->setText(QString::fromStdString(bad));
    Dialogs.ExpectInput("127.0.0.1");
    f.Sendbtn->click();
    ASSERT_EQ(Dialogs.Shown.size(), 2u);
    EXPECT_EQ(Dialogs.Shown[0].Caption, "Invalid Host!");
    EXPECT_EQ(Dialogs.Shown[0].Text, "Specify a new host:");
    EXPECT_EQ(peer.Messages().size(), 1u);
    EXPECT_EQ(f.Edit6->text().toStdString(), bad) << "the typed host is for this send only";
    ExpectRestored();

    // Cancel: the lookup error is reported after the window is back.
    Dialogs.ExpectInput(std::nullopt);
    Dialogs.OnShow = [&](const TShownDialog& d) {
        if (d.Kind == TDialogKind::Error) {
            EXPECT_TRUE(f.isEnabled());
        }
    };
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 1u);
    EXPECT_EQ(peer.Messages().size(), 1u);
    ExpectRestored();
}

TEST_F(SendTest, RefusedHeloThenANewUserId)
{
    TScriptedServer server;
    server.Script("S: 220 ready\nC: HELO TmpStr\nS: 501 who are you\nC: HELO typed-id\nS: 250 hi\n")
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n")
        .AnswerLines(3, "250 ok")
        .ExpectUntil("\r\n.\r\n")
        .SendLine("250 queued")
        .Script(Bye);
    server.Start();
    Tmainform& f = Window(server.Port());
    Dialogs.ExpectInput("typed-id");
    f.Sendbtn->click();
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(Dialogs.Shown[0].Caption, "Authentication Needed");
    EXPECT_EQ(Dialogs.Shown[0].Text, "Enter UserID: ");
    EXPECT_EQ(f.Edit3->text(), "TmpStr");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"Sent successfully"});
}

TEST_F(SendTest, FailuresAreReportedAfterTheWindowIsBack)
{
    struct Case {
        const char* Name;
        std::vector<std::string> To;
        std::function<void(TScriptedServer&)> Script;
        std::vector<std::string> Messages;
        std::string Error;
    } cases[] = {
        {"no recipients", {},
         [](TScriptedServer& s) { s.Script(Hello).Script(Bye); }, {}, "Incomplete Header."},
        {"refused recipient ends the send at once", {"a@x.test", "b@x.test"},
         [](TScriptedServer& s) {
             s.Script(Hello).Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n");
             s.Script("C: RCPT TO:<a@x.test>\nS: 550-5.1.1 No such\nS: 550 5.1.1 user\n").Script(Bye).Close();
         },
         {"Recipient \"a@x.test\" not found"}, "Connection closed."},
        {"end of data refused", {"a@x.test"},
         [](TScriptedServer& s) {
             s.Script(Hello).Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n");
             s.Script("C: RCPT TO:<a@x.test>\nS: 250 ok\nC: DATA\nS: 354 go\n").ExpectUntil("\r\n.\r\n");
             s.SendLine("554 5.7.1 rejected as spam").Script(Bye);
         },
         {"Message delivery failure!"}, "554 5.7.1 rejected as spam\r\n"},
        {"connection refused", {"a@x.test"}, nullptr, {}, ""},
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
        Dialogs.OnShow = [&](const TShownDialog& d) {
            if (d.Kind == TDialogKind::Error) {
                EXPECT_TRUE(f.isEnabled()) << "reported after the clean-up";
            }
        };
        f.Sendbtn->click();
        ExpectRestored();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), c.Messages);
        ASSERT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 1u);
        if (!c.Error.empty()) {
            EXPECT_EQ(Dialogs.Texts(TDialogKind::Error)[0], c.Error);
        }
        if (c.Script) {
            EXPECT_TRUE(server.Finished());
        }
        Dialogs.OnShow = nullptr;
    }
}

TEST_F(SendTest, PortMustBeANumberInRange)
{
    TScriptedServer server;
    server.Start();
    const std::pair<const char*, const char*> cases[] = {
        {"25x", "'25x' is not a valid integer value."},
        {"0", "'0' is not a valid port number."},
        {"65536", "'65536' is not a valid port number."},
    };
    Tmainform& f = Window(server.Port());
    for (const auto& [text, error] : cases) {
        f.Edit2->setText(text);
        f.Sendbtn->click();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error).back(), error);
        ExpectRestored();
    }
    EXPECT_EQ(server.Connections(), 0) << "nothing was sent";
}

TEST_F(SendTest, StopDuringAStalledTransactionRestoresAtOnceAndReportsAfter)
{
    TScriptedServer server;
    server.Script(Hello)
        .Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n")
        .AnswerLines(3, "250 ok")
        .ExpectUntil("\r\n.\r\n")
        .Script(Bye);  // silent about the message, but the clean-up's QUIT is answered
    server.Start();
    Tmainform& f = Window(server.Port());
    // Stop is pressed once the server holds the whole message and the client waits.
    bool pressed = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (pressed || server.Received().find("\r\n.\r\n") == std::string::npos) return;
        pressed = true;
        ASSERT_FALSE(Splash->Button1->isHidden());
        Splash->Button1->click();
        EXPECT_TRUE(f.isEnabled()) << "the window comes back before the send unwinds";
        EXPECT_FALSE(Splash->isVisible());
        EXPECT_TRUE(f.Sending());
        EXPECT_TRUE(Dialogs.Texts(TDialogKind::Error).empty());
    });
    poll.start(5);
    f.Sendbtn->click();
    poll.stop();
    EXPECT_TRUE(server.Finished());
    EXPECT_TRUE(pressed);
    ExpectRestored();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Socket readln aborted."});
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
    EXPECT_EQ(shown.front(), "short");
    EXPECT_EQ(shown.back(), "last");
    std::string joined;
    for (size_t i = 1; i + 2 < shown.size(); ++i) joined += shown[i];
    EXPECT_EQ(QString::fromStdString(joined), paragraph) << "wrapping only splits, it loses nothing";
    // The real layout of the memo breaks the paragraph at the same places.
    const QTextLayout* layout = f.Memo1->document()->findBlockByNumber(1).layout();
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(static_cast<size_t>(layout->lineCount()), shown.size() - 3);
}
