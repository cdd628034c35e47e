#pragma once
// The splash window shown while the program starts, and again as the progress window of
// every send: borderless, always on top, a title, one status line, a progress bar and a
// Stop button.
#include <QFrame>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class TUserDialogs;
class QWidget;

// The program's title label ("Quillcast V1.2", bold italic), shared by the splash and
// about windows.
QLabel* CreateTitleLabel(QWidget* Parent);

class TSplashform : public QFrame {
    Q_OBJECT
public:
    // Created disabled with an empty status line and the Stop button hidden.
    explicit TSplashform(TUserDialogs& Dialogs);

    QLabel* Label3;  // title
    QLabel* Label1;  // status line
    // Under the status line while a send runs: bytes of the current message, or the
    // recipients reached when the list takes several transactions. Hidden otherwise.
    QProgressBar* ProgressBar;
    QPushButton* Button1;  // Stop

    // Run by Stop before the window is put back: cancels the send in progress.
    std::function<void()> OnStop;
    // The window that a send disables; Stop enables it again at once.
    QWidget* MainWindow = nullptr;

    // Stop: OnStop, then always hide the button and this window and enable MainWindow.
    void Button1Click();
    // Shows the window and paints it before returning, for use while nothing else runs.
    void ShowAndPaint();

private:
    TUserDialogs& FDialogs;
};
