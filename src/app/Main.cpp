#include "Main.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTranslator>

#include "AddressListModel.h"
#include "ErrorReport.h"
#include "ProgramFolder.h"
#include "MessageFileText.h"
#include "Rabout.h"
#include "Splash.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "platform/SettingsStore.h"
#include "send/SendRequest.h"
#include "nntp/NntpClient.h"
#include "smtp/SmtpClient.h"

const char* const SettingsKey = "Software\\Veskor\\Quillcast V1.2\\1.2";
const char* const ApplicationTitle = "Quillcast";

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString Q(const char* s) { return QString::fromUtf8(s); }

template <class W>
W* Make(QWidget* Parent, const char* Name, int X, int Y, int Width, int Height)
{
    auto* w = new W(Parent);
    w->setObjectName(QLatin1String(Name));
    w->setGeometry(X, Y, Width, Height);
    return w;
}

QPushButton* MakeButton(QWidget* Parent, const char* Name, int X, int Y, int Width, int Height,
                        const char* Hint = nullptr)
{
    auto* b = Make<QPushButton>(Parent, Name, X, Y, Width, Height);
    b->setAutoDefault(true);
    if (Hint) b->setToolTip(Q(Hint));
    return b;
}

QLineEdit* MakeEdit(QWidget* Parent, const char* Name, int X, int Y, int Width, const char* Hint = nullptr)
{
    auto* e = Make<QLineEdit>(Parent, Name, X, Y, Width, 22);
    if (Hint) e->setToolTip(Q(Hint));
    return e;
}

QAction* MakeAction(QMenu* Menu, const char* Name)
{
    auto* a = Menu->addAction(QString());
    a->setObjectName(QLatin1String(Name));
    return a;
}

// Shift+Enter in a plain-text editor inserts U+2028, a line break on screen only; the
// message gets a real one.
class TSoftBreakFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(Event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier))
                key->setModifiers(key->modifiers() & ~Qt::ShiftModifier);
        }
        return false;
    }
};

}  // namespace

template <class Signal, class Sender>
void Tmainform::Bind(Sender* Control, Signal Sig, void (Tmainform::*Handler)())
{
    connect(Control, Sig, this, [this, Handler] {
        Guarded(FDialogs, [this, Handler] {
            try {
                (this->*Handler)();
            } catch (...) {
                // A send cut short by Terminate is not reported: the program is ending.
                if (!FTerminated) throw;
            }
        });
    });
}

Tmainform::Tmainform(TUserDialogs& Dialogs, TSplashform* Splash, QWidget* Parent)
    : QDialog(Parent), Splashform(Splash), FDialogs(Dialogs)
{
    setObjectName(QStringLiteral("mainform"));
    setWindowTitle(Q(ApplicationTitle));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setFixedSize(541, 331);

    CreateControls();
    CreateActions();
    CreateComponents();

    OpenDialog1.Filter = "Text file|*.txt|All files|*.*";
    SaveDialog1.Filter = "Text files|*.txt|All files|*.*";
    SaveDialog1.DefaultExt = "txt";

    // Captions as the window is laid out: the English column, the user ID label excepted.
    for (std::size_t i = 0; i < CaptionTableSize; ++i)
        SetCaption(CaptionTable[i].Control, CaptionTable[i].Text[lgEnglish]);
    Label4->setText(QStringLiteral("UserID"));
    PageControl1->setCurrentWidget(TabSheet2);

    Guarded(FDialogs, [this] { FormCreate(); });
}

Tmainform::~Tmainform()
{
    // The progress window outlives this one, and may already serve a newer window.
    if (Splashform && Splashform->MainWindow == this) {
        Splashform->MainWindow = nullptr;
        Splashform->OnStop = nullptr;
    }
}

void Tmainform::CreateControls()
{
    PageControl1 = Make<QTabWidget>(this, "PageControl1", 4, 4, 533, 286);
    PageControl1->setDocumentMode(true);
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet1, QString());
    PageControl1->addTab(TabSheet2, QString());
    PageControl1->addTab(TabSheet3, QString());

    Sendbtn = MakeButton(this, "Sendbtn", 8, 297, 120, 28, "Send your letter!");
    BitBtn1 = MakeButton(this, "BitBtn1", 253, 297, 90, 28, "Would you like to know more?");
    BitBtn10 = MakeButton(this, "BitBtn10", 348, 297, 90, 28);
    BitBtn4 = MakeButton(this, "BitBtn4", 443, 297, 90, 28);

    // Message page.
    QWidget* p = TabSheet1;
    Label5 = Make<QLabel>(p, "Label5", 8, 11, 54, 16);
    Edit1 = MakeEdit(p, "Edit1", 64, 8, 296, "Letter should have subject.");
    Memo1 = Make<QPlainTextEdit>(p, "Memo1", 8, 36, 352, 180);
    Memo1->setToolTip(QStringLiteral("Write your message here"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->installEventFilter(new TSoftBreakFilter(Memo1));
    // Tab moves on to the next control; a body rarely wants a tab character.
    Memo1->setTabChangesFocus(true);
    Openbtn = MakeButton(p, "Openbtn", 8, 224, 110, 26, "Load message from file");
    BitBtn3 = MakeButton(p, "BitBtn3", 129, 224, 110, 26, "Save message to file");
    BitBtn8 = MakeButton(p, "BitBtn8", 250, 224, 110, 26, "Clear message");
    Label10 = Make<QLabel>(p, "Label10", 372, 11, 150, 16);
    ListBox1 = Make<QListWidget>(p, "ListBox1", 372, 36, 148, 180);
    Button4 = MakeButton(p, "Button4", 372, 224, 72, 26, "Add attachment");
    Button5 = MakeButton(p, "Button5", 448, 224, 72, 26, "Remove attachment");

    // Addresses page.
    p = TabSheet2;
    Label8 = Make<QLabel>(p, "Label8", 8, 8, 250, 16);
    Addresses = new TAddressListModel(this);
    ListBox2 = Make<QListView>(p, "ListBox2", 8, 28, 250, 222);
    ListBox2->setUniformItemSizes(true);  // a million rows cost no more than the visible ones
    ListBox2->setModel(Addresses);
    ListBox2->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox2->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Label7 = Make<QLabel>(p, "Label7", 270, 8, 250, 16);
    Edit7 = MakeEdit(p, "Edit7", 270, 28, 250, "Type new address here");
    BitBtn5 = MakeButton(p, "BitBtn5", 270, 56, 123, 26);
    BitBtn5->setDefault(true);
    BitBtn6 = MakeButton(p, "BitBtn6", 397, 56, 123, 26);
    Adrbtn = MakeButton(p, "Adrbtn", 270, 88, 80, 26, "Find file with E-mail addresses");
    BitBtn2 = MakeButton(p, "BitBtn2", 355, 88, 80, 26, "Save file with E-mail addresses");
    BitBtn7 = MakeButton(p, "BitBtn7", 440, 88, 80, 26, "Clear mail-list");
    RadioGroup1 = Make<QGroupBox>(p, "RadioGroup1", 270, 122, 250, 128);
    RadioButton1 = Make<QRadioButton>(RadioGroup1, "RadioButton1", 12, 26, 228, 22);
    RadioButton2 = Make<QRadioButton>(RadioGroup1, "RadioButton2", 12, 58, 228, 22);
    RadioButton3 = Make<QRadioButton>(RadioGroup1, "RadioButton3", 12, 90, 228, 22);
    RadioButton3->setChecked(true);

    // Options page.
    p = TabSheet3;
    GroupBox1 = Make<QGroupBox>(p, "GroupBox1", 8, 6, 250, 170);
    Label1 = Make<QLabel>(GroupBox1, "Label1", 12, 29, 84, 16);
    Edit6 = MakeEdit(GroupBox1, "Edit6", 100, 26, 138);
    Label2 = Make<QLabel>(GroupBox1, "Label2", 12, 59, 84, 16);
    Edit2 = MakeEdit(GroupBox1, "Edit2", 100, 56, 60);
    Label4 = Make<QLabel>(GroupBox1, "Label4", 12, 89, 84, 16);
    Edit3 = MakeEdit(GroupBox1, "Edit3", 100, 86, 138, "Change it only\nif you have problems");
    BitBtn9 = MakeButton(GroupBox1, "BitBtn9", 100, 124, 90, 26);
    GroupBox2 = Make<QGroupBox>(p, "GroupBox2", 268, 6, 252, 110);
    Label3 = Make<QLabel>(GroupBox2, "Label3", 12, 29, 96, 16);
    Edit4 = MakeEdit(GroupBox2, "Edit4", 110, 26, 130);
    Label6 = Make<QLabel>(GroupBox2, "Label6", 12, 59, 96, 16);
    Edit5 = MakeEdit(GroupBox2, "Edit5", 110, 56, 130);
    DeliveryBtn = MakeButton(p, "DeliveryBtn", 268, 164, 252, 26, "Recipient limits, pauses, security and login");
    Label9 = Make<QLabel>(p, "Label9", 280, 133, 90, 16);
    ComboBox1 = Make<QComboBox>(p, "ComboBox1", 378, 129, 142, 24);
    ComboBox1->addItem(QString());
    ComboBox1->addItem(QString());
    ComboBox1->setToolTip(QStringLiteral("Choose language you prefer"));

    Bind(Sendbtn, &QPushButton::clicked, &Tmainform::SendbtnClick);
    Bind(DeliveryBtn, &QPushButton::clicked, &Tmainform::DeliveryBtnClick);
    Bind(BitBtn1, &QPushButton::clicked, &Tmainform::BitBtn1Click);
    Bind(BitBtn10, &QPushButton::clicked, &Tmainform::BitBtn10Click);
    connect(BitBtn4, &QPushButton::clicked, this, &QWidget::close);
    Bind(Openbtn, &QPushButton::clicked, &Tmainform::OpenbtnClick);
    Bind(BitBtn3, &QPushButton::clicked, &Tmainform::BitBtn3Click);
    Bind(BitBtn8, &QPushButton::clicked, &Tmainform::BitBtn8Click);
    Bind(Button4, &QPushButton::clicked, &Tmainform::Button4Click);
    Bind(Button5, &QPushButton::clicked, &Tmainform::Button5Click);
    Bind(Adrbtn, &QPushButton::clicked, &Tmainform::AdrbtnClick);
    Bind(BitBtn2, &QPushButton::clicked, &Tmainform::BitBtn2Click);
    Bind(BitBtn5, &QPushButton::clicked, &Tmainform::BitBtn5Click);
    Bind(BitBtn6, &QPushButton::clicked, &Tmainform::BitBtn6Click);
    Bind(BitBtn7, &QPushButton::clicked, &Tmainform::BitBtn7Click);
    Bind(BitBtn9, &QPushButton::clicked, &Tmainform::BitBtn9Click);
    Bind(ListBox2->selectionModel(), &QItemSelectionModel::currentChanged, &Tmainform::ListBox2Click);
    Bind(ListBox2, &QListView::clicked, &Tmainform::ListBox2Click);
    ListBox2->installEventFilter(this);  // Delete
    // Only a pick by the user is a change; setting the index from code is not.
    Bind(ComboBox1, &QComboBox::activated, &Tmainform::ComboBox1Change);
}

void Tmainform::CreateActions()
{
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Openaddresses1 = MakeAction(PopupMenu1, "Openaddresses1");
    OpenMessage1 = MakeAction(PopupMenu1, "OpenMessage1");
    Send1 = MakeAction(PopupMenu1, "Send1");
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N1"));
    Saveaddresse1 = MakeAction(PopupMenu1, "Saveaddresse1");
    Savemessage1 = MakeAction(PopupMenu1, "Savemessage1");
    PopupMenu1->addSeparator()->setObjectName(QStringLiteral("N2"));
    Terminate1 = MakeAction(PopupMenu1, "Terminate1");

    Bind(Openaddresses1, &QAction::triggered, &Tmainform::AdrbtnClick);
    Bind(OpenMessage1, &QAction::triggered, &Tmainform::OpenbtnClick);
    Bind(Send1, &QAction::triggered, &Tmainform::SendbtnClick);
    // Each save entry saves what its caption names.
    Bind(Saveaddresse1, &QAction::triggered, &Tmainform::BitBtn2Click);
    Bind(Savemessage1, &QAction::triggered, &Tmainform::BitBtn3Click);
    Bind(Terminate1, &QAction::triggered, &Tmainform::Terminate1Click);
}

void Tmainform::contextMenuEvent(QContextMenuEvent* Event)
{
    // Reaches the window from the pages, labels and page control, which have no menu of
    // their own; edit fields and lists keep theirs.
    PopupMenu1->exec(Event->globalPos());
}

TLanguage Tmainform::Language() const { return ComboBox1->currentIndex() == 0 ? lgEnglish : lgRussian; }

std::string Tmainform::ProgramDir() { return ProgramFolder(QCoreApplication::applicationDirPath().toStdString()); }
std::string Tmainform::AddressListDir() { return ProgramDir() + "/lists"; }
std::string Tmainform::MessageDir() { return ProgramDir() + "/message"; }

// ---- Start, close, window commands

void Tmainform::FormCreate()
{
    HelpFile = "quillcast.html";
    if (Splashform) Splashform->setEnabled(true);
    TSettingsStore reg;  // the key is released however this ends
    reg.OpenKey(SettingsKey, true);
    if (reg.ValueExists("Login"))
        Edit3->setText(Q(reg.ReadString("Login")));
    else
        BitBtn9Click();
    if (reg.ValueExists("Port"))
        Edit2->setText(Q(reg.ReadString("Port")));
    else
        BitBtn9Click();
    Edit6->setText(Q(reg.ReadString("Host")));
    Edit4->setText(Q(reg.ReadString("Name")));
    Edit5->setText(Q(reg.ReadString("Mail")));
    Delivery = ReadDeliverySettings(reg);
    if (reg.ReadString("Language") == Caption("ComboBox1.0", lgRussian)) {
        ComboBox1->setCurrentIndex(1);
        ComboBox1Change();
    } else {
        ComboBox1->setCurrentIndex(0);
    }
    reg.CloseKey();
    numadr();
    LoadDraft();
}

void Tmainform::FormCloseQuery(bool& CanClose) { CanClose = FDialogs.Confirm(LangText(ltEndProgram, Language())); }

void Tmainform::FormClose()
{
    TSettingsStore reg;
    reg.OpenKey(SettingsKey, true);
    reg.WriteString("Name", Edit4->text().toStdString());
    reg.WriteString("Language", ComboBox1->itemText(0).toStdString());
    reg.WriteString("Host", Edit6->text().toStdString());
    reg.WriteString("Port", Edit2->text().toStdString());
    reg.WriteString("Mail", Edit5->text().toStdString());
    reg.WriteString("Login", Edit3->text().toStdString());
    WriteDeliverySettings(reg, Delivery);
}

void Tmainform::closeEvent(QCloseEvent* Event)
{
    // A send pumps events while it waits; the window cannot go away underneath it.
    if (FSending || FTerminated) {
        Event->ignore();
        return;
    }
    bool CanClose = true;
    if (!Guarded(FDialogs, [&] { FormCloseQuery(CanClose); }) || !CanClose) {
        Event->ignore();
        return;
    }
    // Settings that cannot be written are reported, and the program still ends: keeping
    // the window open would leave the user no way out but Terminate.
    Guarded(FDialogs, [this] { FormClose(); });
    Guarded(FDialogs, [this] { SaveDraft(); });
    Event->accept();
    QCoreApplication::exit(0);
}

void Tmainform::reject() {}

bool Tmainform::eventFilter(QObject* Watched, QEvent* Event)
{
    // Delete in the address list does what "Remove address" does.
    if (Watched == ListBox2 && Event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(Event)->matches(QKeySequence::Delete)) {
        Guarded(FDialogs, [this] { BitBtn6Click(); });
        return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

void Tmainform::BitBtn9Click()
{
    Edit2->setText(QString::number(DefaultPortFor(Delivery.Security)));
    Edit3->setText(QString::fromUtf8(TSendRequest::DefaultUserID));
}

void Tmainform::BitBtn10Click()
{
    // The Russian help sits beside the English one under the same name plus "_ru".
    std::string file = HelpFile;
    if (Language() == lgRussian) file.insert(file.rfind('.'), "_ru");
    FDialogs.ShowHelp(ProgramDir() + "/" + file);
}

void Tmainform::BitBtn1Click()
{
    if (RaboutForm) RaboutForm->exec();
}

void Tmainform::Terminate1Click()
{
    FTerminated = true;
    // A send in progress (even one already stopped, waiting for its server) must not hold
    // the program: its connection is dropped without QUIT, so every wait ends now.
    if (FSending) {
        SmtpClient1->Cancel();
        SmtpClient1->TSockTransport::Disconnect();
    }
    QCoreApplication::exit(0);
}

// ---- Message page

std::string Tmainform::MemoText() const
{
    std::string text;
    for (QTextBlock b = Memo1->document()->begin(); b.isValid(); b = b.next()) {
        if (b != Memo1->document()->begin()) text += "\r\n";
        // A soft line break (pasted text may hold one) is a line break in the file.
        text += b.text().replace(QChar::LineSeparator, QStringLiteral("\r\n")).toStdString();
    }
    return text;
}

void Tmainform::OpenbtnClick()
{
    OpenDialog1.FilterIndex = 1;
    OpenDialog1.FileName.clear();
    OpenDialog1.InitialDir = MessageDir();
    if (!FDialogs.OpenFile(OpenDialog1)) return;
    // Every line end becomes a line break of the memo, whichever convention the file used.
    const std::string text = MessageFileText(ReadWholeFile(OpenDialog1.FileName));
    std::string joined;
    joined.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            joined += '\n';
        } else {
            joined += text[i];
        }
    }
    Memo1->setPlainText(Q(joined));
}

void Tmainform::BitBtn3Click()
{
    SaveDialog1.FileName.clear();
    SaveDialog1.InitialDir = MessageDir();
    if (FDialogs.SaveFile(SaveDialog1)) SaveFileAtomically(SaveDialog1.FileName, MemoText());
}

void Tmainform::BitBtn8Click()
{
    if (FDialogs.Confirm(LangText(ltAreYouSure, Language()))) Memo1->clear();
}

void Tmainform::Button4Click()
{
    OpenDialog1.FileName.clear();
    OpenDialog1.FilterIndex = 2;
    if (FDialogs.OpenFile(OpenDialog1)) ListBox1->addItem(Q(OpenDialog1.FileName));
}

void Tmainform::Button5Click()
{
    const auto selected = ListBox1->selectedItems();
    if (!selected.isEmpty()) delete ListBox1->takeItem(ListBox1->row(selected.first()));
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(-1);
}

// ---- Addresses page

void Tmainform::AdrbtnClick()
{
    if (FListModified && Addresses->Count() > 0 && !FDialogs.Confirm(LangText(ltReplaceList, Language()))) return;
    OpenDialog1.FilterIndex = 1;
    OpenDialog1.FileName.clear();
    OpenDialog1.InitialDir = AddressListDir();
    if (!FDialogs.OpenFile(OpenDialog1)) return;
    Addresses->LoadFromFile(OpenDialog1.FileName);
    FListModified = false;
    numadr();
}

void Tmainform::BitBtn2Click()
{
    SaveDialog1.FileName.clear();
    SaveDialog1.InitialDir = AddressListDir();
    if (!FDialogs.SaveFile(SaveDialog1)) return;
    Addresses->SaveToFile(SaveDialog1.FileName);
    FListModified = false;
}

void Tmainform::BitBtn5Click()
{
    if (!Edit7->text().isEmpty()) {
        Addresses->Add(Edit7->text().toStdString());
        FListModified = true;
    }
    Edit7->clear();
    numadr();
}

void Tmainform::BitBtn6Click()
{
    const QModelIndexList selected = ListBox2->selectionModel()->selectedIndexes();
    if (!selected.isEmpty()) {
        const int index = selected.first().row();
        Addresses->Delete(index);
        FListModified = true;
        // The entry that moved into the removed one's place becomes the selection.
        if (index < Addresses->Count())
            ListBox2->selectionModel()->setCurrentIndex(Addresses->index(index), QItemSelectionModel::ClearAndSelect);
        else
            ListBox2->selectionModel()->clear();
    }
    numadr();
}

void Tmainform::BitBtn7Click()
{
    if (FDialogs.Confirm(LangText(ltAreYouSure, Language()))) {
        Addresses->Clear();
        FListModified = false;  // nothing left to lose
    }
    numadr();
}

void Tmainform::ListBox2Click()
{
    const QModelIndexList selected = ListBox2->selectionModel()->selectedIndexes();
    const int index = selected.isEmpty() ? -1 : selected.first().row();
    ListBox2->setToolTip(QStringLiteral("This is number %1").arg(index));
}

void Tmainform::numadr() { Label8->setText(Q(AddressCountText(Addresses->Count(), Language()))); }

// ---- Language

void Tmainform::ComboBox1Change()
{
    numadr();
    ApplyLanguage();
}

void Tmainform::ApplyLanguage()
{
    const TLanguage lang = Language();
    for (std::size_t i = 0; i < CaptionTableSize; ++i) SetCaption(CaptionTable[i].Control, CaptionTable[i].Text[lang]);
    const QSignalBlocker block(ComboBox1);
    ComboBox1->setCurrentIndex(lang == lgEnglish ? 0 : 1);
    if (Splashform) Splashform->Button1->setText(Q(LangText(ltStop, lang)));
    ApplyQtTranslation(lang);
}

void Tmainform::ApplyQtTranslation(TLanguage Lang)
{
    if (FQtTranslator) {
        QCoreApplication::removeTranslator(FQtTranslator.get());
        FQtTranslator.reset();
    }
    if (Lang == lgEnglish) return;
    auto translator = std::make_unique<QTranslator>();
    // Without Debian's translations installed, Qt's own texts simply stay English.
    if (translator->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        FQtTranslator = std::move(translator);
    }
}

// ---- Draft

std::string Tmainform::DraftFileName()
{
    const QFileInfo settings(Q(TSettingsStore::FileNameFor(SettingsKey)));
    return (settings.path() + QLatin1Char('/') + settings.completeBaseName() + QStringLiteral("-draft.json"))
        .toStdString();
}

void Tmainform::SaveDraft()
{
    QJsonArray attachments;
    for (int i = 0; i < ListBox1->count(); ++i) attachments.append(ListBox1->item(i)->text());
    const QJsonObject draft{
        {QStringLiteral("subject"), Edit1->text()},
        // Raw, so soft line breaks and no-break spaces come back as they were typed.
        {QStringLiteral("body"), Memo1->document()->toRawText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'))},
        {QStringLiteral("attachments"), attachments},
        {QStringLiteral("addresses"), Q(Addresses->Items().Text())},
        {QStringLiteral("listModified"), FListModified},
        {QStringLiteral("mode"), RadioButton1->isChecked()   ? 0
                                 : RadioButton2->isChecked() ? 1
                                                             : 2},
    };
    SaveFileAtomically(DraftFileName(), QJsonDocument(draft).toJson(QJsonDocument::Compact).toStdString());
}

void Tmainform::LoadDraft()
{
    std::string data;
    try {
        data = ReadWholeFile(DraftFileName());
    } catch (const Exception&) {
        return;  // none yet, or unreadable: the window starts empty as it always did
    }
    const QJsonObject draft = QJsonDocument::fromJson(QByteArray::fromStdString(data)).object();
    if (draft.isEmpty()) return;
    Edit1->setText(draft.value(QStringLiteral("subject")).toString());
    Memo1->setPlainText(draft.value(QStringLiteral("body")).toString());
    ListBox1->clear();
    for (const QJsonValue& file : draft.value(QStringLiteral("attachments")).toArray())
        ListBox1->addItem(file.toString());
    Addresses->SetText(draft.value(QStringLiteral("addresses")).toString().toStdString());
    FListModified = draft.value(QStringLiteral("listModified")).toBool();
    QRadioButton* const modes[] = {RadioButton1, RadioButton2, RadioButton3};
    modes[std::clamp(draft.value(QStringLiteral("mode")).toInt(2), 0, 2)]->setChecked(true);
    numadr();
}

void Tmainform::SetCaption(const char* Control, const char* Text)
{
    const QString name = QLatin1String(Control);
    const QString text = Q(Text);
    if (name.startsWith(QLatin1String("ComboBox1."))) {
        ComboBox1->setItemText(name.mid(10).toInt(), text);
    } else if (auto* page = findChild<QWidget*>(name); page && PageControl1->indexOf(page) >= 0) {
        PageControl1->setTabText(PageControl1->indexOf(page), text);
    } else if (auto* button = findChild<QAbstractButton*>(name)) {
        button->setText(text);
    } else if (auto* label = findChild<QLabel*>(name)) {
        label->setText(text);
    } else if (auto* group = findChild<QGroupBox*>(name)) {
        group->setTitle(text);
    } else if (auto* action = findChild<QAction*>(name)) {
        action->setText(text);
    }
}
