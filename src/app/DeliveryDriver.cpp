// The main window's side of the "Connection and delivery" dialog: editing the settings,
// the password of a login (the keyring, this session, or a prompt at each send), the
// connection part of every request, and "Test connection".
#include <QLineEdit>
#include <QPushButton>

#include "ErrorReport.h"
#include "Main.h"
#include "Splash.h"
#include "base/Exception.h"
#include "send/SendRequest.h"
#include "smtp/SmtpClient.h"

std::string Tmainform::PasswordAccount(const TDeliverySettings& Settings) const
{
    return Settings.AuthUser + "@" + Edit6->text().trimmed().toStdString();
}

void Tmainform::DeliveryBtnClick()
{
    const std::string account = PasswordAccount(Delivery);
    TLoginPassword password;
    std::optional<std::string> stored;
    if (!Delivery.AuthUser.empty()) {
        stored = Credentials->Read(account);
        if (stored)
            password = {*stored, true};
        else if (account == FPasswordAccount)
            password.Password = FPassword;
    }
    TConnectionTest test;
    if (ProbeServer)
        test = [this](const TDeliverySettings& Settings, const std::string& Password) {
            Guarded(FDialogs, [&] { TestConnection(Settings, Password); });
        };
    TDeliverySettings edited = Delivery;
    const TDialogTexts texts = Texts({ltDeliveryTitle},
                                     {ltMaxRecipients, ltPauseMs, ltSkipRefused, ltDeliveryGroup, ltConnectionGroup,
                                      ltSecurity, ltSecurityNone, ltAuthUser, ltPassword, ltRemember, ltAuthMethod,
                                      ltAuthAuto, ltCAFile, ltFingerprint, ltExtendedSmtp, ltAllowPlaintext},
                                     {ltTestConnection, ltBrowse});
    if (!FDialogs.EditDelivery(texts, edited, password, test)) return;

    const TSecurity before = Delivery.Security;
    Delivery = edited;
    // A port left at the usual one of the old mode follows the new mode (587, 465, 25).
    if (Delivery.Security != before && Edit2->text() == QString::number(DefaultPortFor(before)))
        Edit2->setText(QString::number(DefaultPortFor(Delivery.Security)));

    FPassword.clear();
    FPasswordAccount.clear();
    if (Delivery.AuthUser.empty()) return;
    const std::string now = PasswordAccount(Delivery);
    FPassword = password.Password;
    FPasswordAccount = now;
    // The keyring holds what the dialog said: the password when Remember is ticked,
    // nothing otherwise. It is only asked when that may change something.
    if (password.Remember && !password.Password.empty()) {
        if (now == account && stored == password.Password) return;
        if (!Credentials->Write(now, password.Password)) FDialogs.Information(LangText(ltNoKeyring, Language()));
    } else if (stored || now != account) {
        Credentials->Remove(now);
    }
}

std::optional<std::string> Tmainform::LoginPassword(const TDeliverySettings& Settings, const std::string& Typed)
{
    if (Settings.AuthUser.empty()) return std::string();
    if (!Typed.empty()) return Typed;
    const std::string account = PasswordAccount(Settings);
    if (account == FPasswordAccount && !FPassword.empty()) return FPassword;
    if (auto stored = Credentials->Read(account); stored && !stored->empty()) return stored;
    const TLanguage lang = Language();
    std::string password;
    if (!FDialogs.InputPassword(LangText(ltPasswordTitle, lang),
                                Format(LangText(ltPasswordPrompt, lang), Settings.AuthUser.c_str(),
                                       Edit6->text().trimmed().toStdString().c_str()),
                                password))
        return std::nullopt;
    return password;
}

TSendRequest Tmainform::ConnectionRequest(const TDeliverySettings& Settings, const std::string& Password) const
{
    TSendRequest r;
    r.Host = Edit6->text().toStdString();
    r.Port = ParsePortNumber(Edit2->text().toStdString());
    r.UserID = Edit3->text().toStdString();
    r.MaxRecipients = Settings.MaxRecipients;
    r.PauseMs = Settings.PauseMs;
    r.SkipRefused = Settings.SkipRefused;
    r.Security = Settings.Security;
    r.CAFile = Settings.CAFile;
    r.Fingerprint = Settings.Fingerprint;
    r.AuthUser = Settings.AuthUser;
    r.Password = Password;
    r.AuthMethod = Settings.AuthMethod;
    r.AllowPlaintextAuth = Settings.AllowPlaintextAuth;
    r.ExtendedSmtp = Settings.ExtendedSmtp;
    return r;
}

void Tmainform::TestConnection(const TDeliverySettings& Settings, const std::string& Password)
{
    if (FSending) return;
    if (Edit6->text().isEmpty()) {
        FDialogs.Information("Please, provide host information");
        return;
    }
    if (Edit2->text().isEmpty()) {
        FDialogs.Information("Please, provide port number");
        return;
    }
    const auto password = LoginPassword(Settings, Password);
    if (!password) return;
    const TSendRequest request = ConnectionRequest(Settings, *password);

    // The progress window and its Stop, modal so that they take input above the dialog
    // that waits for this test.
    struct Restore {
        Tmainform* Self;
        ~Restore()
        {
            Self->Splashform->Button1->hide();
            Self->Splashform->hide();
            Self->Splashform->setWindowModality(Qt::NonModal);
            Self->FSending = false;
        }
    };
    std::vector<std::string> offer;
    {
        FSending = true;
        const Restore restore{this};
        SetStatus("");
        Splashform->setWindowModality(Qt::ApplicationModal);
        Splashform->Button1->show();
        Splashform->show();
        Splashform->raise();
        offer = ProbeServer(*SmtpClient1, request);
    }
    std::string text = LangText(ltServerOffers, Language());
    for (const std::string& line : offer) text += "\n" + line;
    FDialogs.ShowMessage(text);
}
