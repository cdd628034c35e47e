// The "Connection and delivery" dialog: its settings, the login's password (keyring, this
// session, or asked at each send), Test connection, and the dialog itself in Russian.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "AppFixture.h"
#include "app/DeliveryDialog.h"
#include "app/KeychainStore.h"
#include "support/MemoryCredentials.h"
#include "support/ScriptedServer.h"

class DeliveryTest : public AppFixture {
protected:
    // A window with the keyring double and a probe that records what it was asked.
    Tmainform& Window()
    {
        Tmainform& f = Create();
        auto store = std::make_unique<TMemoryCredentials>();
        Store = store.get();
        f.Credentials = std::move(store);
        f.Edit6->setText("127.0.0.1");
        f.ProbeServer = [this](TSmtpClient&, const TSendRequest& r) {
            Probed.push_back(r);
            ProgressDuringProbe = Splash->isVisible() && Splash->isModal() && !Splash->Button1->isHidden();
            if (!ProbeError.empty()) throw Exception(ProbeError);
            return std::vector<std::string>{"STARTTLS", "AUTH PLAIN LOGIN"};
        };
        return f;
    }
    const TDeliverySettings All{2, 5, true, TSecurity::StartTls, "anna", amLogin, "/ca.pem", "AB:CD", true, true};
    TMemoryCredentials* Store = nullptr;
    std::vector<TSendRequest> Probed;
    bool ProgressDuringProbe = false;
    std::string ProbeError;
};

TEST_F(DeliveryTest, SettingsLoadWithDefaultsAndComeBackWithoutThePassword)
{
    const std::pair<const char*, TDeliverySettings> cases[] = {
        {"[1.2]\nPort=25\n", {}},  // a settings file of the first version
        {"[1.2]\nMaxRecipients=100\nPauseMs=soon\nSkipRefused=1\nSecurity=TLS\nAuthMethod=cram\nExtendedSmtp=x\n",
         {100, 0, true, TSecurity::Tls}},
    };
    for (const auto& [ini, want] : cases) {
        WriteFile("settings.ini", ini);
        EXPECT_EQ(Create().Delivery, want) << ini;
    }
    WriteFile("settings.ini", cases[0].first);
    Window();
    Dialogs.ExpectDelivery(All, {"s3cret", true});
    Form->DeliveryBtn->click();
    EXPECT_EQ(Form->Edit2->text(), "587") << "the port follows the mode";
    EXPECT_EQ(Store->Stored, (std::map<std::string, std::string>{{"anna@127.0.0.1", "s3cret"}}));
    Form->FormClose();
    EXPECT_EQ(ReadFile("settings.ini").find("s3cret"), std::string::npos);
    TDeliverySettings loaded = All;
    loaded.AllowPlaintextAuth = false;  // chosen anew each session
    EXPECT_EQ(Create().Delivery, loaded);
}

TEST_F(DeliveryTest, PasswordComesFromTheKeyringTheDialogOrIsAskedAtEachSend)
{
    Tmainform& f = Window();
    f.Edit2->setText(QString::number(UnusedLoopbackPort()));
    f.Delivery.AuthUser = "anna";
    Dialogs.ExpectInput(std::nullopt);  // Cancel: nothing is sent
    Dialogs.ExpectInput("typed");
    Dialogs.ExpectInput("typed");
    for (int i = 0; i < 3; ++i) f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Input), std::vector<std::string>(3, "Password for anna on 127.0.0.1:"));
    EXPECT_TRUE(Dialogs.Shown.front().Hidden);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 2u) << "the two sends with a password ran";

    Dialogs.Clear();
    Store->Stored["anna@127.0.0.1"] = "kept";
    Dialogs.ExpectDelivery(std::nullopt, {}, true);  // Test connection, then Cancel
    f.DeliveryBtn->click();
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Shown.front().Login, (TLoginPassword{"kept", true})) << "the dialog shows what is kept";
    EXPECT_TRUE(Dialogs.Texts(TDialogKind::Input).empty());
    ASSERT_EQ(Probed.size(), 1u);
    EXPECT_EQ(Probed[0].Password, "kept");

    // No keyring: the user is told, and the password serves until the program ends.
    Dialogs.Clear();
    Store->Available = false;
    Dialogs.ExpectDelivery(f.Delivery, {"typed", true});
    f.DeliveryBtn->click();
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Information),
              std::vector<std::string>{"No keyring is available: the password is kept only until the program ends."});
    EXPECT_TRUE(Dialogs.Texts(TDialogKind::Input).empty());
    f.FormClose();
    EXPECT_EQ(ReadFile("settings.ini").find("typed"), std::string::npos);
}

TEST_F(DeliveryTest, TestConnectionProbesWhatTheDialogShowsAndReportsTheOffer)
{
    Tmainform& f = Window();
    TDeliverySettings shown = All;
    shown.Security = TSecurity::Tls;
    shown.AuthMethod = amXOAuth2;
    Dialogs.ExpectDelivery(shown, {"token", false}, true);
    f.DeliveryBtn->click();
    ASSERT_EQ(Probed.size(), 1u);
    const TSendRequest& r = Probed[0];
    EXPECT_EQ(std::tie(r.Host, r.Port, r.Security, r.CAFile, r.Fingerprint, r.AuthUser, r.Password, r.AuthMethod),
              std::make_tuple(std::string("127.0.0.1"), 25, TSecurity::Tls, std::string("/ca.pem"),
                              std::string("AB:CD"), std::string("anna"), std::string("token"), amXOAuth2));
    EXPECT_TRUE(r.ExtendedSmtp && r.AllowPlaintextAuth && r.SkipRefused);
    EXPECT_TRUE(ProgressDuringProbe) << "the progress window with Stop, above the dialog";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"The server offers:\nSTARTTLS\nAUTH PLAIN LOGIN"});
    EXPECT_EQ(f.Edit2->text(), "465");

    ProbeError = "Connection Failed";
    Dialogs.ExpectDelivery(std::nullopt, {"token"}, true);
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Connection Failed."});
    EXPECT_FALSE(Splash->isVisible() || Splash->isModal() || f.Sending());
    EXPECT_EQ(f.Delivery, shown) << "a cancelled dialog changes nothing";
}

TEST_F(DeliveryTest, RussianDialogShowsEveryTextInRussianAndKeepsEveryValue)
{
    Window();
    Choose(1);
    Dialogs.ExpectDelivery(std::nullopt);
    Form->DeliveryBtn->click();
    TDeliveryDialog dialog(Dialogs.Shown.back().Texts, Dialogs);
    EXPECT_EQ(dialog.windowTitle(), "Соединение и доставка");
    QStringList texts{dialog.TestBtn->text(), dialog.BrowseBtn->text(), dialog.Security->itemText(0),
                      dialog.AuthMethod->itemText(0)};
    for (const QLabel* w : dialog.findChildren<QLabel*>()) texts << w->text();
    for (const QCheckBox* w : dialog.findChildren<QCheckBox*>()) texts << w->text();
    for (const QGroupBox* w : dialog.findChildren<QGroupBox*>()) texts << w->title();
    EXPECT_EQ(texts.size(), 4 + 8 + 4 + 2);
    for (const QString& t : texts)
        EXPECT_TRUE(std::any_of(t.begin(), t.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; }))
            << t.toStdString();
    dialog.SetValues(All, {"pw", true});
    EXPECT_EQ(dialog.Settings(), All);
    EXPECT_EQ(dialog.Password(), (TLoginPassword{"pw", true}));
}

// No keyring running: nothing is stored anywhere (no plain-text fallback), and the
// window is not held up.
TEST(KeychainStoreTest, WithoutAKeyringNothingIsStored)
{
    const QByteArray bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    TKeychainStore store;
    EXPECT_FALSE(store.Write("anna@mx.test", "s3cret"));
    EXPECT_EQ(store.Read("anna@mx.test"), std::nullopt);
    store.Remove("anna@mx.test");
    bus.isNull() ? qunsetenv("DBUS_SESSION_BUS_ADDRESS") : qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}
