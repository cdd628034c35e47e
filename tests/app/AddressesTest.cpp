// The recipient list page: loading, ordering, insert, remove, clear, count and hint.
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QTest>

#include "AppFixture.h"

using V = std::vector<std::string>;

class AddressesTest : public AppFixture {
protected:
    void Select(int Row)
    {
        Form->ListBox2->selectionModel()->setCurrentIndex(Form->Addresses->index(Row),
                                                          QItemSelectionModel::ClearAndSelect);
    }
    int Selected() const
    {
        const auto rows = Form->ListBox2->selectionModel()->selectedIndexes();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
};

TEST_F(AddressesTest, EachFileReplacesTheListSortedWithoutRegardToCase)
{
    const struct Case {
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
        Load(c.Data);  // over the previous case's list
        EXPECT_EQ(Entries(), c.Want);
        EXPECT_EQ(Form->Label8->text().toStdString(), "Total " + std::to_string(c.Want.size()) + " addresses");
    }
    const TFileDialog& used = Dialogs.Shown.back().File;
    EXPECT_EQ(std::tie(used.FilterIndex, used.FileName, used.InitialDir),
              std::make_tuple(1, std::string(), Tmainform::ProgramDir() + "/lists"));

    // A file that cannot be read, and Cancel, leave the list as it was.
    Load("c@x\n");
    Dialogs.ExpectFile(Path("missing.txt"));
    Form->Adrbtn->click();
    Dialogs.ExpectFile(std::nullopt);
    Form->Adrbtn->click();
    EXPECT_EQ(Entries(), V{"c@x"});
    ASSERT_EQ(Dialogs.Texts(TDialogKind::Error).size(), 1u);
    EXPECT_NE(Dialogs.Texts(TDialogKind::Error)[0].find("missing.txt"), std::string::npos);
}

TEST_F(AddressesTest, InsertRemoveAndClear)
{
    Tmainform& f = Create();
    f.Edit7->setFocus();
    QTest::keyClicks(f.Edit7, "  b@x  ");
    QTest::keyClick(f.Edit7, Qt::Key_Return);  // the default button inserts
    EXPECT_EQ(Entries(), V{"  b@x  "});
    EXPECT_EQ(f.Edit7->text(), "");
    EXPECT_EQ(f.Label8->text(), "Total 1 addresses");
    for (const char* typed : {"A@x", "a@x", "c@x"}) {
        f.Edit7->setText(typed);
        f.BitBtn5->click();
    }
    EXPECT_EQ(Entries(), (V{"  b@x  ", "A@x", "a@x", "c@x"}));
    // Insert with the field empty, and Remove with nothing selected, only rewrite the label.
    for (QPushButton* button : {f.BitBtn5, f.BitBtn6}) {
        f.Label8->setText("stale");
        button->click();
        EXPECT_EQ(f.Label8->text(), "Total 4 addresses");
    }

    Select(2);
    f.BitBtn6->click();
    EXPECT_EQ(Entries(), (V{"  b@x  ", "A@x", "c@x"}));
    EXPECT_EQ(Selected(), 2) << "the entry that moved up is selected";
    f.BitBtn6->click();
    EXPECT_EQ(Selected(), -1) << "after removing the last entry nothing is selected";
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");

    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(f.Addresses->Count(), 2);
    Dialogs.ExpectConfirm(true);
    f.BitBtn7->click();
    EXPECT_EQ(f.Label8->text(), "Total 0 addresses");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm), (V{"Are you sure?", "Are you sure?"}));
}

TEST_F(AddressesTest, HintNamesTheSelectedIndex)
{
    Tmainform& f = Create();
    Load("a@x\nb@x\nc@x\n");
    EXPECT_TRUE(f.ListBox2->toolTip().isEmpty());
    const QRect third = f.ListBox2->visualRect(f.Addresses->index(2));
    QTest::mouseClick(f.ListBox2->viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(f.ListBox2->toolTip(), "This is number 2");
    QTest::keyClick(f.ListBox2, Qt::Key_Up);
    EXPECT_EQ(f.ListBox2->toolTip(), "This is number 1");
}
