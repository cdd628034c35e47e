#pragma once
// The main window: the message, addresses and options pages, the settings it loads at
// creation and writes back at close, the interface language, and the send driver.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CredentialStore.h"
#include "Language.h"
#include "UserDialogs.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTranslator;
class TAddressListModel;
class TRaboutForm;
class TNntpClient;
class TSendReport;
class TSendRun;
class TSmtpClient;
class TSplashform;

// The settings key and the program's own texts.
extern const char* const SettingsKey;       // "Software\Veskor\Quillcast V1.2\1.2"
extern const char* const ApplicationTitle;  // "Quillcast"

class Tmainform : public QDialog {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate (settings, language, count label).
    Tmainform(TUserDialogs& Dialogs, TSplashform* Splash, QWidget* Parent = nullptr);
    ~Tmainform() override;

    TSplashform* Splashform;
    TRaboutForm* RaboutForm = nullptr;  // set once the about window exists

    // Page control and the buttons below it.
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* TabSheet3;
    QPushButton* Sendbtn;
    QPushButton* BitBtn1;   // About
    QPushButton* BitBtn10;  // Help
    QPushButton* BitBtn4;   // Close
    // Message page.
    QLabel* Label5;
    QLineEdit* Edit1;       // subject
    QPlainTextEdit* Memo1;  // body
    QPushButton* Openbtn;
    QPushButton* BitBtn3;  // save message
    QPushButton* BitBtn8;  // clear message
    QLabel* Label10;
    QListWidget* ListBox1;  // attachments
    QPushButton* Button4;   // add attachment
    QPushButton* Button5;   // remove attachment
    // Addresses page.
    QListView* ListBox2;  // recipients
    TAddressListModel* Addresses;
    QLabel* Label8;  // address count
    QLabel* Label7;
    QLineEdit* Edit7;      // new address
    QPushButton* BitBtn5;  // insert (default button)
    QPushButton* BitBtn6;  // remove
    QPushButton* Adrbtn;   // open list
    QPushButton* BitBtn2;  // save list
    QPushButton* BitBtn7;  // clear list
    QGroupBox* RadioGroup1;
    QRadioButton* RadioButton1;  // To
    QRadioButton* RadioButton2;  // CC
    QRadioButton* RadioButton3;  // BCC (start-up choice)
    // Options page.
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLineEdit* Edit6;  // host
    QLabel* Label2;
    QLineEdit* Edit2;  // port
    QLabel* Label4;
    QLineEdit* Edit3;          // user ID
    QPushButton* BitBtn9;      // reset
    QPushButton* DeliveryBtn;  // "Connection and delivery…"
    QGroupBox* GroupBox2;
    QLabel* Label3;
    QLineEdit* Edit4;  // sender's name
    QLabel* Label6;
    QLineEdit* Edit5;  // sender's address
    QLabel* Label9;
    QComboBox* ComboBox1;  // language
    // Popup menu of the window and its page control.
    QMenu* PopupMenu1;
    QAction* Openaddresses1;
    QAction* OpenMessage1;
    QAction* Send1;
    QAction* Saveaddresse1;
    QAction* Savemessage1;
    QAction* Terminate1;

    // The mail client that Send drives, set up as the window creates it: port 25, time-out
    // 5000 ms, user ID "TmpStr", MIME attachments, plain text.
    std::unique_ptr<TSmtpClient> SmtpClient1;
    // A news client the window carries but never drives: port 119, mixed cache mode.
    std::unique_ptr<TNntpClient> NntpClient1;

    // Recipients per transaction, pause and refusal handling, security, certificate checks
    // and login; kept in the settings file (DeliverySettings.h), edited through DeliveryBtn.
    TDeliverySettings Delivery;
    // Where a remembered password is kept: the desktop's keyring.
    std::unique_ptr<TCredentialStore> Credentials;
    // "Test connection": connects with Client as a send of Request would, negotiates and
    // logs in, and returns what the server offers, one line each, without sending; raises
    // what such a send raises. While it is not set the button is disabled.
    std::function<std::vector<std::string>(TSmtpClient& Client, const TSendRequest& Request)> ProbeServer;

    TFileDialog OpenDialog1;
    TFileDialog SaveDialog1;
    std::string HelpFile;

    // The interface language by the selector: index 0 English, anything else Russian.
    TLanguage Language() const;
    // Where the help file and the "lists" and "message" folders are (see ProgramFolder.h).
    static std::string ProgramDir();
    static std::string AddressListDir();
    static std::string MessageDir();

    void FormCreate();
    void FormCloseQuery(bool& CanClose);
    void FormClose();
    // The draft: subject, body, attachments, address list and To/CC/Bcc choice, kept
    // beside the settings file from one run to the next. SaveDraft replaces the file only
    // once the new one is complete and raises the file errors; LoadDraft restores what a
    // readable draft holds and ignores a missing or damaged one.
    static std::string DraftFileName();
    void SaveDraft();
    void LoadDraft();
    // The address list was changed since it was opened, saved or started empty.
    bool ListModified() const { return FListModified; }
    void BitBtn9Click();  // Reset
    void DeliveryBtnClick();
    // Test connection with what the delivery dialog shows: the progress window with Stop
    // while ProbeServer runs, then the server's offer in a message box; a failure goes to
    // the error report.
    void TestConnection(const TDeliverySettings& Settings, const std::string& Password);
    // The password for a login with Settings: Typed when given, else the one given in the
    // delivery dialog this session, else the keyring's, else asked for (nullopt: the user
    // cancelled). Empty when there is no login.
    std::optional<std::string> LoginPassword(const TDeliverySettings& Settings, const std::string& Typed);
    // The connection part of a request: host, port and user ID from the options page, the
    // rest from Settings. Raises ParsePortNumber's errors.
    TSendRequest ConnectionRequest(const TDeliverySettings& Settings, const std::string& Password) const;
    void BitBtn10Click();  // Help
    void BitBtn1Click();   // About
    void Terminate1Click();
    // Message page.
    void OpenbtnClick();
    void BitBtn3Click();
    void BitBtn8Click();
    void Button4Click();
    void Button5Click();
    // Addresses page.
    void AdrbtnClick();
    void BitBtn2Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void ListBox2Click();
    void numadr();
    // Language.
    void ComboBox1Change();
    void ApplyLanguage();
    // Send: one SMTP conversation for what the window holds; the window is restored and
    // any error is reported whatever happens. A press while a stopped send is still
    // unwinding runs once it has.
    void SendbtnClick();
    // Handlers of SmtpClient1's events.
    void SmtpClient1HostResolved();
    void SmtpClient1Connect();
    void SmtpClient1SendStart();
    void SmtpClient1PacketSent();
    void SmtpClient1Success();
    void SmtpClient1Failure();
    void SmtpClient1AuthenticationFailed(bool& Handled);
    void SmtpClient1InvalidHost(bool& Handled);
    void SmtpClient1RecipientNotFound(const std::string& Recipient);
    void SmtpClient1HeaderIncomplete(bool& handled, int hiType);

    // The body as the memo displays it: one line per displayed line, wrapped lines split
    // where the memo wraps them.
    std::vector<std::string> DisplayedLines() const;
    // The memo's text as the user typed or loaded it: lines joined by CR LF, no final one.
    std::string MemoText() const;
    bool Sending() const { return FSending; }
    // After a send that did not reach everyone: the results dialog and what it asks for.
    void ShowResults(const TSendReport& Report);

protected:
    void closeEvent(QCloseEvent* Event) override;
    void reject() override;  // Escape does not close the window
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;

private:
    void CreateControls();
    void CreateActions();
    void CreateComponents();
    void SetStatus(const char* Text);
    // Appends a space to the first line as the memo displays it.
    void AppendSpaceToFirstLine();
    // The width the memo lays its text out in, also while its page is not showing.
    int MemoTextWidth() const;
    // Runs the protected part of a send and the clean-up that always follows it.
    void Send(const std::string& Password);
    TDialogTexts Texts(std::initializer_list<TLangText> Title, std::initializer_list<TLangText> Labels,
                       std::initializer_list<TLangText> Buttons) const;
    void SetCaption(const char* Control, const char* Text);
    void ApplyQtTranslation(TLanguage Lang);
    // Binds a handler so that an exception escaping it reaches the error report.
    template <class Signal, class Sender>
    void Bind(Sender* Control, Signal Sig, void (Tmainform::*Handler)());

    // The keyring's name for the login of Settings on the host of the options page.
    std::string PasswordAccount(const TDeliverySettings& Settings) const;

    TUserDialogs& FDialogs;
    // The password typed in the delivery dialog, for this session, and whose it is.
    std::string FPassword;
    std::string FPasswordAccount;
    bool FSending = false;
    bool FListModified = false;
    // Qt's own texts (standard buttons, file dialogs) in Russian while Russian is chosen.
    std::unique_ptr<QTranslator> FQtTranslator;
    TSendRun* FRun = nullptr;  // the send in progress, for Stop
    bool FSendAgain = false;   // Send! pressed while a stopped send unwound
    bool FTerminated = false;
};
