#pragma once
// A stand-in for the user: answers the application's dialogs from a script and records
// every dialog shown, in order. A dialog that the script does not expect fails the test
// and is answered No / Cancel.
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/UserDialogs.h"

enum class TDialogKind { Message, Information, Confirm, Input, Open, Save, Error, Help, Url, Delivery, Results };

struct TShownDialog {
    TDialogKind Kind;
    std::string Caption;        // input prompts, the delivery and results dialogs
    std::string Text;           // message, prompt, error text, help file or web address
    TFileDialog File = {};      // the file dialog's state as it was run
    bool Hidden = false;        // an input prompt whose answer is not shown (a password)
    TLoginPassword Login = {};  // the delivery dialog: its password field as it opened
};

class TScriptedDialogs : public TUserDialogs {
public:
    // Answers, consumed in order by the dialogs that ask something. An input or file
    // answer of nullopt is Cancel.
    void ExpectConfirm(bool Yes) { FAnswers.push_back({.Kind = TDialogKind::Confirm, .Yes = Yes}); }
    void ExpectInput(std::optional<std::string> In) { FAnswers.push_back({.Kind = TDialogKind::Input, .Value = In}); }
    void ExpectFile(std::optional<std::string> Name) { FAnswers.push_back({.Kind = TDialogKind::Open, .Value = Name}); }
    // nullopt: Cancel. With Test the "Test connection" button is pressed first, with
    // Settings (or the values the dialog opened with) and Login's password.
    void ExpectDelivery(std::optional<TDeliverySettings> Settings, TLoginPassword Login = {}, bool Test = false)
    {
        FAnswers.push_back({.Kind = TDialogKind::Delivery, .Delivery = Settings, .Login = Login, .Test = Test});
    }

    // Called as each dialog is shown, before it is answered (to act in the middle of an
    // operation, for instance while a send waits for the box to close).
    std::function<void(const TShownDialog&)> OnShow;

    std::vector<TShownDialog> Shown;
    // Texts of the shown dialogs of one kind, in order.
    std::vector<std::string> Texts(TDialogKind Kind) const
    {
        std::vector<std::string> texts;
        for (const auto& d : Shown)
            if (d.Kind == Kind) texts.push_back(d.Text);
        return texts;
    }
    bool AllAnswersUsed() const { return FAnswers.empty(); }
    void Clear()
    {
        Shown.clear();
        FAnswers.clear();
    }

    void ShowMessage(const std::string& Text) override { Record({TDialogKind::Message, "", Text}); }
    void Information(const std::string& Text) override { Record({TDialogKind::Information, "", Text}); }
    bool Confirm(const std::string& Text) override
    {
        Record({TDialogKind::Confirm, "", Text});
        const auto a = Next(TDialogKind::Confirm, Text);
        return a && a->Yes;
    }
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override
    {
        return RunInput(Caption, Prompt, Value, false);
    }
    bool InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value) override
    {
        return RunInput(Caption, Prompt, Value, true);
    }
    bool OpenFile(TFileDialog& Dialog) override { return RunFile(TDialogKind::Open, Dialog); }
    bool SaveFile(TFileDialog& Dialog) override { return RunFile(TDialogKind::Save, Dialog); }
    void ShowError(const std::string& Text) override { Record({TDialogKind::Error, "", Text}); }
    void ShowHelp(const std::string& HelpFile) override { Record({TDialogKind::Help, "", HelpFile}); }
    void OpenUrl(const std::string& Url) override { Record({TDialogKind::Url, "", Url}); }
    bool EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                      const TConnectionTest& Test) override
    {
        Record({TDialogKind::Delivery, Texts.Title, "", {}, false, Password});
        const auto a = Next(TDialogKind::Delivery, Texts.Title);
        // A disabled button fails the test through what the test then finds unprobed.
        if (a && a->Test && Test) Test(a->Delivery.value_or(Settings), a->Login.Password);
        if (!a || !a->Delivery) return false;
        Settings = *a->Delivery;
        Password = a->Login;
        return true;
    }
    // No test expects one: it fails the test and is closed.
    TResultsAnswer ShowResults(const TDialogTexts& Texts, const TResultRows&) override
    {
        Record({TDialogKind::Results, Texts.Title, ""});
        Next(TDialogKind::Results, Texts.Title);
        return TResultsAnswer::Close;
    }

private:
    struct TAnswer {
        TDialogKind Kind;
        bool Yes = false;
        std::optional<std::string> Value = std::nullopt;
        std::optional<TDeliverySettings> Delivery = std::nullopt;
        TLoginPassword Login = {};
        bool Test = false;
    };

    void Record(TShownDialog Dialog)
    {
        Shown.push_back(Dialog);
        // The handler gets its own copy: it may show further dialogs, which moves the vector.
        if (OnShow) OnShow(Dialog);
    }
    std::optional<TAnswer> Next(TDialogKind Kind, const std::string& What)
    {
        // Open and save dialogs share one kind of answer: a file name.
        const TDialogKind want = Kind == TDialogKind::Save ? TDialogKind::Open : Kind;
        if (FAnswers.empty() || FAnswers.front().Kind != want) {
            ADD_FAILURE() << "unexpected dialog of kind " << static_cast<int>(Kind) << " (TDialogKind): " << What;
            return std::nullopt;
        }
        TAnswer a = FAnswers.front();
        FAnswers.pop_front();
        return a;
    }
    bool RunInput(const std::string& Caption, const std::string& Prompt, std::string& Value, bool Hidden)
    {
        Record({TDialogKind::Input, Caption, Prompt, {}, Hidden});
        const auto a = Next(TDialogKind::Input, Caption);
        if (!a || !a->Value) return false;
        Value = *a->Value;
        return true;
    }
    bool RunFile(TDialogKind Kind, TFileDialog& Dialog)
    {
        Record({Kind, "", "", Dialog});
        const auto a = Next(Kind, Dialog.Filter);
        if (!a || !a->Value) return false;
        Dialog.FileName = *a->Value;
        return true;
    }

    std::deque<TAnswer> FAnswers;
};
