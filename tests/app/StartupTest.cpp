// Start-up, the stored settings, close, Terminate, the language and the window-level commands.
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "AppFixture.h"
#include "app/Language.h"
#include "app/ProgramFolder.h"
#include "app/Rabout.h"
#include "platform/SettingsStore.h"
#include "smtp/SmtpClient.h"
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

TEST_F(StartupTest, StoredValuesAndTheirAbsence)
{
    const struct Case {
        const char* Ini;  // nullptr: no settings at all
        TFields Want;
    } cases[] = {
        {nullptr, {"TmpStr", "25", "", "", "", 0}},
        {"[1.2]\nLogin=me\nPort=2525\nHost=mx.test\nName=Anna\nMail=a@test\nLanguage=English\n",
         {"me", "2525", "mx.test", "Anna", "a@test", 0}},
        // Reset for the missing port also replaces the user ID that was read.
        {"[1.2]\nLogin=me\nHost=mx.test\n", {"TmpStr", "25", "mx.test", "", "", 0}},
        {"[1.2]\nPort=2525\n", {"TmpStr", "2525", "", "", "", 0}},
        {"[1.2]\nLanguage=Английский\n", {"TmpStr", "25", "", "", "", 1}},
        {"[1.2]\nLanguage=Русский\n", {"TmpStr", "25", "", "", "", 0}},
        {"[1.2]\nLanguage=Russian\n", {"TmpStr", "25", "", "", "", 0}},
        {"[other]\nLogin=me\n", {"TmpStr", "25", "", "", "", 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ini ? c.Ini : "no settings");
        if (c.Ini) WriteFile("settings.ini", c.Ini);
        EXPECT_EQ(FieldsOf(Create()), c.Want);
    }
    EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(StartupTest, FirstStartShowsTheAddressesPageAndSetsUpTheClient)
{
    Tmainform& f = Create();
    EXPECT_EQ(f.Label8->text(), "Total 0 addresses");
    EXPECT_EQ(f.Label4->text(), "UserID");
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TabSheet2);
    EXPECT_TRUE(f.RadioButton3->isChecked());
    EXPECT_TRUE(Splash->isEnabled()) << "the Stop button must work during sends";
    EXPECT_EQ(f.size(), QSize(541, 331));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(f.SmtpClient1->OnStatus) << "the transport's own status texts are never shown";
}

TEST_F(StartupTest, CloseInRussianAndStartAgain)
{
    Tmainform& f = Create();
    f.Edit6->setText("mx.test");
    f.Edit2->setText("2525");
    f.Edit3->setText("login");
    f.Edit4->setText("Анна, \"A\"");
    f.Edit5->setText("anna@test");
    Choose(1);
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Завершить работу?"});
    Dialogs.Clear();

    Tmainform& g = Create();
    EXPECT_EQ(FieldsOf(g), TFields("login", "2525", "mx.test", "Анна, \"A\"", "anna@test", 1));
    EXPECT_EQ(g.Label8->text(), "Всего 0 адресов");
    EXPECT_EQ(g.ComboBox1->itemText(0), "Английский");
    EXPECT_EQ(g.Label4->text(), "Логин");
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

TEST_F(StartupTest, NonTextValueStopsReadingAndIsReported)
{
    // A byte array, a list (an unquoted comma) and a number are values of other types.
    for (const char* value : {"@ByteArray(mx.test)", "a, b", "@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)"}) {
        SCOPED_TRACE(value);
        WriteFile("settings.ini", std::string("[1.2]\nLogin=me\nPort=2525\nHost=") + value +
                                      "\nName=Anna\nLanguage=Английский\n");
        Dialogs.Clear();
        Tmainform& f = Create();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Invalid data type for 'Host'"});
        EXPECT_EQ(FieldsOf(f), TFields("me", "2525", "", "", "", 0)) << "steps after the failed read are skipped";
        EXPECT_EQ(f.Label8->text(), "") << "the count label is not updated";
    }
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

TEST_F(StartupTest, TheDraftIsKeptFromOneRunToTheNext)
{
    Tmainform& f = Create();
    f.Edit1->setText("Subject");
    f.Memo1->setPlainText("one\ntwo");
    f.ListBox1->addItem("/tmp/a.bin");
    f.Addresses->Add("b@x");
    f.RadioButton2->setChecked(true);
    Dialogs.ExpectConfirm(true);
    ASSERT_TRUE(f.close());
    Tmainform& g = Create();
    EXPECT_EQ(std::tuple(g.Edit1->text(), g.MemoText(), g.ListBox1->item(0)->text(), g.Label8->text(), g.RadioButton2->isChecked()),
              std::tuple("Subject", "one\r\ntwo", "/tmp/a.bin", "Total 1 addresses", true));
    WriteFile("settings-draft.json", "{\"subject\": ");  // damaged: the window starts empty
    EXPECT_EQ(Create().Edit1->text(), "");
}

TEST_F(StartupTest, ResetHelpAndAbout)
{
    WriteFile("settings.ini", "[1.2]\nLogin=me\nPort=2525\nHost=mx.test\n");
    Tmainform& f = Create();
    f.BitBtn9->click();
    EXPECT_EQ(FieldsOf(f), TFields("TmpStr", "25", "mx.test", "", "", 0));
    f.BitBtn10->click();
    Choose(1);
    f.BitBtn10->click();
    const std::string help = Tmainform::ProgramDir() + "/quillcast";
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Help), (std::vector<std::string>{help + ".html", help + "_ru.html"}));
    // Installed under a prefix the program's files are in share/quillcast; a copy beside the
    // program (the build folder) comes first.
    ASSERT_TRUE(QDir(Dir.path()).mkpath("share/quillcast") && QDir(Dir.path()).mkpath("bin"));
    WriteFile("share/quillcast/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(Path("bin")), Path("share/quillcast"));
    WriteFile("bin/quillcast.html", "");
    EXPECT_EQ(ProgramFolder(Path("bin")), Path("bin"));

    TRaboutForm about(Dialogs);
    EXPECT_TRUE(about.mask().contains(QPoint(150, 88)));
    EXPECT_FALSE(about.mask().contains(QPoint(15, 15))) << "the corners lie outside the ellipse";
    about.show();
    QTest::mouseClick(about.Label1, Qt::LeftButton);  // the contact label does nothing
    QTest::mouseClick(about.Label4, Qt::LeftButton);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Url), std::vector<std::string>{about.Label4->text().toStdString()});
    EXPECT_TRUE(about.isVisible());
    about.BitBtn1->click();
    EXPECT_FALSE(about.isVisible());
}

TEST_F(StartupTest, SplashStartsDisabledAndStopAlwaysRestoresTheWindow)
{
    TSplashform splash(Dialogs);
    EXPECT_FALSE(splash.isEnabled());
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);

    Tmainform& f = Create();
    f.setEnabled(false);
    Splash->show();
    Splash->Button1->show();
    Splash->OnStop = [] { throw Exception("cancelled"); };
    EXPECT_THROW(Splash->Button1Click(), Exception);
    EXPECT_TRUE(f.isEnabled());
    EXPECT_FALSE(Splash->isVisible());
    EXPECT_TRUE(Splash->Button1->isHidden());
}

TEST_F(StartupTest, SwitchingToRussianAndBack)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\n");
    for (const TLanguage lang : {lgRussian, lgEnglish}) {
        SCOPED_TRACE(lang == lgRussian ? "Russian" : "English");
        Choose(lang == lgRussian ? 1 : 0);
        EXPECT_EQ(f.ComboBox1->currentIndex(), lang == lgRussian ? 1 : 0);
        EXPECT_EQ(f.Sendbtn->toolTip(), "Send your letter!") << "hints stay English";
        EXPECT_EQ(f.Edit3->toolTip(), "Change it only\nif you have problems");
        EXPECT_EQ(Splash->Button1->text().toStdString(), lang == lgRussian ? "Стоп" : "Stop");
        // Qt's own buttons and file dialogs follow, from Debian's translations.
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes").toStdString(), lang == lgRussian ? "&Да" : "&Yes");
    }
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
}
