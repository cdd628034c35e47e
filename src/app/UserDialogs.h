#pragma once
// Every dialog the application shows goes through this interface: the message boxes,
// confirmations, input prompts, file dialogs, the error report, the help viewer and the
// browser. The window program uses the Qt implementation; tests answer from a script.
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "DeliverySettings.h"

// The state of one file dialog, kept by the window between runs the way a dialog
// component keeps its properties. Filter: "Name|pattern|Name|pattern"; FilterIndex
// counts from 1 and is updated to the filter the user chose.
struct TFileDialog {
    std::string Title;
    std::string Filter;
    int FilterIndex = 1;
    std::string FileName;
    std::string InitialDir;
    std::string DefaultExt;  // added to a name typed without an extension (save dialogs)
};

// The password field of the "Connection and delivery" dialog, which is no setting:
// Remember asks for it to be kept in the keyring.
struct TLoginPassword {
    std::string Password;
    bool Remember = false;
    bool operator==(const TLoginPassword&) const = default;
};

// "Test connection": run with what the dialog shows, before it is accepted.
using TConnectionTest = std::function<void(const TDeliverySettings& Settings, const std::string& Password)>;

// The Labels of the "Connection and delivery" dialog, in order, and its Buttons.
// clang-format off
enum TDeliveryLabel {
    dlMaxRecipients, dlPauseMs, dlSkipRefused, dlDeliveryGroup, dlConnectionGroup, dlSecurity, dlSecurityNone,
    dlAuthUser, dlPassword, dlRemember, dlAuthMethod, dlAuthAuto, dlCAFile, dlFingerprint, dlExtendedSmtp,
    dlAllowPlaintext, dlCount_
};
// clang-format on
enum TDeliveryButton { dbTestConnection, dbBrowse, dbCount_ };

// The captions of a dialog in the interface language: title, then its field labels or
// column headers, then its buttons.
struct TDialogTexts {
    std::string Title;
    std::vector<std::string> Labels;
    std::vector<std::string> Buttons;
};

// The recipients a send did not reach: entry, outcome and server reply per row.
using TResultRows = std::vector<std::array<std::string, 3>>;
enum class TResultsAnswer { Close, SaveReport, KeepOnly };

class TUserDialogs {
public:
    virtual ~TUserDialogs() = default;

    // Plain message box: the application title, the text, an OK button.
    virtual void ShowMessage(const std::string& Text) = 0;
    // Information dialog: information icon, OK button.
    virtual void Information(const std::string& Text) = 0;
    // Confirmation dialog: question icon, Yes and No; true for Yes.
    virtual bool Confirm(const std::string& Text) = 0;
    // Input prompt: caption, prompt text, one edit field starting with Value; OK and
    // Cancel. On OK Value holds the text typed and the result is true.
    virtual bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) = 0;
    // The same prompt for a secret: what is typed is not shown, and the field starts empty.
    virtual bool InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value) = 0;
    // File dialogs: true and Dialog.FileName set to the chosen file's full path on OK.
    virtual bool OpenFile(TFileDialog& Dialog) = 0;
    virtual bool SaveFile(TFileDialog& Dialog) = 0;
    // The error report: application title, stop icon, OK; Text is already worded.
    virtual void ShowError(const std::string& Text) = 0;
    // The help viewer at the contents of an HTML help file.
    virtual void ShowHelp(const std::string& HelpFile) = 0;
    // Hands a web address to the user's browser.
    virtual void OpenUrl(const std::string& Url) = 0;
    // "Connection and delivery": Labels and Buttons in the order of TDeliveryLabel and
    // TDeliveryButton; on OK Settings and Password hold what the user set and the result
    // is true. The "Test connection" button runs Test, and is disabled when Test is empty.
    virtual bool EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                              const TConnectionTest& Test) = 0;
    // The results of a send: Labels are the column headers, Buttons "Save report…",
    // "Keep only these in the list" and Close; the answer is the button pressed.
    virtual TResultsAnswer ShowResults(const TDialogTexts& Texts, const TResultRows& Rows) = 0;
};
