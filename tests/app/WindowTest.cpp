// The window apart from sending: the stored settings and the draft from one run to the
// next, close and Terminate, the program's folders and help, the interface language, the
// message page's files and the body as displayed, the popup menu, and the "Connection and
// delivery" dialog with the login's password (keyring, this session, or asked at a send)
// and Test connection.
#include <QCoreApplication>
#include <QFile>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <numeric>

#include "AppFixture.h"
#include "app/Language.h"
#include "app/ProgramFolder.h"
#include "platform/SettingsStore.h"
#include "support/MemoryCredentials.h"
#include "support/ScriptedServer.h"

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
        // Reset for the missing port also replaces the user ID that was read.
        {"[1.2]\nLogin=me\nHost=mx.test\n", {"TmpStr", "25", "mx.test", "", "", 0}},
        {"[1.2]\nPort=2525\n", {"TmpStr", "2525", "", "", "", 0}},
        {"[1.2]\nLanguage=Английский\n", {"TmpStr", "25", "", "", "", 1}},
        {"[1.2]\nLanguage=Русский\n", {"TmpStr", "25", "", "", "", 0}},
        // A byte array and a list (an unquoted comma) are values of other types.
        {bad + "@ByteArray(mx.test)", {"me", "2525", "", "", "", 0}, "Invalid data type for 'Host'"},
        {bad + "a, b", {"me", "2525", "", "", "", 0}, "Invalid data type for 'Host'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ini);
        Dialogs.Clear();
        if (!c.Ini.empty()) Dir.Write("settings.ini", c.Ini);
        Tmainform& f = Create();
        EXPECT_EQ(FieldsOf(f), c.Want);
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error),
                  c.Error ? std::vector<std::string>{c.Error} : std::vector<std::string>());
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
    Dialogs.ExpectConfirm(false);
    f.BitBtn4->click();  // the Close button closes the window, through the same question
    EXPECT_TRUE(f.isVisible());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Dir.File("settings.ini")))) << "nothing is written without a Yes";
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>(2, "Завершить работу?"));

    Tmainform& g = Create();
    EXPECT_EQ(FieldsOf(g), TFields("login", "2525", "mx.test", "Анна, \"A\"", "anna@test", 1));
    EXPECT_EQ(std::tuple(g.Edit1->text(), g.MemoText(), g.ListBox1->item(0)->text(), g.Label8->text(),
                         g.RadioButton2->isChecked()),
              std::tuple("Subject", "one\r\ntwo", "/tmp/a.bin", "Всего 1 адрес", true));
    Dir.Write("settings-draft.json", "{\"subject\": ");  // damaged: the window starts empty
    EXPECT_EQ(Create().Edit1->text(), "");
}

// Terminate while a send waits for a silent server: the wait ends now, the connection is
// dropped without QUIT, nothing is reported, and the window closes without asking or writing.
TEST_F(StartupTest, TerminateEndsAWaitingSendAtOnce)
{
    TScriptedServer server;
    server.Sink();
    server.Start();
    Tmainform& f = Create();
    f.Edit6->setText("127.0.0.1");
    f.Edit2->setText(QString::number(server.Port()));
    // A Terminate that left the send waiting fails below, when the reply time-out ends it.
    QTimer::singleShot(100, &f, [&f] { f.Terminate1->trigger(); });
    f.Sendbtn->click();
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.ReceivedCount(), 0u);
    f.close();
    Form.reset();
    EXPECT_TRUE(Dialogs.Shown.empty());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(Dir.File("settings.ini"))));
}

TEST_F(StartupTest, UnwritableSettingsAreReportedAndTheProgramStillEnds)
{
    Dir.Write("plainfile", "x");
    setenv("QUILLCAST_SETTINGS", Dir.File("plainfile/settings.ini").c_str(), 1);
    Tmainform& f = Create();
    EXPECT_EQ(f.Edit2->text(), "25");
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    // Name is the first value written; the draft beside the settings cannot be written either.
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error),
              (std::vector<std::string>{"Failed to set data for 'Name'",
                                        "Cannot create file " + Dir.File("plainfile/settings-draft.json") + "."}));
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
        EXPECT_EQ(Splash->Button1->text().toStdString(), lang == lgRussian ? "Стоп" : "Stop");
        // Qt's own buttons and file dialogs follow, from Debian's translations.
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes").toStdString(),
                  lang == lgRussian ? "&Да" : "&Yes");
        f.BitBtn10->click();
    }
    const std::string help = Tmainform::ProgramDir() + "/quillcast";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Help), (std::vector<std::string>{help + "_ru.html", help + ".html"}));
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");
    Choose(1);
    EXPECT_EQ(f.Label8->text(), "Всего 2 адреса") << "the count label changes at once";
    for (const auto& [n, noun] : {std::pair{0, "адресов"},
                                  {1, "адрес"},
                                  {2, "адреса"},
                                  {5, "адресов"},
                                  {11, "адресов"},
                                  {12, "адресов"},
                                  {21, "адрес"},
                                  {22, "адреса"},
                                  {25, "адресов"},
                                  {111, "адресов"}})
        EXPECT_EQ(AddressCountText(n, lgRussian), "Всего " + std::to_string(n) + " " + noun);
    Dialogs.ExpectDelivery(std::nullopt);  // and the "Connection and delivery" dialog
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Shown.back().Caption, "Соединение и доставка");
}

// Installed under a prefix the program's files are in share/quillcast; a copy beside the
// program (the build folder) comes first.
TEST(ProgramFolderTest, BesideTheProgramOrUnderItsPrefix)
{
    TTempDir dir;
    dir.Write("share/quillcast/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(dir.File("bin")), dir.File("share/quillcast"));
    dir.Write("bin/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(dir.File("bin")), dir.File("bin"));
}

using V = std::vector<std::string>;

class PagesTest : public AppFixture {};

TEST_F(PagesTest, BodyFilesReadAnyLineEndAndWriteCrLfAndTheBodyIsTheMemoAsDisplayed)
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
        Dialogs.ExpectFile(Dir.Write("in.txt", c.File));
        f.Openbtn->click();
        Dialogs.ExpectFile(Dir.File("out.txt"));
        f.BitBtn3->click();
        EXPECT_EQ(Dir.Read("out.txt"), c.Saved);
    }
    // Shift+Enter breaks the line for the file and for the message alike.
    f.Memo1->setPlainText("one");
    f.Memo1->moveCursor(QTextCursor::End);
    QTest::keyClick(f.Memo1, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(f.Memo1, "two");
    EXPECT_EQ(f.DisplayedLines(), V({"one", "two"}));
    Dialogs.ExpectFile(Dir.File("out.txt"));
    f.BitBtn3->click();
    EXPECT_EQ(Dir.Read("out.txt"), "one\r\ntwo");
    EXPECT_EQ(Dialogs.Shown[0].File.InitialDir, Tmainform::ProgramDir() + "/message");
    EXPECT_EQ(Dialogs.Shown[1].File.InitialDir, Tmainform::ProgramDir() + "/message");

    // The message goes as the memo displays it: a long paragraph in the lines the memo
    // wraps it into, the same before its page was ever shown.
    f.Memo1->setPlainText(QStringLiteral("word ").repeated(60) + QStringLiteral("end"));
    const V hidden = f.DisplayedLines();
    f.PageControl1->setCurrentWidget(f.TabSheet1);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.DisplayedLines(), hidden);
    ASSERT_GT(hidden.size(), 5u);
    EXPECT_EQ(static_cast<int>(hidden.size()), f.Memo1->document()->firstBlock().layout()->lineCount());
    EXPECT_EQ(std::accumulate(hidden.begin(), hidden.end(), std::string()), f.Memo1->toPlainText().toStdString());
}

TEST_F(PagesTest, PopupSaveEntriesSaveWhatTheirCaptionsSay)
{
    Tmainform& f = Create();
    f.Addresses->Add("b@x");
    f.Memo1->setPlainText("hello");
    EXPECT_EQ(f.Saveaddresse1->text(), "Save addresses");
    Dialogs.ExpectFile(Dir.File("saved-addresses.txt"));
    f.Saveaddresse1->trigger();
    EXPECT_EQ(Dir.Read("saved-addresses.txt"), "b@x\r\n");
    EXPECT_EQ(Dialogs.Shown.back().File.InitialDir, Tmainform::ProgramDir() + "/lists");
    EXPECT_EQ(f.Savemessage1->text(), "Save message");
    Dialogs.ExpectFile(Dir.File("saved-message.txt"));
    f.Savemessage1->trigger();
    EXPECT_EQ(Dir.Read("saved-message.txt"), "hello");
}

// The "Connection and delivery" settings (read with defaults, kept but for the clear-text
// login), Test connection with what the dialog shows, and the login's password: in the
// keyring while Remember is ticked, asked at a send when nothing keeps it, kept for the
// session when there is no keyring, and never in the settings file.
class DeliveryTest : public AppFixture {};

TEST_F(DeliveryTest, SettingsTestConnectionAndThePassword)
{
    Dir.Write("settings.ini", "[1.2]\nMaxRecipients=9\nPauseMs=soon\nSkipRefused=1\nSecurity=TLS\nAuthMethod=cram\n");
    EXPECT_EQ(Create().Delivery, (TDeliverySettings{9, 0, true, TSecurity::Tls}));
    Dir.Write("settings.ini", "[1.2]\nPort=25\n");  // a settings file of the first version
    Tmainform& f = Create();
    auto* store = new TMemoryCredentials;
    f.Credentials.reset(store);
    f.Edit6->setText("127.0.0.1");
    std::vector<TSendRequest> probed;
    bool progressShown = false;
    std::string probeError;
    f.ProbeServer = [&](TSmtpClient&, const TSendRequest& r) {
        probed.push_back(r);
        progressShown = Splash->isVisible() && Splash->isModal() && !Splash->Button1->isHidden();
        if (!probeError.empty()) throw Exception(probeError);
        return std::vector<std::string>{"STARTTLS", "AUTH PLAIN LOGIN"};
    };
    const TDeliverySettings all{2, 5, true, TSecurity::StartTls, "anna", amLogin, "/ca.pem", "AB:CD", true, true};
    Dialogs.ExpectDelivery(all, {"s3cret", true}, true);  // Test connection, then OK
    f.DeliveryBtn->click();
    const TSendRequest& r = probed.at(0);
    EXPECT_EQ(
        std::tie(r.Host, r.Port, r.Security, r.CAFile, r.Fingerprint, r.AuthUser, r.Password, r.AuthMethod,
                 r.ExtendedSmtp, r.AllowPlaintextAuth, r.MaxRecipients),
        std::make_tuple(std::string("127.0.0.1"), 25, TSecurity::StartTls, std::string("/ca.pem"), std::string("AB:CD"),
                        std::string("anna"), std::string("s3cret"), amLogin, true, true, 2));
    EXPECT_TRUE(progressShown) << "the progress window with Stop, above the dialog";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Message),
              std::vector<std::string>{"The server offers:\nSTARTTLS\nAUTH PLAIN LOGIN"});
    EXPECT_EQ(f.Edit2->text(), "587") << "the port follows the mode";
    EXPECT_EQ(store->Stored, (std::map<std::string, std::string>{{"anna@127.0.0.1", "s3cret"}}));

    probeError = "Connection Failed";
    Dialogs.ExpectDelivery(std::nullopt, {}, true);
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Shown[2].Login, (TLoginPassword{"s3cret", true})) << "the dialog shows what the keyring keeps";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Connection Failed."});
    EXPECT_FALSE(Splash->isVisible() || Splash->isModal() || f.Sending());
    EXPECT_EQ(f.Delivery, all) << "a cancelled dialog changes nothing";
    Dialogs.ExpectDelivery(all, {});
    f.DeliveryBtn->click();
    EXPECT_TRUE(store->Stored.empty()) << "Remember unticked: the keyring forgets it";
    f.Edit2->setText(QString::number(UnusedLoopbackPort()));
    Dialogs.ExpectInput(std::nullopt);  // Cancel: nothing is sent
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Shown.back().Text, "Password for anna on 127.0.0.1:");
    EXPECT_TRUE(Dialogs.Shown.back().Hidden);
    store->Stored["anna@127.0.0.1"] = "kept";
    Dialogs.ExpectDelivery(std::nullopt, {}, true);
    f.DeliveryBtn->click();
    EXPECT_EQ(probed.back().Password, "kept");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 2u) << "only the two tests ran";

    store->Available = false;
    Dialogs.ExpectDelivery(all, {"typed", true});
    f.DeliveryBtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Information),
              std::vector<std::string>{"No keyring is available: the password is kept only until the program ends."});
    f.Sendbtn->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Input).size(), 1u) << "the session keeps it";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 3u) << "and the send ran";
    f.FormClose();
    EXPECT_EQ(Dir.Read("settings.ini").find("typed"), std::string::npos);
    // Allowing a login in clear text is chosen anew each session.
    EXPECT_EQ(Create().Delivery,
              (TDeliverySettings{2, 5, true, TSecurity::StartTls, "anna", amLogin, "/ca.pem", "AB:CD", true}));
}
