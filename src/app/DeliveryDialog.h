#pragma once
// The "Connection and delivery" dialog: recipients per message, pause and refused
// recipients; the security mode, certificate checks, login, password and authentication
// method; and "Test connection", which runs with what the dialog shows. Its texts come in
// the interface language (TDeliveryLabel order); the CA file chooser goes through the user
// dialogs. Raises nothing: what the chooser or the test raise is reported by the error
// report.
#include <QDialog>

#include "UserDialogs.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TDeliveryDialog : public QDialog {
    Q_OBJECT
public:
    // Texts: the window's title, TDeliveryLabel labels and TDeliveryButton buttons.
    TDeliveryDialog(const TDialogTexts& Texts, TUserDialogs& Dialogs, QWidget* Parent = nullptr);

    void SetValues(const TDeliverySettings& Settings, const TLoginPassword& Password);
    TDeliverySettings Settings() const;
    TLoginPassword Password() const;
    // Run by "Test connection"; the button is disabled while there is none.
    void SetTest(TConnectionTest Test);

    QSpinBox* MaxRecipients;
    QSpinBox* PauseMs;
    QCheckBox* SkipRefused;
    QComboBox* Security;  // by TSecurity
    QLineEdit* AuthUser;
    QLineEdit* PasswordEdit;
    QCheckBox* Remember;
    QComboBox* AuthMethod;  // by TAuthMethod
    QLineEdit* CAFile;
    QPushButton* BrowseBtn;
    QLineEdit* Fingerprint;
    QCheckBox* ExtendedSmtp;
    QCheckBox* AllowPlaintext;
    QPushButton* TestBtn;

private:
    // Fields that mean nothing in the current choice are greyed out: the password and
    // method without a login, the certificate checks without encryption.
    void UpdateEnabled();
    void BrowseClick();
    void TestClick();

    TUserDialogs& FDialogs;
    TConnectionTest FTest;
    std::string FChooserTitle;
};
