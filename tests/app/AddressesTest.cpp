// The recipient list page: loading, ordering, insert, remove, clear, save, count and hint.
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

#include "AppFixture.h"
#include "app/AddressListModel.h"

namespace {

std::vector<std::string> Entries(const Tmainform& f) { return f.Addresses->Items().Items(); }

void Select(Tmainform& f, int Row)
{
    f.ListBox2->selectionModel()->setCurrentIndex(f.Addresses->index(Row), QItemSelectionModel::ClearAndSelect);
}

int Selected(const Tmainform& f)
{
    const auto rows = f.ListBox2->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? -1 : rows.first().row();
}

}  // namespace

class AddressesTest : public AppFixture {
protected:
    void Load(const std::string& Data)
    {
        Dialogs.ExpectFile(WriteFile("list.txt", Data));
        Form->Adrbtn->click();
    }
};

TEST_F(AddressesTest, LoadingSortsWithoutRegardToCaseAndKeepsEveryLine)
{
    using V = std::vector<std::string>;
    struct Case {
        const char* Name;
        std::string Data;
        V Want;
    } cases[] = {
        {"small b, capital A, empty line", "bob@b.test\r\nAnna@a.test\r\n\r\n", {"", "Anna@a.test", "bob@b.test"}},
        {"LF only", "c@x\nb@x\na@x\n", {"a@x", "b@x", "c@x"}},
        {"CR only", "c@x\rb@x\ra@x", {"a@x", "b@x", "c@x"}},
        {"mixed ends, last line without one", "z@x\r\ny@x\nx@x\rw@x", {"w@x", "x@x", "y@x", "z@x"}},
        {"mixed-case duplicates keep file order", "bob@x\nBOB@x\nBob@x\nalice@x\n", {"alice@x", "bob@x", "BOB@x", "Bob@x"}},
        {"Cyrillic folds too", "в@x\nБ@x\nа@x\n", {"а@x", "Б@x", "в@x"}},
        {"empty file", "", {}},
    };
    Create();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Load(c.Data);
        EXPECT_EQ(Entries(*Form), c.Want);
        EXPECT_EQ(Form->Label8->text().toStdString(), "Total " + std::to_string(c.Want.size()) + " addresses");
    }
    const TFileDialog& used = Dialogs.Shown.back().File;
    EXPECT_EQ(used.FilterIndex, 1);
    EXPECT_EQ(used.FileName, "");
    EXPECT_EQ(used.InitialDir, Tmainform::ProgramDir() + "/lists");
}

TEST_F(AddressesTest, SecondFileReplacesTheFirstAndAFailedReadChangesNothing)
{
    Create();
    Load("a@x\nb@x\n");
    Load("c@x\n");
    EXPECT_EQ(Entries(*Form), std::vector<std::string>{"c@x"});

    Dialogs.ExpectFile(Path("missing.txt"));
    Form->Adrbtn->click();
    EXPECT_EQ(Entries(*Form), std::vector<std::string>{"c@x"});
    ASSERT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 1u);
    EXPECT_NE(Dialogs.Texts(TDialogKind::Error)[0].find("missing.txt"), std::string::npos);

    Dialogs.ExpectFile(std::nullopt);
    Form->Adrbtn->click();
    EXPECT_EQ(Entries(*Form), std::vector<std::string>{"c@x"});
}

TEST_F(AddressesTest, InsertKeepsSpacesAndDuplicatesAndEmptiesTheField)
{
    Tmainform& f = Create();
    f.PageControl1->setCurrentWidget(f.TabSheet2);
    f.Edit7->setFocus();
    QTest::keyClicks(f.Edit7, "  b@x  ");
    QTest::keyClick(f.Edit7, Qt::Key_Return);  // the default button
    EXPECT_EQ(Entries(f), std::vector<std::string>{"  b@x  "});
    EXPECT_EQ(f.Edit7->text(), "");
    EXPECT_EQ(f.Label8->text(), "Total 1 addresses");

    f.Edit7->setText("A@x");
    f.BitBtn5->click();
    f.Edit7->setText("a@x");
    f.BitBtn5->click();
    EXPECT_EQ(Entries(f), (std::vector<std::string>{"  b@x  ", "A@x", "a@x"}));

    // Enter with the field empty adds nothing but rewrites the label.
    f.Label8->setText("stale");
    f.BitBtn5->click();
    EXPECT_EQ(f.Addresses->Count(), 3);
    EXPECT_EQ(f.Label8->text(), "Total 3 addresses");
}

TEST_F(AddressesTest, RemoveSelectsTheEntryThatMovesUp)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\nc@x\n");
    f.Label8->setText("stale");
    f.BitBtn6->click();  // nothing selected
    EXPECT_EQ(f.Addresses->Count(), 3);
    EXPECT_EQ(f.Label8->text(), "Total 3 addresses");

    Select(f, 1);
    f.BitBtn6->click();
    EXPECT_EQ(Entries(f), (std::vector<std::string>{"a@x", "c@x"}));
    EXPECT_EQ(Selected(f), 1);
    f.BitBtn6->click();
    EXPECT_EQ(Entries(f), std::vector<std::string>{"a@x"});
    EXPECT_EQ(Selected(f), -1) << "after removing the last entry nothing is selected";
    EXPECT_EQ(f.Label8->text(), "Total 1 addresses");
}

TEST_F(AddressesTest, ClearAsksFirst)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\n");
    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(f.Addresses->Count(), 2);
    Dialogs.ExpectConfirm(true);
    f.BitBtn7->click();
    EXPECT_EQ(f.Addresses->Count(), 0);
    EXPECT_EQ(f.Label8->text(), "Total 0 addresses");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), (std::vector<std::string>{"Are you sure?", "Are you sure?"}));
}

TEST_F(AddressesTest, SaveWritesSortedEntriesEachWithCrLf)
{
    Tmainform& f = Create();
    Load("b@x\n\nA@x");
    f.Edit7->setText(" c@x");
    f.BitBtn5->click();
    Dialogs.ExpectFile(Path("out.txt"));
    f.BitBtn2->click();
    EXPECT_EQ(ReadFile("out.txt"), "\r\n c@x\r\nA@x\r\nb@x\r\n");
    const TFileDialog& used = Dialogs.Shown.back().File;
    EXPECT_EQ(used.FileName, "");
    EXPECT_EQ(used.InitialDir, Tmainform::ProgramDir() + "/lists");
    EXPECT_EQ(used.DefaultExt, "txt");
}

TEST_F(AddressesTest, HintNamesTheSelectedIndex)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\nc@x\n");
    EXPECT_TRUE(f.ListBox2->toolTip().isEmpty());
    const QRect second = f.ListBox2->visualRect(f.Addresses->index(2));
    QTest::mouseClick(f.ListBox2->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_EQ(f.ListBox2->toolTip(), "This is number 2");
    QTest::keyClick(f.ListBox2, Qt::Key_Up);
    EXPECT_EQ(f.ListBox2->toolTip(), "This is number 1");
}
