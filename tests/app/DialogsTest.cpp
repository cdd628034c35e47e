// The error report's wording, and the Qt dialogs themselves.
#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/ErrorReport.h"
#include "app/QtUserDialogs.h"
#include "support/TempDir.h"

TEST(ErrorReportTest, FullStopUnlessTheMessageEndsInOneOrSomethingBefore)
{
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"Incomplete Header", "Incomplete Header."},
        {"Connection closed.", "Connection closed."}, {"Message delivery failure!", "Message delivery failure!"},
        {"Ends in a blank ", "Ends in a blank "}, {"Invalid data type for 'Host'", "Invalid data type for 'Host'"},
        {"Ошибка", "Ошибка."}, {"", ""},
    };
    // clang-format on
    for (const auto& [message, shown] : cases) EXPECT_EQ(ErrorReportText(message), shown) << message;
}

// A send waits for its boxes and prompts to be answered, so none may open underneath the
// progress window, which stays on top.
TEST(QtDialogsTest, BoxesAndPromptsOpenAboveTheProgressWindow)
{
    // A window test that closed or ended the program leaves every later event loop
    // quitting at once; the application's own loop clears that as it ends.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    TQtUserDialogs dialogs;
    std::vector<std::string> shown;
    QTimer answer;  // answers each box as it comes up
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!box) return;
        shown.push_back(box->windowTitle().toStdString());
        EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint) << shown.back();
        if (auto* input = qobject_cast<QInputDialog*>(box)) {
            // A password prompt never shows what is typed.
            shown.back() += ": " + input->labelText().toStdString() +
                            (input->textEchoMode() == QLineEdit::Password ? " (hidden)" : "");
            input->setTextValue("typed");
            input->accept();
        } else {
            box->done(QMessageBox::Yes);  // what a click on Yes (or OK) ends the box with
        }
    });
    answer.start(5);
    // The message boxes share one maker: the error report and a question stand for them all.
    dialogs.ShowError("Incomplete Header.");
    EXPECT_TRUE(dialogs.Confirm("End the program?"));
    // The prompts share one maker too: the password prompt stands for them.
    std::string password;
    EXPECT_TRUE(dialogs.InputPassword("Password", "Password for anna on mx.test:", password) && password == "typed");
    answer.stop();
    EXPECT_EQ(shown,
              (std::vector<std::string>{"Quillcast", "Confirm", "Password: Password for anna on mx.test: (hidden)"}));
    TTempDir dir;  // and the help viewer, which Escape puts away
    dialogs.ShowHelp(dir.Write("help.html", "<h2><a name=\"contents\"></a>Contents</h2>"));
    ASSERT_TRUE(dialogs.HelpViewer() && dialogs.HelpViewer()->isVisible());
    QTest::keyClick(dialogs.HelpViewer(), Qt::Key_Escape);
    EXPECT_FALSE(dialogs.HelpViewer() && dialogs.HelpViewer()->isVisible());
}
