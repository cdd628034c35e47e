#include "Splash.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "ErrorReport.h"

QLabel* CreateTitleLabel(QWidget* Parent)
{
    auto* label = new QLabel(QStringLiteral("Quillcast V1.2"), Parent);
    label->setObjectName(QStringLiteral("Label3"));
    QFont title(QStringLiteral("Sans Serif"));
    title.setStyleHint(QFont::SansSerif);
    title.setPixelSize(24);
    title.setBold(true);
    title.setItalic(true);
    label->setFont(title);
    return label;
}

TSplashform::TSplashform(TUserDialogs& Dialogs) : QFrame(nullptr), FDialogs(Dialogs)
{
    setObjectName(QStringLiteral("Splashform"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setFixedSize(284, 150);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);

    Label3 = CreateTitleLabel(this);
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setGeometry(6, 14, 272, 36);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(5, 62, 273, 18);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(20, 84, 244, 18);
    ProgressBar->hide();

    Button1 = new QPushButton(QStringLiteral("Stop"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry((284 - 75) / 2, 110, 75, 25);
    Button1->hide();
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded(FDialogs, [this] { Button1Click(); }); });

    // Disabled means it takes no input, not that it looks greyed out.
    QPalette look = palette();
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = static_cast<QPalette::ColorRole>(role);
        look.setColor(QPalette::Disabled, r, look.color(QPalette::Active, r));
    }
    setPalette(look);
    Label3->setStyleSheet(QStringLiteral("color: #800000"));
    setEnabled(false);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TSplashform::Button1Click()
{
    // The window comes back at once; the cancelled send unwinds and reports afterwards.
    struct Restore {
        TSplashform* Self;
        ~Restore()
        {
            Self->Button1->hide();
            Self->hide();
            if (Self->MainWindow) Self->MainWindow->setEnabled(true);
        }
    } restore{this};
    if (OnStop) OnStop();
}

void TSplashform::ShowAndPaint()
{
    show();
    raise();
    repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}
