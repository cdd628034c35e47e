// Switching the interface language.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTabWidget>

#include "AppFixture.h"
#include "app/Language.h"

namespace {

// Every caption text the window shows, wherever it is.
QStringList Shown(const Tmainform& f)
{
    QStringList texts;
    for (QObject* o : f.findChildren<QObject*>()) {
        if (auto* b = qobject_cast<QAbstractButton*>(o)) texts << b->text();
        if (auto* l = qobject_cast<QLabel*>(o)) texts << l->text();
        if (auto* g = qobject_cast<QGroupBox*>(o)) texts << g->title();
        if (auto* a = qobject_cast<QAction*>(o)) texts << a->text();
    }
    for (int i = 0; i < f.PageControl1->count(); ++i) texts << f.PageControl1->tabText(i);
    for (int i = 0; i < f.ComboBox1->count(); ++i) texts << f.ComboBox1->itemText(i);
    return texts;
}

}  // namespace

class LanguageTest : public AppFixture {};

TEST_F(LanguageTest, SwitchingToRussianAndBack)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\n");
    for (const TLanguage lang : {lgRussian, lgEnglish}) {
        SCOPED_TRACE(lang == lgRussian ? "Russian" : "English");
        Choose(lang == lgRussian ? 1 : 0);
        const QStringList shown = Shown(f);
        for (std::size_t i = 0; i < CaptionTableSize; ++i)
            EXPECT_TRUE(shown.contains(QString::fromUtf8(CaptionTable[i].Text[lang]))) << CaptionTable[i].Control;
        // Controls that share a text must each get their own entry.
        const std::pair<std::string, const char*> controls[] = {
            {f.ComboBox1->itemText(0).toStdString(), "ComboBox1.0"}, {f.PageControl1->tabText(1).toStdString(), "TabSheet2"},
            {f.BitBtn2->text().toStdString(), "BitBtn2"},           {f.RadioButton3->text().toStdString(), "RadioButton3"},
            {f.Savemessage1->text().toStdString(), "Savemessage1"}, {f.Label6->text().toStdString(), "Label6"},
        };
        for (const auto& [text, control] : controls) EXPECT_EQ(text, Caption(control, lang)) << control;
        EXPECT_EQ(f.ComboBox1->currentIndex(), lang == lgRussian ? 1 : 0);
        EXPECT_EQ(f.Sendbtn->toolTip(), "Send your letter!") << "hints stay English";
        EXPECT_EQ(f.Edit3->toolTip(), "Change it only\nif you have problems");
    }
    EXPECT_EQ(f.Label4->text(), "UserId") << "only the start text reads UserID";
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");
    Choose(1);
    EXPECT_EQ(f.Label8->text(), "Всего 2 адресов") << "the count label changes at once";
    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), std::vector<std::string>{"Вы уверены?"});
}
