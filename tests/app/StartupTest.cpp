// Start-up, the stored settings, close, Terminate and the window-level commands.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include "AppFixture.h"
#include "app/Rabout.h"
#include "nntp/NntpClient.h"
#include "smtp/SmtpClient.h"

namespace {

struct TFields {
    std::string Login, Port, Host, Name, Mail;
    int LanguageIndex;
};

TFields FieldsOf(const Tmainform& f)
{
    return {f.Edit3->text().toStdString(), f.Edit2->text().toStdString(), f.Edit6->text().toStdString(),
            f.Edit4->text().toStdString(), f.Edit5->text().toStdString(), f.ComboBox1->currentIndex()};
}

}  // namespace

class StartupTest : public AppFixture {};

TEST_F(StartupTest, FirstStartWithoutSettings)
{
    Tmainform& f = Create();
    const TFields got = FieldsOf(f);
    EXPECT_EQ(got.Login, "TmpStr");
    EXPECT_EQ(got.Port, "25");
    EXPECT_EQ(got.Host, "");
    EXPECT_EQ(got.Name, "");
    EXPECT_EQ(got.Mail, "");
    EXPECT_EQ(got.LanguageIndex, 0);
    EXPECT_EQ(f.Label8->text(), "Total 0 addresses");
    EXPECT_EQ(f.Label4->text(), "UserID");
    EXPECT_EQ(f.PageControl1->currentWidget(), f.TabSheet2);
    EXPECT_TRUE(f.RadioButton3->isChecked());
    EXPECT_TRUE(Splash->isEnabled()) << "the Stop button must work during sends";
    EXPECT_TRUE(Dialogs.Shown.empty());
    EXPECT_EQ(f.size(), QSize(541, 331));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "the window cannot be resized";

    const TSmtpClient& smtp = *f.SmtpClient1;
    EXPECT_EQ(smtp.Port(), 25);
    EXPECT_EQ(smtp.TimeOut(), 5000);
    EXPECT_EQ(smtp.ReportLevel(), 0);
    EXPECT_EQ(smtp.UserID(), "TmpStr");
    EXPECT_EQ(smtp.PostMessage().LocalProgram(), "Created by Veskor");
    EXPECT_EQ(smtp.EncodeType(), uuMime);
    EXPECT_TRUE(smtp.ClearParams());
    EXPECT_EQ(smtp.SubType(), mtPlain);
    EXPECT_FALSE(smtp.OnStatus) << "the transport's own status texts are never shown";
    EXPECT_EQ(f.NntpClient1->Port(), 119);
    EXPECT_EQ(f.NntpClient1->CacheMode(), cmMixed);
    EXPECT_FALSE(f.NntpClient1->ParseAttachments());
}

TEST_F(StartupTest, StoredValuesAndTheirAbsence)
{
    struct Case {
        const char* Ini;
        TFields Want;
    } cases[] = {
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
        SCOPED_TRACE(c.Ini);
        WriteFile("settings.ini", c.Ini);
        const TFields got = FieldsOf(Create());
        EXPECT_EQ(got.Login, c.Want.Login);
        EXPECT_EQ(got.Port, c.Want.Port);
        EXPECT_EQ(got.Host, c.Want.Host);
        EXPECT_EQ(got.Name, c.Want.Name);
        EXPECT_EQ(got.Mail, c.Want.Mail);
        EXPECT_EQ(got.LanguageIndex, c.Want.LanguageIndex);
    }
    EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(StartupTest, CloseInRussianAndStartAgain)
{
    Tmainform& f = Create();
    f.Edit6->setText("mx.test");
    f.Edit2->setText("2525");
    f.Edit3->setText("login");
    f.Edit4->setText("Анна");
    f.Edit5->setText("anna@test");
    f.ComboBox1->setCurrentIndex(1);
    f.ComboBox1Change();
    Dialogs.ExpectConfirm(true);
    EXPECT_TRUE(f.close());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Завершить работу?"});
    Dialogs.Clear();

    Tmainform& g = Create();
    const TFields got = FieldsOf(g);
    EXPECT_EQ(got.Host, "mx.test");
    EXPECT_EQ(got.Port, "2525");
    EXPECT_EQ(got.Login, "login");
    EXPECT_EQ(got.Name, "Анна");
    EXPECT_EQ(got.Mail, "anna@test");
    EXPECT_EQ(got.LanguageIndex, 1);
    EXPECT_EQ(g.Label8->text(), "Всего 0 адресов");
    EXPECT_EQ(g.PageControl1->tabText(2), "Настройки");
    EXPECT_EQ(g.ComboBox1->itemText(0), "Английский");
    EXPECT_EQ(g.Label4->text(), "Логин");
}

TEST_F(StartupTest, CloseAnsweredNoWritesNothingAndKeepsTheWindow)
{
    Tmainform& f = Create();
    f.Edit6->setText("mx.test");
    Dialogs.ExpectConfirm(false);
    f.BitBtn4->click();  // the Close button closes the window, through the same question
    EXPECT_TRUE(f.isVisible());
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"End the program?"});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(SettingsFile)));
}

TEST_F(StartupTest, TerminateWritesNothing)
{
    const std::string before = "[1.2]\nLogin=me\nPort=2525\nHost=old\nName=n\nMail=m\nLanguage=English\n";
    WriteFile("settings.ini", before);
    Tmainform& f = Create();
    f.Edit6->setText("new.host");
    f.ComboBox1->setCurrentIndex(1);
    f.ComboBox1Change();
    f.Terminate1->trigger();
    f.close();  // whatever comes after Terminate neither asks nor writes
    Form.reset();
    EXPECT_EQ(ReadFile("settings.ini"), before);
    EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(StartupTest, NonTextValueStopsReadingAndIsReported)
{
    // A byte array and a list (an unquoted comma) are values of other types.
    for (const char* value : {"@ByteArray(mx.test)", "a, b"}) {
        SCOPED_TRACE(value);
        WriteFile("settings.ini", std::string("[1.2]\nLogin=me\nPort=2525\nHost=") + value +
                                      "\nName=Anna\nLanguage=Английский\n");
        Dialogs.Clear();
        Tmainform& f = Create();
        EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Invalid data type for 'Host'"});
        EXPECT_EQ(f.Edit3->text(), "me");
        EXPECT_EQ(f.Edit2->text(), "2525");
        EXPECT_EQ(f.Edit4->text(), "") << "steps after the failed read are skipped";
        EXPECT_EQ(f.Label8->text(), "") << "the count label is not updated";
        EXPECT_EQ(f.Language(), lgEnglish);
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
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Error), std::vector<std::string>{"Failed to set data for 'Name'"});
}

TEST_F(StartupTest, ResetHelpAndAbout)
{
    WriteFile("settings.ini", "[1.2]\nLogin=me\nPort=2525\nHost=mx.test\n");
    Tmainform& f = Create();
    f.BitBtn9->click();
    EXPECT_EQ(f.Edit2->text(), "25");
    EXPECT_EQ(f.Edit3->text(), "TmpStr");
    EXPECT_EQ(f.Edit6->text(), "mx.test");

    f.BitBtn10->click();
    ASSERT_EQ(Dialogs.Texts(TDialogKind::Help).size(), 1u);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Help)[0], Tmainform::ProgramDir() + "/quillcast.html");

    TRaboutForm about(Dialogs);
    const QRegion shape = about.mask();
    EXPECT_TRUE(shape.contains(QPoint(150, 88)));
    EXPECT_FALSE(shape.contains(QPoint(15, 15))) << "the corners lie outside the ellipse";
    EXPECT_FALSE(shape.contains(QPoint(295, 170)));
    about.show();
    QTest::mouseClick(about.Label1, Qt::LeftButton);
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Url).size(), 0u) << "the contact label does nothing";
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
    EXPECT_TRUE(splash.Label1->text().isEmpty());
    EXPECT_TRUE(splash.Button1->isHidden());
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
