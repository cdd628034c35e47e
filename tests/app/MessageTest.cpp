// The message page: the body file, clearing, attachments; and the popup menu's entries.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include "AppFixture.h"
#include "app/AddressListModel.h"

namespace {

std::vector<std::string> Attachments(const Tmainform& f)
{
    std::vector<std::string> items;
    for (int i = 0; i < f.ListBox1->count(); ++i) items.push_back(f.ListBox1->item(i)->text().toStdString());
    return items;
}

}  // namespace

class MessageTest : public AppFixture {};

TEST_F(MessageTest, BodyFilesReadAnyLineEndAndWriteCrLfWithNothingAfter)
{
    struct Case {
        const char* Name;
        std::string File;
        std::string Saved;
    } cases[] = {
        {"CR LF", "one\r\ntwo", "one\r\ntwo"},
        {"LF only", "one\ntwo\n", "one\r\ntwo\r\n"},
        {"CR only", "one\rtwo\r\rthree", "one\r\ntwo\r\n\r\nthree"},
        {"UTF-8 text", "Привет\nмир", "Привет\r\nмир"},
        {"empty", "", ""},
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
    const TFileDialog& open = Dialogs.Shown[0].File;
    EXPECT_EQ(open.FilterIndex, 1);
    EXPECT_EQ(open.InitialDir, Tmainform::ProgramDir() + "/message");
    const TFileDialog& save = Dialogs.Shown[1].File;
    EXPECT_EQ(save.FileName, "");
    EXPECT_EQ(save.InitialDir, Tmainform::ProgramDir() + "/message");
}

TEST_F(MessageTest, ClearAsksAndKeepsSubjectAndAttachments)
{
    Tmainform& f = Create();
    f.Edit1->setText("subject");
    f.Memo1->setPlainText("body");
    f.ListBox1->addItem("/tmp/a");
    Dialogs.ExpectConfirm(false);
    f.BitBtn8->click();
    EXPECT_EQ(f.Memo1->toPlainText(), "body");
    Dialogs.ExpectConfirm(true);
    f.BitBtn8->click();
    EXPECT_EQ(f.Memo1->toPlainText(), "");
    EXPECT_EQ(f.Edit1->text(), "subject");
    EXPECT_EQ(f.ListBox1->count(), 1);
}

TEST_F(MessageTest, AttachmentsAddTwiceRemoveSelectedAndFilterIndexStays)
{
    Tmainform& f = Create();
    const std::string file = WriteFile("report.pdf", "%PDF");
    Dialogs.ExpectFile(file);
    f.Button4->click();
    Dialogs.ExpectFile(file);
    f.Button4->click();
    Dialogs.ExpectFile(std::nullopt);
    f.Button4->click();
    EXPECT_EQ(Attachments(f), (std::vector<std::string>{file, file}));
    EXPECT_EQ(Dialogs.Shown[0].File.FilterIndex, 2);
    EXPECT_EQ(Dialogs.Shown[0].File.InitialDir, "") << "adding does not choose a folder";
    EXPECT_EQ(f.OpenDialog1.FilterIndex, 2);

    // Opening a list sets the index back to 1 and gives the folder that Add then starts in.
    Dialogs.ExpectFile(std::nullopt);
    f.Adrbtn->click();
    EXPECT_EQ(f.OpenDialog1.FilterIndex, 1);
    Dialogs.ExpectFile(std::nullopt);
    f.Button4->click();
    EXPECT_EQ(Dialogs.Shown.back().File.InitialDir, Tmainform::ProgramDir() + "/lists");

    f.Button5->click();  // nothing selected
    EXPECT_EQ(f.ListBox1->count(), 2);
    f.ListBox1->setCurrentRow(1);
    f.Button5->click();
    EXPECT_EQ(f.ListBox1->count(), 1);
    EXPECT_TRUE(f.ListBox1->selectedItems().isEmpty());
}

TEST_F(MessageTest, PopupEntriesRunWhatTheirCaptionsSay)
{
    Tmainform& f = Create();
    Dialogs.ExpectFile(WriteFile("list.txt", "b@x\na@x\n"));
    f.Openaddresses1->trigger();
    EXPECT_EQ(f.Addresses->Count(), 2);
    Dialogs.ExpectFile(WriteFile("msg.txt", "hello"));
    f.OpenMessage1->trigger();
    EXPECT_EQ(f.Memo1->toPlainText(), "hello");

    EXPECT_EQ(f.Saveaddresse1->text(), "Save addresses");
    Dialogs.ExpectFile(Path("saved-addresses.txt"));
    f.Saveaddresse1->trigger();
    EXPECT_EQ(ReadFile("saved-addresses.txt"), "a@x\r\nb@x\r\n");
    EXPECT_EQ(f.Savemessage1->text(), "Save message");
    Dialogs.ExpectFile(Path("saved-message.txt"));
    f.Savemessage1->trigger();
    EXPECT_EQ(ReadFile("saved-message.txt"), "hello");
}
