#pragma once
// A stand-in for the user: answers the application's dialogs from a script and records
// every dialog shown, in order. A dialog that the script does not expect fails the test
// and is answered No / Cancel.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/UserDialogs.h"

enum class TDialogKind { Message, Information, Confirm, Input, Open, Save, Error, Help, Url, Delivery, Results };

struct TShownDialog {
    TDialogKind Kind;
    std::string Caption;  // input prompts
    std::string Text;     // message, prompt, error text, help file or web address
    TFileDialog File;     // the file dialog's state as it was run
    TResultRows Rows = {};  // results dialogs
    bool Hidden = false;    // an input prompt whose answer is not shown (a password)
    TLoginPassword Login = {};  // the delivery dialog: its password field as it opened
    TDialogTexts Texts = {};    // and its texts
};

class TScriptedDialogs : public TUserDialogs {
public:
    // Answers, consumed in order by the dialogs that ask something.
    void ExpectConfirm(bool Yes);
    void ExpectInput(std::optional<std::string> Value);  // nullopt: Cancel
    void ExpectFile(std::optional<std::string> FileName); // nullopt: Cancel
    // nullopt: Cancel. With Test the "Test connection" button is pressed first, with
    // Settings (or the values the dialog opened with) and Login's password.
    void ExpectDelivery(std::optional<TDeliverySettings> Settings, TLoginPassword Login = {}, bool Test = false);
    void ExpectResults(TResultsAnswer Answer);

    // Called as each dialog is shown, before it is answered (to act in the middle of an
    // operation, for instance while a send waits for the box to close).
    std::function<void(const TShownDialog&)> OnShow;

    std::vector<TShownDialog> Shown;
    // Texts of the shown dialogs of one kind, in order.
    std::vector<std::string> Texts(TDialogKind Kind) const;
    bool AllAnswersUsed() const { return FAnswers.empty(); }
    void Clear() { Shown.clear(); FAnswers.clear(); }

    void ShowMessage(const std::string& Text) override;
    void Information(const std::string& Text) override;
    bool Confirm(const std::string& Text) override;
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
    bool InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
    bool OpenFile(TFileDialog& Dialog) override;
    bool SaveFile(TFileDialog& Dialog) override;
    void ShowError(const std::string& Text) override;
    void ShowHelp(const std::string& HelpFile) override;
    void OpenUrl(const std::string& Url) override;
    bool EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                      const TConnectionTest& Test) override;
    TResultsAnswer ShowResults(const TDialogTexts& Texts, const TResultRows& Rows) override;

private:
    struct TAnswer {
        TDialogKind Kind;
        bool Yes = false;
        std::optional<std::string> Value;
        std::optional<TDeliverySettings> Delivery = std::nullopt;
        TResultsAnswer Results = TResultsAnswer::Close;
        TLoginPassword Login = {};
        bool Test = false;
    };
    void Record(TShownDialog Dialog);
    std::optional<TAnswer> Next(TDialogKind Kind, const std::string& What);
    bool RunFile(TDialogKind Kind, TFileDialog& Dialog);
    bool RunInput(const std::string& Caption, const std::string& Prompt, std::string& Value, bool Hidden);
    std::deque<TAnswer> FAnswers;
};
