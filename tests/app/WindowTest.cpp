// The window apart from sending: the stored settings and the draft from one run to the
// next, close and Terminate, the program's folders and help, the interface language, the
// message page's files, the popup menu, and the "Connection and delivery" dialog with the
// login's password (keyring, this session, or asked at each send) and Test connection.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QTest>
#include <QTimer>

#include "AppFixture.h"
#include "app/DeliveryDialog.h"
#include "app/Language.h"
#include "app/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "smtp/SmtpClient.h"
#include "support/MemoryCredentials.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace {

// Login, Port, Host, Name, Mail and the language index, as the window shows them.
using TFields = std::tuple<std::string, std::string, std::string, std::string, std::string, int>;

TFields FieldsOf(const Tmainform& f)
{
    return {f.Edit3->text().toStdString(), f.Edit2->text().toStdString(), f.Edit6->text().toStdString(),
            f.Edit4->text().toStdString(), f.Edit5->text().toStdString(), f.ComboBox1->currentIndex()};
}

}  // namespace

class StartupTest : public AppFixture {};

TEST_F(StartupTest, StoredValuesTheirAbsenceAndValuesOfAnotherType)
{
    const std::string bad = "[1.2]\nLogin=me\nPort=2525\nName=Anna\nLanguage=Английский\nHost=";
    const struct Case {
        std::string Ini;  // empty: no settings at all
        TFields Want;
        const char* Error = nullptr;  // reported, and the steps after the failed read are skipped
    } cases[] = {
        {"", {"TmpStr", "25", "", "", "", 0}},
        {"[1.2]\nLogin=me\nPort=2525\nHost=mx.test\nName=Anna\nMail=a@test\nLanguage=English\n",
         {"me", "2525", "mx.test", "Anna", "a@test", 0}},
        // Reset for the missing port also replaces the user ID that was read.
        {"[1.2]\nLogin=me\nHost=mx.test\n", {"TmpStr", "25", "mx.test", "", "", 0}},
        {"[1.2]\nPort=2525\n", {"TmpStr", "2525", "", "", "", 0}},
        {"[1.2]\nLanguage=Английский\n", {"TmpStr", "25", "", "", "", 1}},
        {"[1.2]\nLanguage=Русский\n", {"TmpStr", "25", "", "", "", 0}},
        {"[1.2]\nLanguage=Russian\n", {"TmpStr", "25", "", "", "", 0}},
        {"[other]\nLogin=me\n", {"TmpStr", "25", "", "", "", 0}},
        // A byte array, a list (an unquoted comma) and a number are values of other types.
        {bad + "@ByteArray(mx.test)", {"me", "2525", "", "", "", 0}, "Invalid data type for 'Host'"},
        {bad + "a, b", {"me", "2525", "", "", "", 0}, "Invalid data type for 'Host'"},
        {bad + "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)", {"me", "2525", "", "", "", 0}, "Invalid data type for 'Host'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ini);
        Dialogs.Clear();
        if (!c.Ini.empty()) WriteFile("settings.ini", c.Ini);
        Tmainform& f = Create();
        EXPECT_EQ(FieldsOf(f), c.Want);
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), c.Error ? std::vector<std::string>{c.Error} : std::vector<std::string>());
        EXPECT_EQ(f.Label8->text().isEmpty(), c.Error != nullptr) << "the count label is set after the last read";
    }
}

TEST_F(StartupTest, SettingsAndDraftComeBackAfterAClose)
{
    Tmainform& f = Create();
    f.Edit6->setText("mx.test");
    f.Edit2->setText("2525");
    f.Edit3->setText("login");
    f.Edit4->setText("Анна, \"A\"");
    f.Edit5->setText("anna@test");
    f.Edit1->setText("Subject");
    f.Memo1->setPlainText("one\ntwo");
    f.ListBox1->addItem("/tmp/a.bin");
    f.Addresses->Add("b@x");
    f.RadioButton2->setChecked(true);
    Choose(1);
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Завершить работу?"});

    Tmainform& g = Create();
    EXPECT_EQ(FieldsOf(g), TFields("login", "2525", "mx.test", "Анна, \"A\"", "anna@test", 1));
    EXPECT_EQ(std::tuple(g.Edit1->text(), g.MemoText(), g.ListBox1->item(0)->text(), g.Label8->text(), g.RadioButton2->isChecked()),
              std::tuple("Subject", "one\r\ntwo", "/tmp/a.bin", "Всего 1 адрес", true));
    EXPECT_EQ(g.ComboBox1->itemText(0), "Английский");
    EXPECT_EQ(g.Label4->text(), "Логин");
    WriteFile("settings-draft.json", "{\"subject\": ");  // damaged: the window starts empty
    EXPECT_EQ(Create().Edit1->text(), "");
}

TEST_F(StartupTest, NothingIsWrittenWithoutAYes)
{
    const std::string before = "[1.2]\nLogin=me\nPort=2525\nHost=old\nName=n\nMail=m\nLanguage=English\n";
    WriteFile("settings.ini", before);
    Tmainform& f = Create();
    f.Edit6->setText("new.host");
    Choose(1);
    Dialogs.ExpectConfirm(false);
    f.BitBtn4->click();  // the Close button closes the window, through the same question
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Завершить работу?"});

    f.Terminate1->trigger();
    f.close();  // whatever comes after Terminate neither asks nor writes
    Form.reset();
    EXPECT_EQ(ReadFile("settings.ini"), before);
    EXPECT_EQ(Dialogs.Shown.size(), 1u);
}

// Terminate while a send waits for a silent server: the wait ends now, the connection is
// dropped without QUIT and nothing is reported.
TEST_F(StartupTest, TerminateEndsAWaitingSendAtOnce)
{
    TScriptedServer server;
    server.Sink();
    server.Start();
    Tmainform& f = Create();
    f.Edit6->setText("127.0.0.1");
    f.Edit2->setText(QString::number(server.Port()));
    QTimer::singleShot(100, &f, [&f] { f.Terminate1->trigger(); });
    // Only a guard against a hang: it drops the connection a broken Terminate left waiting.
    QTimer::singleShot(10000, &f, [&f] {
        ADD_FAILURE() << "Terminate left the send waiting";
        f.SmtpClient1->Cancel();
        f.SmtpClient1->TSockTransport::Disconnect();
    });
    f.Sendbtn->click();
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.ReceivedCount(), 0u);
    EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(StartupTest, UnwritableSettingsAreReportedAndTheProgramStillEnds)
{
    WriteFile("plainfile", "x");
    setenv("QUILLCAST_SETTINGS", Path("plainfile/settings.ini").c_str(), 1);
    Tmainform& f = Create();
    EXPECT_EQ(f.Edit2->text(), "25");
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    // Name is the first value written; the draft beside the settings cannot be written either.
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error),
              (std::vector<std::string>{"Failed to set data for 'Name'",
                                        "Cannot create file " + Path("plainfile/settings-draft.json") + "."}));
    unsetenv("QUILLCAST_SETTINGS");  // and without the variable, the user's configuration folder
    const std::string file = TSettingsStore::FileNameFor("Software\\Veskor\\Quillcast V1.2\\1.2");
    EXPECT_NE(file.find("/Veskor/Quillcast V1.2.ini"), std::string::npos) << file;
}

TEST_F(StartupTest, LanguagesAndTheHelpFileOfEach)
{
    Tmainform& f = Create();
    f.Addresses->Add("a@x");
    f.Addresses->Add("b@x");
    f.numadr();
    for (const TLanguage lang : {lgRussian, lgEnglish}) {
        SCOPED_TRACE(lang == lgRussian ? "Russian" : "English");
        Choose(lang == lgRussian ? 1 : 0);
        EXPECT_EQ(f.ComboBox1->currentIndex(), lang == lgRussian ? 1 : 0);
        EXPECT_EQ(f.Sendbtn->toolTip(), "Send your letter!") << "hints stay English";
        EXPECT_EQ(Splash->Button1->text().toStdString(), lang == lgRussian ? "Стоп" : "Stop");
        // Qt's own buttons and file dialogs follow, from Debian's translations.
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes").toStdString(), lang == lgRussian ? "&Да" : "&Yes");
        f.BitBtn10->click();
    }
    const std::string help = Tmainform::ProgramDir() + "/quillcast";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Help), (std::vector<std::string>{help + "_ru.html", help + ".html"}));
    EXPECT_EQ(f.Label4->text(), "UserId") << "only the start text reads UserID";
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");
    Choose(1);
    EXPECT_EQ(f.Label8->text(), "Всего 2 адреса") << "the count label changes at once";
    for (const auto& [n, noun] : {std::pair{0, "адресов"}, {1, "адрес"}, {2, "адреса"}, {5, "адресов"}, {11, "адресов"},
                                  {12, "адресов"}, {21, "адрес"}, {22, "адреса"}, {25, "адресов"}, {111, "адресов"}})
        EXPECT_EQ(AddressCountText(n, lgRussian), "Всего " + std::to_string(n) + " " + noun);
    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Вы уверены?"});

    // The "Connection and delivery" dialog: every text in Russian, and every value kept.
    Dialogs.ExpectDelivery(std::nullopt);
    f.DeliveryBtn->click();
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
    const TDeliverySettings all{2, 5, true, TSecurity::StartTls, "anna", amLogin, "/ca.pem", "AB:CD", true, true};
    dialog.SetValues(all, {"pw", true});
    EXPECT_EQ(dialog.Settings(), all);
    EXPECT_EQ(dialog.Password(), (TLoginPassword{"pw", true}));
}

// Installed under a prefix the program's files are in share/quillcast; a copy beside the
// program (the build folder) comes first.
TEST(ProgramFolderTest, BesideTheProgramOrUnderItsPrefix)
{
    TTempDir dir;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(dir.File("share/quillcast"))) && QDir().mkpath(QString::fromStdString(dir.File("bin"))));
    dir.Write("share/quillcast/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(dir.File("bin")), dir.File("share/quillcast"));
    dir.Write("bin/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(dir.File("bin")), dir.File("bin"));
}

using V = std::vector<std::string>;

class PagesTest : public AppFixture {};

TEST_F(PagesTest, BodyFilesReadAnyLineEndAndWriteCrLfWithNothingAfter)
{
    const struct Case {
        const char* Name;
        std::string File;
        std::string Saved;
    } cases[] = {
        {"LF only", "one\ntwo\n", "one\r\ntwo\r\n"},
        {"CR only", "one\rtwo\r\rthree", "one\r\ntwo\r\n\r\nthree"},
        {"UTF-8 text", "Привет\nмир", "Привет\r\nмир"},
        {"empty", "", ""},
        {"byte-order mark", "\xEF\xBB\xBFone\r\ntwo", "one\r\ntwo"},
        {"Windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2\r\n\xEC\xE8\xF0", "Привет\r\nмир"},
    };
    Tmainform& f = Create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.ExpectFile(WriteFile("in.txt", c.File));
        f.Openbtn->click();
        Dialogs.ExpectFile(Path("out.txt"));
        f.BitBtn3->click();
        EXPECT_EQ(ReadFile("out.txt"), c.Saved);
    }
    // Shift+Enter breaks the line for the file and for the message alike.
    f.Memo1->setPlainText("one");
    f.Memo1->moveCursor(QTextCursor::End);
    QTest::keyClick(f.Memo1, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(f.Memo1, "two");
    EXPECT_EQ(f.DisplayedLines(), V({"one", "two"}));
    Dialogs.ExpectFile(Path("out.txt"));
    f.BitBtn3->click();
    EXPECT_EQ(ReadFile("out.txt"), "one\r\ntwo");
    EXPECT_EQ(Dialogs.Shown[0].File.InitialDir, Tmainform::ProgramDir() + "/message");
    EXPECT_EQ(Dialogs.Shown[1].File.InitialDir, Tmainform::ProgramDir() + "/message");
}

TEST_F(PagesTest, PopupSaveEntriesSaveWhatTheirCaptionsSay)
{
    Tmainform& f = Create();
    f.Addresses->Add("b@x");
    f.Memo1->setPlainText("hello");
    EXPECT_EQ(f.Saveaddresse1->text(), "Save addresses");
    Dialogs.ExpectFile(Path("saved-addresses.txt"));
    f.Saveaddresse1->trigger();
    EXPECT_EQ(ReadFile("saved-addresses.txt"), "b@x\r\n");
    EXPECT_EQ(Dialogs.Shown.back().File.InitialDir, Tmainform::ProgramDir() + "/lists");
    EXPECT_EQ(f.Savemessage1->text(), "Save message");
    Dialogs.ExpectFile(Path("saved-message.txt"));
    f.Savemessage1->trigger();
    EXPECT_EQ(ReadFile("saved-message.txt"), "hello");
}

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

TEST_F(DeliveryTest, SettingsLoadWithDefaultsTestConnectionUsesWhatIsShownAndNoPasswordIsSaved)
{
    WriteFile("settings.ini", "[1.2]\nMaxRecipients=9\nPauseMs=soon\nSkipRefused=1\nSecurity=TLS\nAuthMethod=cram\n");
    EXPECT_EQ(Create().Delivery, (TDeliverySettings{9, 0, true, TSecurity::Tls}));
    WriteFile("settings.ini", "[1.2]\nPort=25\n");  // a settings file of the first version
    Tmainform& f = Window();
    EXPECT_EQ(f.Delivery, TDeliverySettings{});
    Dialogs.ExpectDelivery(All, {"s3cret", true}, true);  // Test connection, then OK
    f.DeliveryBtn->click();
    const TSendRequest& r = Probed.at(0);
    EXPECT_EQ(std::tie(r.Host, r.Port, r.Security, r.CAFile, r.Fingerprint, r.AuthUser, r.Password, r.AuthMethod,
                       r.ExtendedSmtp, r.AllowPlaintextAuth, r.MaxRecipients),
              std::make_tuple(std::string("127.0.0.1"), 25, TSecurity::StartTls, std::string("/ca.pem"),
                              std::string("AB:CD"), std::string("anna"), std::string("s3cret"), amLogin, true, true, 2));
    EXPECT_TRUE(ProgressDuringProbe) << "the progress window with Stop, above the dialog";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message), std::vector<std::string>{"The server offers:\nSTARTTLS\nAUTH PLAIN LOGIN"});
    EXPECT_EQ(f.Edit2->text(), "587") << "the port follows the mode";
    EXPECT_EQ(Store->Stored, (std::map<std::string, std::string>{{"anna@127.0.0.1", "s3cret"}}));

    ProbeError = "Connection Failed";
    Dialogs.ExpectDelivery(std::nullopt, {"s3cret"}, true);
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Connection Failed."});
    EXPECT_FALSE(Splash->isVisible() || Splash->isModal() || f.Sending());
    EXPECT_EQ(f.Delivery, All) << "a cancelled dialog changes nothing";
    Dialogs.ExpectDelivery(All, {"s3cret", false});
    f.DeliveryBtn->click();
    EXPECT_TRUE(Store->Stored.empty()) << "Remember unticked: the keyring forgets it";
    f.FormClose();
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
