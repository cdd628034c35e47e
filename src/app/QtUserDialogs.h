#pragma once
// The user dialogs on Qt's standard dialogs, and the help viewer window.
#include <QPointer>

#include "UserDialogs.h"

class QTextBrowser;
class QWidget;

class TQtUserDialogs : public TUserDialogs {
public:
    TQtUserDialogs() = default;
    ~TQtUserDialogs() override;
    TQtUserDialogs(const TQtUserDialogs&) = delete;
    TQtUserDialogs& operator=(const TQtUserDialogs&) = delete;

    void ShowMessage(const std::string& Text) override;
    void Information(const std::string& Text) override;
    bool Confirm(const std::string& Text) override;
    bool InputQuery(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
    bool InputPassword(const std::string& Caption, const std::string& Prompt, std::string& Value) override;
    bool OpenFile(TFileDialog& Dialog) override;
    bool SaveFile(TFileDialog& Dialog) override;
    void ShowError(const std::string& Text) override;
    // Raises EFOpenError when the help file is missing.
    void ShowHelp(const std::string& HelpFile) override;
    void OpenUrl(const std::string& Url) override;
    bool EditDelivery(const TDialogTexts& Texts, TDeliverySettings& Settings, TLoginPassword& Password,
                      const TConnectionTest& Test) override;
    TResultsAnswer ShowResults(const TDialogTexts& Texts, const TResultRows& Rows) override;
    // The help viewer window, once ShowHelp has opened it.
    QWidget* HelpViewer() const;

private:
    bool RunFileDialog(TFileDialog& Dialog, bool Save);
    bool RunInput(const std::string& Caption, const std::string& Prompt, std::string& Value, bool Secret);
    QPointer<QTextBrowser> FHelp;
};
