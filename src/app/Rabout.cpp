#include "Rabout.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegion>
#include <QScreen>

#include "ErrorReport.h"
#include "Splash.h"
#include "UserDialogs.h"

void TClickLabel::mouseReleaseEvent(QMouseEvent* Event)
{
    QLabel::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint())) emit clicked();
}

namespace {

TClickLabel* MakeLink(QWidget* Parent, const char* Name, const QString& Text, int Y)
{
    auto* label = new TClickLabel(Text, Parent);
    label->setObjectName(QLatin1String(Name));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(40, Y, 220, 18);
    label->setCursor(Qt::PointingHandCursor);
    QPalette blue = label->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(blue);
    return label;
}

}  // namespace

TRaboutForm::TRaboutForm(TUserDialogs& Dialogs, QWidget* Parent) : QDialog(Parent), FDialogs(Dialogs)
{
    setObjectName(QStringLiteral("RaboutForm"));
    setWindowTitle(QStringLiteral("About"));
    // The ellipse cuts away the corners where a title bar would be; the window has none.
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(300, 174);
    QPalette background = palette();
    background.setColor(QPalette::Window, QColor(0xF0, 0xFB, 0xFF));
    setPalette(background);
    setAutoFillBackground(true);

    Label3 = CreateTitleLabel(this);
    QPalette maroon = Label3->palette();
    maroon.setColor(QPalette::WindowText, QColor(0x80, 0, 0));
    Label3->setPalette(maroon);
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setGeometry(20, 28, 260, 34);

    Label1 = MakeLink(this, "Label1", QStringLiteral("quillcast@veskor.example"), 72);
    Label4 = MakeLink(this, "Label4", QStringLiteral("https://veskor.example/quillcast"), 94);
    connect(Label4, &TClickLabel::clicked, this, [this] { Guarded(FDialogs, [this] { Label4Click(); }); });

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry((300 - 75) / 2, 122, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

void TRaboutForm::FormCreate()
{
    // QRegion takes the bounding rectangle as origin and size.
    setMask(QRegion(10, 10, 291 - 10, 169 - 10, QRegion::Ellipse));
}

void TRaboutForm::Label4Click() { FDialogs.OpenUrl(Label4->text().toStdString()); }
