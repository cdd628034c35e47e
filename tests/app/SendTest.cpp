// Send: the window's controls into one request and the outcome into dialogs, against the
// scripted loopback server, a TLS peer that falls silent, and one real aiosmtpd; Stop.
#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

#include "AppFixture.h"
#include "SmtpPeer.h"
#include "support/PythonPeer.h"
#include "support/ScriptedServer.h"

namespace {

const char* const Hello = "S: 220 ready\nC: HELO TmpStr\nS: 250 hi\n";
const char* const Bye = "C: QUIT\nS: 221 bye\n";

// RSET, MAIL FROM and one accepted RCPT TO per recipient in this order.
TScriptedServer& Envelope(TScriptedServer& S, const std::vector<std::string>& To)
{
    S.Script("C: RSET\nS: 250 ok\nC: MAIL FROM:<me@x.test>\nS: 250 ok\n");
    for (const auto& a : To) S.Script("C: RCPT TO:<" + a + ">\nS: 250 ok\n");
    return S;
}

// The envelope, DATA and the message.
TScriptedServer& Transaction(TScriptedServer& S, const std::vector<std::string>& To = {"a@x.test", "b@x.test"})
{
    return Envelope(S, To).Script("C: DATA\nS: 354 go\n").ExpectUntil("\r\n.\r\n");
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
        f.Edit1->setText("Hello");
        f.Memo1->setPlainText("Body text\nsecond");
        for (const auto& a : To) f.Addresses->Add(a);
        return f;
    }
    // After a send the window is back: enabled, progress window and Stop button hidden.
    void ExpectRestored()
    {
        EXPECT_TRUE(Form->isEnabled());
        EXPECT_FALSE(Splash->isVisible());
        EXPECT_TRUE(Splash->Button1->isHidden());
        EXPECT_FALSE(Form->Sending());
    }
};

TEST_F(SendTest, DeliversToARealServerInEachMode)
{
    const std::string file = Dir.Write("data.bin", std::string(70000, '\x01') + "\xff");
    TSmtpPeer peer;
    ASSERT_NE(peer.Port(), 0) << peer.StartError();
    Tmainform& f = Window(peer.Port(), {"b@x.test", "Ann <a@x.test>"});
    f.ListBox1->addItem(QString::fromStdString(file));
    f.Edit6->setText("localhost");  // a name, looked up before connecting
    const std::pair<QRadioButton*, const char*> modes[] = {
        {f.RadioButton1, "To"}, {f.RadioButton2, "CC"}, {f.RadioButton3, "BCC"}};  // where the list shows
    for (const auto& [button, header] : modes) {
        SCOPED_TRACE(header);
        button->setChecked(true);
        f.Sendbtn->click();
        ExpectRestored();
        const QJsonObject parsed = ParseDelivered(peer.Messages().back());
        EXPECT_EQ(JsonText(parsed["mail_from"]), "me@x.test");
        EXPECT_EQ(parsed["rcpt_tos"].toArray().size(), 2);
        for (const char* line : {"To", "CC"})
            EXPECT_EQ(HeaderValue(parsed, line), std::string(header) == line ? "Ann <a@x.test>,b@x.test" : "") << line;
        EXPECT_EQ(JsonText(parsed["subject"]), "Hello");
        const QJsonArray parts = parsed["attachments"].toArray();
        ASSERT_EQ(parts.size(), 1) << "attachments do not pile up from one send to the next";
        EXPECT_EQ(JsonText(parts[0].toObject()["sha256"]), Sha256Hex(Dir.Read("data.bin")));
    }
    EXPECT_EQ(peer.Messages().size(), 3u);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>(3, "Sent successfully"));
    EXPECT_TRUE(Dialogs.Texts(TDialogKind::Error).empty());
}

TEST_F(SendTest, OutcomesAndPromptsReachTheUserWithTheWindowBack)
{
    const auto accepted = [](TScriptedServer& s) { Transaction(s.Script(Hello)).SendLine("250 queued").Script(Bye); };
    const std::vector<std::string> sent{"Sent successfully"}, none;
    // clang-format off
    struct Case {
        const char* Name;
        std::vector<std::string> To;
        std::function<void(TScriptedServer&)> Script;  // none: nothing listens
        std::vector<std::string> Messages;
        std::string Error;  // empty: none
        std::string Prompt = {};  // caption and text of a prompt, answered "127.0.0.1"
        const char* Port = nullptr;  // as typed; none: the server's
        std::string Host = "127.0.0.1";
    } cases[] = {
        // Too long for a host name, so it fails without asking any name server.
        {"a host that does not resolve, then one typed for this send only", {"a@x.test", "b@x.test"}, accepted, sent,
         "", "Invalid Host!: Specify a new host:", nullptr, std::string(130, 'h')},
        {"no recipients", {}, [](TScriptedServer& s) { s.Script(Hello).Script(Bye); }, none, "Incomplete Header."},
        {"refused recipient ends the send at once", {"a@x.test", "b@x.test"},
         [](TScriptedServer& s) {
             Envelope(s.Script(Hello), {}).Script("C: RCPT TO:<a@x.test>\nS: 550-5.1.1 No such\nS: 550 5.1.1 user\n");
             s.Script(Bye).Close();
         },
         {"Recipient \"a@x.test\" not found"}, ""},  // the hang-up that follows is no second box
        {"connection refused", {"a@x.test"}, nullptr, none, "Connection Failed.\n10061:Connection refused."},
        {"port not a number", {"a@x.test"}, nullptr, none, "'25x' is not a valid integer value.", {}, "25x"},
        {"port 0", {"a@x.test"}, nullptr, none, "'0' is not a valid port number.", {}, "0"},
        {"port above 65535", {"a@x.test"}, nullptr, none, "'65536' is not a valid port number.", {}, "65536"},
        // Each press, refused or not, adds a space to the body's first line.
        {"no host and no port", {"a@x.test"}, nullptr, none, "", {}, "", ""},
    };
    // clang-format on
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
        f.Edit6->setText(QString::fromStdString(c.Host));
        if (c.Port) f.Edit2->setText(c.Port);
        if (!c.Prompt.empty()) Dialogs.ExpectInput("127.0.0.1");
        Dialogs.OnShow = [&](const TShownDialog& d) {
            if (d.Kind == TDialogKind::Input) { EXPECT_EQ(d.Caption + ": " + d.Text, c.Prompt); }
            if (d.Kind == TDialogKind::Error) { EXPECT_TRUE(f.isEnabled()) << "reported after the clean-up"; }
            if (d.Text != sent[0]) return;
            EXPECT_EQ(server.Received().find("QUIT"), std::string::npos) << "QUIT waits for the box to close";
            EXPECT_TRUE(Splash->isVisible() && !f.isEnabled());
        };
        f.Sendbtn->click();
        Dialogs.OnShow = nullptr;
        ExpectRestored();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), c.Messages);
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), c.Error.empty() ? none : std::vector{c.Error});
        if (c.Script) { EXPECT_TRUE(server.Finished()); }
        EXPECT_EQ(f.Edit6->text().toStdString(), c.Host) << "a host typed at the prompt serves this send only";
        EXPECT_EQ(f.Memo1->toPlainText(), "Body text \nsecond");
        const std::vector<std::string> refused{"Please, provide host information", "Please, provide port number"};
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Information), c.Host.empty() ? refused : none);
        if (c.Messages == sent) {
            EXPECT_NE(server.Received().find("\r\nBody text \r\n"), std::string::npos) << "with the space";
        }
    }
}

TEST_F(SendTest, StopEndsTheSendAtOnceInEveryPhaseAndTheNextSendGoesAhead)
{
    // clang-format off
    const struct {
        const char* Name;
        std::function<void(TScriptedServer&)> Silent;  // the server falls silent after this
        std::string At;      // received when Stop is pressed; empty: the connection alone
        std::string Status;  // (part of) the progress line then
        std::string Error;
        const char* TlsStall = nullptr;  // over implicit TLS instead: where the TLS peer falls silent
    } cases[] = {
        {"greeting", [](TScriptedServer&) {}, "", "Waiting for the server's greeting", "Socket readln aborted."},
        {"recipients", [](TScriptedServer& s) { Envelope(s.Script(Hello), {"a@x.test"}).Script("C: RCPT TO:<b@x.test>\n"); },
         "RCPT TO:<b@x.test>\r\n", "Sending recipients: 1 of 2", "Socket readln aborted."},
        {"after the final dot", [](TScriptedServer& s) { Transaction(s.Script(Hello)); }, "\r\n.\r\n",
         "Waiting for the server's answer",
         "Socket readln aborted.\nThe whole message had gone out: the server may already have taken it."},
        {"TLS handshake", nullptr, "", "Waiting for the server's greeting", "TLS handshake aborted.", "handshake"},
        {"TLS message, the server no longer reading", nullptr, "", " bytes of ", "Socket send aborted.", "data"},
    };
    // clang-format on
    // One TLS peer for the TLS cases: it falls silent on each one's first connection, in
    // the order of the table, and serves the send after it. The message outgrows what the
    // socket buffers hold.
    TTempDir certs;
    TPythonPeer peer("app/stalling_tls_peer.py",
                     {"--stall", "handshake", "--stall", "data", "--dir", QString::fromStdString(certs.Path())});
    ASSERT_NE(peer.Port(), 0) << peer.Line.toStdString();
    const std::string big = Dir.Write("big.bin", std::string(8 << 20, 'x'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.Clear();
        TScriptedServer server;
        if (!c.TlsStall) {
            c.Silent(server.Accept());
            // No QUIT on the stopped connection: it is closed at once; the next send is served.
            Transaction(server.ExpectClose().Accept().Script(Hello)).SendLine("250 queued").Script(Bye).Start();
        }
        Tmainform& f = Window(c.TlsStall ? peer.Port() : server.Port());
        if (c.TlsStall) {
            f.Delivery.Security = TSecurity::Tls;
            f.Delivery.CAFile = certs.File("ca.pem");
            if (c.TlsStall == std::string("data")) f.ListBox1->addItem(QString::fromStdString(big));
        }
        const auto silent = [&] {
            if (c.TlsStall)
                return QFile::exists(QString::fromStdString(certs.File(std::string("stalled-") + c.TlsStall)));
            return server.Connections() > 0 && server.Received().find(c.At) != std::string::npos;
        };
        bool pressed = false;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (pressed || !silent() || !Splash->Label1->text().contains(QString::fromStdString(c.Status))) return;
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
        if (!c.TlsStall) { EXPECT_TRUE(server.Finished()); }
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"Sent successfully"});
        ExpectRestored();
    }
}
