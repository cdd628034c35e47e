#pragma once
// The about window: an elliptic window with the program's title, a contact address and a
// web address that opens in the browser when clicked.
#include <QDialog>
#include <QLabel>

class QPushButton;
class TUserDialogs;

// A label that reports clicks (the about window's addresses).
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* Event) override;
};

class TRaboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TRaboutForm(TUserDialogs& Dialogs, QWidget* Parent = nullptr);

    QLabel* Label3;        // title
    TClickLabel* Label1;   // contact address (clicking does nothing)
    TClickLabel* Label4;   // web address
    QPushButton* BitBtn1;  // OK

    // Shapes the window as the ellipse inside (10, 10) - (291, 169).
    void FormCreate();
    // Opens the web address label's own text in the browser; the window stays open.
    void Label4Click();

private:
    TUserDialogs& FDialogs;
};
