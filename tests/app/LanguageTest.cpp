// Switching the interface language, and the error report's wording.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>

#include "AppFixture.h"
#include "app/AddressListModel.h"
#include "app/ErrorReport.h"
#include "app/Language.h"
#include "base/Exception.h"

namespace {

// One control of each kind the table names, read back from the window.
std::vector<std::pair<const char*, std::string>> Captions(const Tmainform& f)
{
    return {
        {"ComboBox1.0", f.ComboBox1->itemText(0).toStdString()},
        {"ComboBox1.1", f.ComboBox1->itemText(1).toStdString()},
        {"GroupBox1", f.GroupBox1->title().toStdString()},
        {"RadioGroup1", f.RadioGroup1->title().toStdString()},
        {"Label6", f.Label6->text().toStdString()},
        {"TabSheet1", f.PageControl1->tabText(0).toStdString()},
        {"TabSheet2", f.PageControl1->tabText(1).toStdString()},
        {"Sendbtn", f.Sendbtn->text().toStdString()},
        {"BitBtn5", f.BitBtn5->text().toStdString()},
        {"RadioButton3", f.RadioButton3->text().toStdString()},
        {"Savemessage1", f.Savemessage1->text().toStdString()},
        {"Terminate1", f.Terminate1->text().toStdString()},
    };
}

void Choose(Tmainform& f, int Index)
{
    f.ComboBox1->setCurrentIndex(Index);
    f.ComboBox1Change();
}

}  // namespace

class LanguageTest : public AppFixture {};

TEST_F(LanguageTest, SwitchingToRussianAndBack)
{
    Tmainform& f = Create();
    f.Edit7->setText("a@x");
    f.BitBtn5->click();
    f.Edit7->setText("b@x");
    f.BitBtn5->click();

    Choose(f, 1);
    for (const auto& [control, text] : Captions(f)) EXPECT_EQ(text, Caption(control, lgRussian)) << control;
    EXPECT_EQ(f.Label4->text(), "Логин");
    EXPECT_EQ(f.Label8->text(), "Всего 2 адресов");
    EXPECT_EQ(f.ComboBox1->currentIndex(), 1);
    EXPECT_EQ(f.Sendbtn->toolTip(), "Send your letter!") << "hints stay English";
    EXPECT_EQ(f.Edit3->toolTip(), "Change it only\nif you have problems");

    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Вы уверены?"});

    Choose(f, 0);
    for (const auto& [control, text] : Captions(f)) EXPECT_EQ(text, Caption(control, lgEnglish)) << control;
    EXPECT_EQ(f.Label4->text(), "UserId");
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");
    EXPECT_EQ(f.ComboBox1->currentIndex(), 0);
}

TEST_F(LanguageTest, EveryTableEntryReachesAControl)
{
    Tmainform& f = Create();
    Choose(f, 1);
    // Every caption of the table must have landed somewhere in the window.
    QStringList texts;
    for (QObject* o : f.findChildren<QObject*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(o)) texts << b->text();
        if (auto* l = qobject_cast<QLabel*>(o)) texts << l->text();
        if (auto* g = qobject_cast<QGroupBox*>(o)) texts << g->title();
        if (auto* a = qobject_cast<QAction*>(o)) texts << a->text();
    }
    for (int i = 0; i < f.PageControl1->count(); ++i) texts << f.PageControl1->tabText(i);
    for (int i = 0; i < f.ComboBox1->count(); ++i) texts << f.ComboBox1->itemText(i);
    for (std::size_t i = 0; i < CaptionTableSize; ++i)
        EXPECT_TRUE(texts.contains(QString::fromUtf8(CaptionTable[i].Text[lgRussian]))) << CaptionTable[i].Control;
}

TEST(ErrorReportTest, FullStopUnlessTheMessageEndsInOneOrSomethingBefore)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Incomplete Header", "Incomplete Header."},
        {"Connection closed.", "Connection closed."},
        {"Message delivery failure!", "Message delivery failure!"},
        {"Ends in a comma,", "Ends in a comma,"},
        {"Ends in a blank ", "Ends in a blank "},
        {"Invalid data type for 'Host'", "Invalid data type for 'Host'"},
        {"550 No such user here", "550 No such user here."},
        {"Ошибка", "Ошибка."},
        {"", ""},
    };
    for (const auto& [message, shown] : cases) EXPECT_EQ(ErrorReportText(message), shown) << message;
}

TEST(ErrorReportTest, GuardedReportsWhatEscapesAndGoesOn)
{
    TScriptedDialogs dialogs;
    EXPECT_FALSE(Guarded(dialogs, [] { throw EConvertError("'x' is not a valid integer value"); }));
    EXPECT_FALSE(Guarded(dialogs, [] { throw std::runtime_error("plain"); }));
    EXPECT_TRUE(Guarded(dialogs, [] {}));
    EXPECT_EQ(dialogs.Texts(TDialogKind::Error),
              (std::vector<std::string>{"'x' is not a valid integer value.", "plain."}));
}
