// Quillcast: sends one message to a whole list of recipients in one SMTP transaction.
#include <QApplication>
#include <QScreen>

#include "ErrorReport.h"
#include "Main.h"
#include "QtUserDialogs.h"
#include "Rabout.h"
#include "Splash.h"
#include "platform/ExceptionReport.h"

namespace {

TUserDialogs* ReportDialogs = nullptr;

// The last line of defence: an exception that escapes any event handler is reported and
// the program goes on, the way every handler of the window is guarded.
class TQuillcastApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* Receiver, QEvent* Event) override
    {
        try {
            return QApplication::notify(Receiver, Event);
        } catch (...) {
            if (ReportDialogs) ReportCurrentException(*ReportDialogs);
            return false;
        }
    }
};

}  // namespace

int main(int argc, char* argv[])
{
    TQuillcastApplication app(argc, argv);
    // Docks and task bars match the window with its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.veskor.quillcast"));
    TQtUserDialogs dialogs;
    ReportDialogs = &dialogs;
    // Timer ticks and socket notifications report what escapes them the same way.
    SetExceptionReporter([&dialogs](const std::exception& E) { dialogs.ShowError(ErrorReportText(E.what())); });

    auto* splash = new TSplashform(dialogs);
    splash->ShowAndPaint();
    QApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));

    int result = 0;
    {
        Tmainform mainform(dialogs, splash);
        if (const QScreen* screen = QApplication::primaryScreen())
            mainform.move(screen->availableGeometry().center() - mainform.rect().center());
        TRaboutForm about(dialogs, &mainform);
        mainform.RaboutForm = &about;
        splash->hide();
        mainform.show();
        result = QApplication::exec();
    }
    delete splash;
    SetExceptionReporter(nullptr);
    ReportDialogs = nullptr;
    return result;
}
