// The "Connection and delivery" dialog: its settings, the login's password (keyring, this
// session, or asked at each send), Test connection, and the dialog itself in Russian.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "AppFixture.h"
#include "app/DeliveryDialog.h"
#include "support/MemoryCredentials.h"
#include "support/ScriptedServer.h"

class DeliveryTest : public AppFixture {
protected:
    // A window with the keyring double and a probe that records what it was asked.
    Tmainform& Window()
    {
        Tmainform& f = Create();
        f.Credentials.reset(Store = new TMemoryCredentials);
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
    WriteFile("settings.ini", "[1.2]\nMaxRecipients=9\nPauseMs=soon\nSkipRefused=1\nSecurity=TLS\nAuthMethod=cram\n");
    EXPECT_EQ(Create().Delivery, (TDeliverySettings{9, 0, true, TSecurity::Tls}));
    WriteFile("settings.ini", "[1.2]\nPort=25\n");  // a settings file of the first version
    EXPECT_EQ(Window().Delivery, TDeliverySettings{});
    Dialogs.ExpectDelivery(All, {"s3cret", true});
    Form->DeliveryBtn->click();
    EXPECT_EQ(Form->Edit2->text(), "587") << "the port follows the mode";
    EXPECT_EQ(Store->Stored, (std::map<std::string, std::string>{{"anna@127.0.0.1", "s3cret"}}));
    Dialogs.ExpectDelivery(All, {"s3cret", false});
    Form->DeliveryBtn->click();
    EXPECT_TRUE(Store->Stored.empty()) << "Remember unticked: the keyring forgets it";
    Form->FormClose();
    EXPECT_EQ(ReadFile("settings.ini").find("s3cret"), std::string::npos);
    // Allowing a login in clear text is chosen anew each session.
    EXPECT_EQ(Create().Delivery, (TDeliverySettings{2, 5, true, TSecurity::StartTls, "anna", amLogin, "/ca.pem", "AB:CD", true}));
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
    EXPECT_EQ(Probed.at(0).Password, "kept");

    // No keyring: the user is told, and the password serves until the program ends.
    Dialogs.Clear();
    Store->Available = false;
    Dialogs.ExpectDelivery(f.Delivery, {"typed", true});
    f.DeliveryBtn->click();
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Information),
              std::vector<std::string>{"No keyring is available: the password is kept only until the program ends."});
    EXPECT_TRUE(Dialogs.Texts(TDialogKind::Input).empty());
}

TEST_F(DeliveryTest, TestConnectionProbesWhatTheDialogShowsAndReportsTheOffer)
{
    Tmainform& f = Window();
    Dialogs.ExpectDelivery(All, {"token", false}, true);
    f.DeliveryBtn->click();
    const TSendRequest& r = Probed.at(0);
    EXPECT_EQ(std::tie(r.Host, r.Port, r.Security, r.CAFile, r.Fingerprint, r.AuthUser, r.Password, r.AuthMethod,
                       r.ExtendedSmtp, r.AllowPlaintextAuth, r.MaxRecipients),
              std::make_tuple(std::string("127.0.0.1"), 25, TSecurity::StartTls, std::string("/ca.pem"),
                              std::string("AB:CD"), std::string("anna"), std::string("token"), amLogin, true, true, 2));
    EXPECT_TRUE(ProgressDuringProbe) << "the progress window with Stop, above the dialog";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"The server offers:\nSTARTTLS\nAUTH PLAIN LOGIN"});
    EXPECT_EQ(f.Edit2->text(), "587");

    ProbeError = "Connection Failed";
    Dialogs.ExpectDelivery(std::nullopt, {"token"}, true);
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Connection Failed."});
    EXPECT_FALSE(Splash->isVisible() || Splash->isModal() || f.Sending());
    EXPECT_EQ(f.Delivery, All) << "a cancelled dialog changes nothing";
}

TEST_F(DeliveryTest, RussianDialogShowsEveryTextInRussianAndKeepsEveryValue)
{
    Window();
    Choose(1);
    Dialogs.ExpectDelivery(std::nullopt);
    Form->DeliveryBtn->click();
    TDeliveryDialog dialog(Dialogs.Shown.back().Texts, Dialogs);
    QStringList texts{dialog.windowTitle(), dialog.TestBtn->text(), dialog.BrowseBtn->text(), dialog.Security->itemText(0),
                      dialog.AuthMethod->itemText(0)};
    for (const QLabel* w : dialog.findChildren<QLabel*>()) texts << w->text();
    for (const QCheckBox* w : dialog.findChildren<QCheckBox*>()) texts << w->text();
    for (const QGroupBox* w : dialog.findChildren<QGroupBox*>()) texts << w->title();
    EXPECT_EQ(texts.size(), 5 + 8 + 4 + 2);
    for (const QString& t : texts)
        EXPECT_TRUE(std::any_of(t.begin(), t.end(), [](QChar c) { return c.script() == QChar::Script_Cyrillic; }))
            << t.toStdString();
    dialog.SetValues(All, {"pw", true});
    EXPECT_EQ(dialog.Settings(), All);
    EXPECT_EQ(dialog.Password(), (TLoginPassword{"pw", true}));
}

