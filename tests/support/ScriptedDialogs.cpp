#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

// Indexed by TDialogKind.
const char* const KindNames[] = {"message", "information", "confirmation", "input prompt", "open dialog",
                                 "save dialog", "error report", "help", "browser", "delivery dialog", "results dialog"};

void TScriptedDialogs::ExpectConfirm(bool Yes) { FAnswers.push_back({TDialogKind::Confirm, Yes, std::nullopt}); }
void TScriptedDialogs::ExpectInput(std::optional<std::string> Value) { FAnswers.push_back({TDialogKind::Input, false, Value}); }
void TScriptedDialogs::ExpectFile(std::optional<std::string> Name) { FAnswers.push_back({TDialogKind::Open, false, Name}); }
void TScriptedDialogs::ExpectDelivery(std::optional<TDeliverySettings> Settings, TLoginPassword Login, bool Test)
{
    FAnswers.push_back({TDialogKind::Delivery, false, std::nullopt, Settings, TResultsAnswer::Close, Login, Test});
}
void TScriptedDialogs::ExpectResults(TResultsAnswer Answer)
{
    FAnswers.push_back({TDialogKind::Results, false, std::nullopt, std::nullopt, Answer});
}

std::vector<std::string> TScriptedDialogs::Texts(TDialogKind Kind) const
{
    std::vector<std::string> texts;
    for (const auto& d : Shown)
        if (d.Kind == Kind) texts.push_back(d.Text);
    return texts;
}

void TScriptedDialogs::Record(TShownDialog Dialog)
{
    Shown.push_back(Dialog);
    // The handler gets its own copy: it may show further dialogs, which moves the vector.
    if (OnShow) OnShow(Dialog);
}

std::optional<TScriptedDialogs::TAnswer> TScriptedDialogs::Next(TDialogKind Kind, const std::string& What)
{
    // Open and save dialogs share one kind of answer: a file name.
    const TDialogKind want = Kind == TDialogKind::Save ? TDialogKind::Open : Kind;
    if (FAnswers.empty() || FAnswers.front().Kind != want) {
        ADD_FAILURE() << "unexpected " << KindNames[static_cast<int>(Kind)] << ": " << What;
        return std::nullopt;
    }
    TAnswer a = FAnswers.front();
    FAnswers.pop_front();
    return a;
}

void TScriptedDialogs::ShowMessage(const std::string& Text) { Record({TDialogKind::Message, "", Text, {}}); }
void TScriptedDialogs::Information(const std::string& Text) { Record({TDialogKind::Information, "", Text, {}}); }
void TScriptedDialogs::ShowError(const std::string& Text) { Record({TDialogKind::Error, "", Text, {}}); }
void TScriptedDialogs::ShowHelp(const std::string& HelpFile) { Record({TDialogKind::Help, "", HelpFile, {}}); }
void TScriptedDialogs::OpenUrl(const std::string& Url) { Record({TDialogKind::Url, "", Url, {}}); }

bool TScriptedDialogs::Confirm(const std::string& Text)
{
    Record({TDialogKind::Confirm, "", Text, {}});
    const auto a = Next(TDialogKind::Confirm, Text);
    return a && a->Yes;
}

bool TScriptedDialogs::InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    return RunInput(Caption, Prompt, Value, false);
}

bool TScriptedDialogs::InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    return RunInput(Caption, Prompt, Value, true);
}

bool TScriptedDialogs::RunInput(const std::string& Caption, const std::string& Prompt, std::string& Value, bool Hidden)
{
    Record({TDialogKind::Input, Caption, Prompt, {}, {}, Hidden});
    const auto a = Next(TDialogKind::Input, Caption);
    if (!a || !a->Value) return false;
    Value = *a->Value;
    return true;
}

bool TScriptedDialogs::RunFile(TDialogKind Kind, TFileDialog& Dialog)
{
    Record({Kind, "", "", Dialog});
    const auto a = Next(Kind, Dialog.Filter);
    if (!a || !a->Value) return false;
    Dialog.FileName = *a->Value;
    return true;
}

bool TScriptedDialogs::OpenFile(TFileDialog& Dialog) { return RunFile(TDialogKind::Open, Dialog); }
bool TScriptedDialogs::SaveFile(TFileDialog& Dialog) { return RunFile(TDialogKind::Save, Dialog); }

bool TScriptedDialogs::EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                                    const TConnectionTest& Test)
{
    Record({TDialogKind::Delivery, Texts.Title, "", {}, {}, false, Password, Texts});
    const auto a = Next(TDialogKind::Delivery, Texts.Title);
    if (a && a->Test) {
        EXPECT_TRUE(Test) << "Test connection is disabled";
        if (Test) Test(a->Delivery.value_or(Settings), a->Login.Password);
    }
    if (!a || !a->Delivery) return false;
    Settings = *a->Delivery;
    Password = a->Login;
    return true;
}

TResultsAnswer TScriptedDialogs::ShowResults(const TDialogTexts& Texts, const TResultRows& Rows)
{
    Record({TDialogKind::Results, Texts.Title, "", {}, Rows});
    const auto a = Next(TDialogKind::Results, Texts.Title);
    return a ? a->Results : TResultsAnswer::Close;
}
