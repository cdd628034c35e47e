// The recipient list page (loading, ordering, insert, remove, clear, count and hint) and the
// message page (the body file, clearing, attachments), with the popup menu's entries.
#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>

#include "AppFixture.h"

using V = std::vector<std::string>;

class PagesTest : public AppFixture {
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
    V Attachments() const
    {
        V items;
        for (int i = 0; i < Form->ListBox1->count(); ++i) items.push_back(Form->ListBox1->item(i)->text().toStdString());
        return items;
    }
};

TEST_F(PagesTest, EachFileReplacesTheListSortedWithoutRegardToCase)
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

TEST_F(PagesTest, InsertRemoveAndClear)
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
    f.ListBox2->setFocus();
    QTest::keyClick(f.ListBox2, Qt::Key_Delete);  // as Remove address
    EXPECT_EQ(Selected(), -1) << "after removing the last entry nothing is selected";
    EXPECT_EQ(f.Label8->text(), "Total 2 addresses");

    Dialogs.ExpectConfirm(false);  // Open over changes not saved asks first (a loaded list does not)
    f.Adrbtn->click();
    Dialogs.ExpectConfirm(false);
    f.BitBtn7->click();
    EXPECT_EQ(f.Addresses->Count(), 2);
    Dialogs.ExpectConfirm(true);
    f.BitBtn7->click();
    EXPECT_EQ(f.Label8->text(), "Total 0 addresses");
    EXPECT_EQ(Dialogs.Texts(TDialogKind::Confirm),
              (V{"The address list has unsaved changes. Replace it?", "Are you sure?", "Are you sure?"}));
}

TEST_F(PagesTest, HintNamesTheSelectedIndex)
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

TEST_F(PagesTest, BodyFilesReadAnyLineEndAndWriteCrLfWithNothingAfter)
{
    const struct Case {
        const char* Name;
        std::string File;
        std::string Saved;
    } cases[] = {
        {"CR LF", "one\r\ntwo", "one\r\ntwo"},
        {"LF only", "one\ntwo\n", "one\r\ntwo\r\n"},
        {"CR only", "one\rtwo\r\rthree", "one\r\ntwo\r\n\r\nthree"},
        {"UTF-8 text", "Привет\nмир", "Привет\r\nмир"},
        {"empty", "", ""},
        {"byte-order mark", "\xEF\xBB\xBFone\r\ntwo", "one\r\ntwo"},
        {"Windows-1251", "\xCF\xF0\xE8\xE2\xE5\xF2\r\n\xEC\xE8\xF0", "Привет\r\nмир"},
    };
    Tmainform& f = Create();
    f.Edit1->setText("subject");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Dialogs.ExpectFile(WriteFile("in.txt", c.File));
        f.Openbtn->click();
        Dialogs.ExpectFile(Path("out.txt"));
        f.BitBtn3->click();
        EXPECT_EQ(ReadFile("out.txt"), c.Saved);
    }
    EXPECT_EQ(f.Edit1->text(), "subject") << "opening a body leaves the subject alone";
    // Shift+Enter breaks the line for the file and for the message alike.
    f.Memo1->setPlainText("one");
    f.Memo1->moveCursor(QTextCursor::End);
    QTest::keyClick(f.Memo1, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(f.Memo1, "two");
    EXPECT_EQ(f.DisplayedLines(), V({"one", "two"}));
    Dialogs.ExpectFile(Path("out.txt"));
    f.BitBtn3->click();
    EXPECT_EQ(ReadFile("out.txt"), "one\r\ntwo");
    const TFileDialog& open = Dialogs.Shown[0].File;
    const TFileDialog& save = Dialogs.Shown[1].File;
    EXPECT_EQ(std::tie(open.FilterIndex, open.InitialDir), std::make_tuple(1, Tmainform::ProgramDir() + "/message"));
    EXPECT_EQ(std::tie(save.FileName, save.InitialDir), std::make_tuple(std::string(), open.InitialDir));
}

TEST_F(PagesTest, ClearAndAttachments)
{
    Tmainform& f = Create();
    const std::string file = WriteFile("report.pdf", "%PDF");
    for (const auto& answer : {std::optional(file), std::optional(file), std::optional<std::string>()}) {
        Dialogs.ExpectFile(answer);
        f.Button4->click();
    }
    EXPECT_EQ(Attachments(), (V{file, file}));
    EXPECT_EQ(Dialogs.Shown[0].File.FilterIndex, 2);
    EXPECT_EQ(Dialogs.Shown[0].File.InitialDir, "") << "adding does not choose a folder";
    EXPECT_EQ(f.OpenDialog1.FilterIndex, 2);
    // Opening a message or a list sets the index back to 1 and gives the folder Add starts in.
    for (const auto& [button, folder] : {std::pair{f.Openbtn, "/message"}, std::pair{f.Adrbtn, "/lists"}}) {
        Dialogs.ExpectFile(std::nullopt);
        button->click();
        EXPECT_EQ(f.OpenDialog1.FilterIndex, 1) << folder;
        Dialogs.ExpectFile(std::nullopt);
        f.Button4->click();
        EXPECT_EQ(Dialogs.Shown.back().File.InitialDir, Tmainform::ProgramDir() + folder);
    }

    f.Edit1->setText("subject");
    f.Memo1->setPlainText("body");
    f.Memo1->setFocus();
    QTest::keyClick(f.Memo1, Qt::Key_Tab);  // leaves the body, typing nothing into it
    EXPECT_FALSE(f.Memo1->hasFocus());
    Dialogs.ExpectConfirm(false);
    f.BitBtn8->click();
    EXPECT_EQ(f.Memo1->toPlainText(), "body");
    Dialogs.ExpectConfirm(true);
    f.BitBtn8->click();
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_EQ(f.Edit1->text(), "subject");
    EXPECT_EQ(Attachments().size(), 2u) << "clearing the body keeps the attachments";

    f.Button5->click();  // nothing selected
    EXPECT_EQ(Attachments().size(), 2u);
    f.ListBox1->setCurrentRow(1);
    f.Button5->click();
    EXPECT_EQ(Attachments().size(), 1u);
    EXPECT_TRUE(f.ListBox1->selectedItems().isEmpty());
}

TEST_F(PagesTest, PopupEntriesRunWhatTheirCaptionsSay)
{
    Tmainform& f = Create();
    Dialogs.ExpectFile(WriteFile("list.txt", "b@x\n\nA@x"));
    f.Openaddresses1->trigger();
    EXPECT_EQ(f.Addresses->Count(), 3);
    Dialogs.ExpectFile(WriteFile("msg.txt", "hello"));
    f.OpenMessage1->trigger();
    EXPECT_EQ(f.Memo1->toPlainText(), "hello");

    EXPECT_EQ(f.Saveaddresse1->text(), "Save addresses");
    Dialogs.ExpectFile(Path("saved-addresses.txt"));
    f.Saveaddresse1->trigger();
    // In list order, every entry (the empty one and the last included) followed by CR LF.
    EXPECT_EQ(ReadFile("saved-addresses.txt"), "\r\nA@x\r\nb@x\r\n");
    const TFileDialog& used = Dialogs.Shown.back().File;
    EXPECT_EQ(std::tie(used.FileName, used.InitialDir, used.DefaultExt),
              std::make_tuple(std::string(), Tmainform::ProgramDir() + "/lists", std::string("txt")));

    EXPECT_EQ(f.Savemessage1->text(), "Save message");
    Dialogs.ExpectFile(Path("saved-message.txt"));
    f.Savemessage1->trigger();
    EXPECT_EQ(ReadFile("saved-message.txt"), "hello");
}
