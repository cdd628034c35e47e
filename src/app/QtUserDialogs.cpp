#include "QtUserDialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QKeyEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTextBrowser>
#include <QUrl>

#include "DeliveryDialog.h"
#include "Main.h"
#include "base/Exception.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QWidget* DialogParent() { return QApplication::activeWindow(); }

// The progress window stays on top of everything while a send runs, and the boxes and
// prompts of that send (and a report during start-up, under the splash) must not end up
// hidden behind it: the send waits for them to be answered.
const Qt::WindowFlags AboveProgress = Qt::WindowStaysOnTopHint;

// "Text file|*.txt|All files|*.*" as Qt's name filters.
QStringList NameFilters(const std::string& Filter)
{
    const QStringList parts = Q(Filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        pattern.replace(QLatin1String("*.*"), QLatin1String("*"));
        filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters;
}

int Ask(QMessageBox::Icon Icon, const QString& Title, const std::string& Text, QMessageBox::StandardButtons Buttons)
{
    QMessageBox box(Icon, Title, Q(Text), Buttons, DialogParent());
    box.setWindowFlags(box.windowFlags() | AboveProgress);
    return box.exec();
}

// A reader window like any other: Escape puts it away.
class THelpViewer : public QTextBrowser {
protected:
    void keyPressEvent(QKeyEvent* Event) override
    {
        if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier)
            close();
        else
            QTextBrowser::keyPressEvent(Event);
    }
};

}  // namespace

TQtUserDialogs::~TQtUserDialogs() { delete FHelp; }

void TQtUserDialogs::ShowMessage(const std::string& Text)
{
    Ask(QMessageBox::NoIcon, QString::fromUtf8(ApplicationTitle), Text, QMessageBox::Ok);
}

void TQtUserDialogs::Information(const std::string& Text)
{
    Ask(QMessageBox::Information, QStringLiteral("Information"), Text, QMessageBox::Ok);
}

bool TQtUserDialogs::Confirm(const std::string& Text)
{
    return Ask(QMessageBox::Question, QStringLiteral("Confirm"), Text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

bool TQtUserDialogs::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    return RunInput(Caption, Prompt, Value, false);
}

bool TQtUserDialogs::InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    Value.clear();
    return RunInput(Caption, Prompt, Value, true);
}

bool TQtUserDialogs::RunInput(const std::string& Caption, const std::string& Prompt, std::string& Value, bool Secret)
{
    QInputDialog dialog(DialogParent());
    if (Secret) dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setWindowFlags(dialog.windowFlags() | AboveProgress);
    dialog.setWindowTitle(Q(Caption));
    dialog.setLabelText(Q(Prompt));
    dialog.setTextValue(Q(Value));
    if (dialog.exec() != QDialog::Accepted) return false;
    Value = dialog.textValue().toStdString();
    return true;
}

bool TQtUserDialogs::RunFileDialog(TFileDialog& Dialog, bool Save)
{
    QFileDialog dialog(DialogParent(), Q(Dialog.Title));
    dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList filters = NameFilters(Dialog.Filter);
    dialog.setNameFilters(filters);
    if (Dialog.FilterIndex >= 1 && Dialog.FilterIndex <= filters.size())
        dialog.selectNameFilter(filters[Dialog.FilterIndex - 1]);
    if (!Dialog.InitialDir.empty() && QFileInfo(Q(Dialog.InitialDir)).isDir())
        dialog.setDirectory(Q(Dialog.InitialDir));
    if (!Dialog.DefaultExt.empty()) dialog.setDefaultSuffix(Q(Dialog.DefaultExt));
    if (!Dialog.FileName.empty()) dialog.selectFile(Q(Dialog.FileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    Dialog.FileName = QDir::toNativeSeparators(dialog.selectedFiles().first()).toStdString();
    Dialog.FilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    if (Dialog.FilterIndex < 1) Dialog.FilterIndex = 1;
    return true;
}

bool TQtUserDialogs::OpenFile(TFileDialog& Dialog) { return RunFileDialog(Dialog, false); }
bool TQtUserDialogs::SaveFile(TFileDialog& Dialog) { return RunFileDialog(Dialog, true); }

void TQtUserDialogs::ShowError(const std::string& Text)
{
    Ask(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle), Text, QMessageBox::Ok);
}

void TQtUserDialogs::ShowHelp(const std::string& HelpFile)
{
    const QString path = Q(HelpFile);
    if (!QFileInfo(path).isFile()) throw EFOpenError(Format("Cannot open file %s", HelpFile.c_str()));
    if (!FHelp) {
        FHelp = new THelpViewer;
        FHelp->setAttribute(Qt::WA_DeleteOnClose);
        FHelp->setOpenExternalLinks(true);
        FHelp->resize(640, 520);
    }
    QUrl url = QUrl::fromLocalFile(path);
    url.setFragment(QStringLiteral("contents"));
    FHelp->setSource(url);
    FHelp->setWindowTitle(FHelp->documentTitle());  // each language's file names itself
    FHelp->show();
    FHelp->raise();
    FHelp->activateWindow();
}

QWidget* TQtUserDialogs::HelpViewer() const { return FHelp; }

void TQtUserDialogs::OpenUrl(const std::string& Url) { QDesktopServices::openUrl(QUrl::fromUserInput(Q(Url))); }

bool TQtUserDialogs::EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                                  const TConnectionTest& Test)
{
    TDeliveryDialog dialog(Texts, *this, DialogParent());
    dialog.setWindowFlags(dialog.windowFlags() | AboveProgress);
    dialog.SetValues(Settings, Password);
    dialog.SetTest(Test);
    if (dialog.exec() != QDialog::Accepted) return false;
    Settings = dialog.Settings();
    Password = dialog.Password();
    return true;
}

TResultsAnswer TQtUserDialogs::ShowResults(const TDialogTexts& Texts, const TResultRows& Rows)
{
    QDialog dialog(DialogParent());
    dialog.setWindowFlags(dialog.windowFlags() | AboveProgress);
    dialog.setWindowTitle(Q(Texts.Title));
    dialog.resize(560, 320);
    auto* layout = new QVBoxLayout(&dialog);
    auto* table = new QTableWidget(static_cast<int>(Rows.size()), 3, &dialog);
    QStringList headers;
    for (const std::string& h : Texts.Labels) headers << Q(h);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->horizontalHeader()->setStretchLastSection(true);
    for (int r = 0; r < static_cast<int>(Rows.size()); ++r)
        for (int c = 0; c < 3; ++c) table->setItem(r, c, new QTableWidgetItem(Q(Rows[r][c])));
    // Entries and outcomes whole on one line; the reply takes what is left.
    table->setWordWrap(false);
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(&dialog);
    TResultsAnswer answer = TResultsAnswer::Close;
    const TResultsAnswer answers[] = {TResultsAnswer::SaveReport, TResultsAnswer::KeepOnly, TResultsAnswer::Close};
    for (int i = 0; i < 3; ++i) {
        QPushButton* b = buttons->addButton(Q(Texts.Buttons.at(i)),
                                            i == 2 ? QDialogButtonBox::RejectRole : QDialogButtonBox::ActionRole);
        QObject::connect(b, &QPushButton::clicked, &dialog, [&answer, &dialog, a = answers[i]] {
            answer = a;
            dialog.done(0);
        });
    }
    layout->addWidget(buttons);
    dialog.exec();
    return answer;
}
