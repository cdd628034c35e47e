// The message page: the body file, clearing, attachments; and the popup menu's entries.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include "AppFixture.h"

using V = std::vector<std::string>;

class MessageTest : public AppFixture {
protected:
    V Attachments() const
    {
        V items;
        for (int i = 0; i < Form->ListBox1->count(); ++i) items.push_back(Form->ListBox1->item(i)->text().toStdString());
        return items;
    }
};

TEST_F(MessageTest, BodyFilesReadAnyLineEndAndWriteCrLfWithNothingAfter)
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
    const TFileDialog& save = Dialogs.Shown[1].File;
    EXPECT_EQ(std::tie(open.FilterIndex, open.InitialDir), std::make_tuple(1, Tmainform::ProgramDir() + "/message"));
    EXPECT_EQ(std::tie(save.FileName, save.InitialDir), std::make_tuple(std::string(), open.InitialDir));
}

TEST_F(MessageTest, ClearAndAttachments)
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

TEST_F(MessageTest, PopupEntriesRunWhatTheirCaptionsSay)
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
