// Shows each window of the program on the current display and saves what the screen shows
// of it as PNG files: quillcast-screenshots OUTDIR en|ru. With --screen FILE it saves the
// whole screen instead (what another program shows). Run by scripts/screenshots.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "app/AddressListModel.h"
#include "app/Language.h"
#include "send/SendReport.h"
#include "app/Main.h"
#include "app/QtUserDialogs.h"
#include "app/Rabout.h"
#include "app/Splash.h"

namespace {

void Settle()
{
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QThread::msleep(10);
    }
}

bool Save(QWidget* Window, const QString& Path)
{
    Settle();
    const QRect r = Window->frameGeometry();
    const QPixmap shot = QApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    const bool ok = shot.save(Path, "PNG");
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(Path));
    return ok;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc == 3 && QLatin1String(argv[1]) == QLatin1String("--screen")) {
        const bool saved = QApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]), "PNG");
        std::printf("%s %s\n", saved ? "saved" : "FAILED", argv[2]);
        return saved ? 0 : 1;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR en|ru\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QString lang = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(dir);
    auto path = [&](const char* name) {
        return dir + QLatin1Char('/') + QLatin1String(name) + QLatin1Char('-') + lang + QStringLiteral(".png");
    };

    TQtUserDialogs dialogs;
    bool ok = true;
    TSplashform splash(dialogs);
    splash.ShowAndPaint();
    ok &= Save(&splash, path("splash"));

    Tmainform mainform(dialogs, &splash);
    splash.hide();
    if (lang == QLatin1String("ru")) {
        mainform.ComboBox1->setCurrentIndex(1);
        mainform.ComboBox1Change();
    }
    mainform.Edit1->setText(QStringLiteral("Quarterly newsletter"));
    mainform.Memo1->setPlainText(
        QStringLiteral("Dear readers,\n\nthis quarter brings a new release with faster delivery to long lists "
                       "and a help viewer of its own. Read on for the details.\n\nThe Quillcast team"));
    mainform.ListBox1->addItem(QStringLiteral("/home/anna/newsletter/summary.pdf"));
    mainform.ListBox1->addItem(QStringLiteral("/home/anna/newsletter/photo.jpg"));
    for (const char* a : {"anna@example.org", "Boris Ivanov <boris@example.net>", "clara@example.com",
                          "dmitri@example.org", "Eve <eve@example.com>"})
        mainform.Addresses->Add(a);
    mainform.numadr();
    mainform.Edit6->setText(QStringLiteral("smtp.example.org"));
    mainform.Edit4->setText(QStringLiteral("Anna Smith"));
    mainform.Edit5->setText(QStringLiteral("anna@example.org"));
    mainform.move(40, 40);
    mainform.show();
    const char* pages[] = {"message", "addresses", "options"};
    for (int i = 0; i < 3; ++i) {
        mainform.PageControl1->setCurrentIndex(i);
        ok &= Save(&mainform, path(pages[i]));
    }

    mainform.setEnabled(false);
    const TLanguage lg = lang == QLatin1String("ru") ? lgRussian : lgEnglish;
    splash.Label1->setText(QString::fromUtf8(LangText(ltBytesSent, lg)).arg(2048).arg(9000));
    splash.ProgressBar->setValue(22);
    splash.ProgressBar->show();
    splash.Button1->show();
    splash.show();
    splash.raise();
    ok &= Save(&splash, path("progress"));
    splash.hide();
    mainform.setEnabled(true);

    // The dialogs a send and the options page open: each is saved, then closed.
    const auto modal = [&](const char* Name) {
        QTimer::singleShot(300, [&ok, Path = path(Name)] {
            QWidget* box = QApplication::activeModalWidget();
            ok &= box && Save(box, Path);
            if (auto* d = qobject_cast<QDialog*>(box)) d->reject();
        });
    };
    mainform.Edit7->setText(QStringLiteral("frank@example.org"));
    mainform.BitBtn5->click();  // a change not saved: Open asks
    modal("question");
    mainform.Adrbtn->click();
    mainform.Delivery.AuthUser = "anna@example.org";  // the login fields in use
    modal("delivery");
    mainform.DeliveryBtn->click();
    TSendReport report;
    report.Rows() = {{"clara@example.com", "550 5.1.1 No such user", TSendOutcome::Refused, 550, 1},
                     {"Eve <eve@example.com>", "452 4.5.3 Try later", TSendOutcome::Deferred, 452, 1}};
    modal("results");
    mainform.ShowResults(report);

    TRaboutForm about(dialogs, &mainform);
    about.show();
    ok &= Save(&about, path("about"));
    about.hide();

    // The help viewer, with the help file as it is installed beside the program.
    std::string help = std::string(QUILLCAST_HELP_FILE);
    if (lg == lgRussian) help.insert(help.rfind('.'), "_ru");
    dialogs.ShowHelp(help);
    if (QWidget* viewer = dialogs.HelpViewer()) {
        viewer->move(20, 20);
        ok &= Save(viewer, path("help"));
    } else {
        std::printf("FAILED help viewer not shown\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
