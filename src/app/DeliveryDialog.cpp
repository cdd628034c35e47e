#include "DeliveryDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "ErrorReport.h"

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Trimmed(const QLineEdit* Edit) { return Edit->text().trimmed().toStdString(); }

template <class W>
W* Named(W* Widget, const char* Name)
{
    Widget->setObjectName(QLatin1String(Name));
    return Widget;
}

}  // namespace

TDeliveryDialog::TDeliveryDialog(const TDialogTexts& Texts, TUserDialogs& Dialogs, QWidget* Parent)
    : QDialog(Parent), FDialogs(Dialogs), FChooserTitle(Texts.Labels.at(dlCAFile))
{
    setObjectName(QStringLiteral("DeliveryDialog"));
    setWindowTitle(Q(Texts.Title));
    const auto label = [&Texts](TDeliveryLabel L) { return Q(Texts.Labels.at(L)); };
    auto* layout = new QVBoxLayout(this);

    auto* delivery = Named(new QGroupBox(label(dlDeliveryGroup), this), "DeliveryGroup");
    auto* form = new QFormLayout(delivery);
    MaxRecipients = Named(new QSpinBox(delivery), "MaxRecipients");
    MaxRecipients->setRange(0, 1000000);
    PauseMs = Named(new QSpinBox(delivery), "PauseMs");
    PauseMs->setRange(0, 3600000);
    SkipRefused = Named(new QCheckBox(label(dlSkipRefused), delivery), "SkipRefused");
    form->addRow(label(dlMaxRecipients), MaxRecipients);
    form->addRow(label(dlPauseMs), PauseMs);
    form->addRow(SkipRefused);
    layout->addWidget(delivery);

    auto* connection = Named(new QGroupBox(label(dlConnectionGroup), this), "ConnectionGroup");
    form = new QFormLayout(connection);
    Security = Named(new QComboBox(connection), "Security");
    Security->addItems({label(dlSecurityNone), QStringLiteral("STARTTLS"), QStringLiteral("TLS")});
    CAFile = Named(new QLineEdit(connection), "CAFile");
    CAFile->setMinimumWidth(220);
    BrowseBtn = Named(new QPushButton(Q(Texts.Buttons.at(dbBrowse)), connection), "BrowseBtn");
    auto* caRow = new QHBoxLayout;
    caRow->addWidget(CAFile, 1);
    caRow->addWidget(BrowseBtn);
    Fingerprint = Named(new QLineEdit(connection), "Fingerprint");
    AuthUser = Named(new QLineEdit(connection), "AuthUser");
    PasswordEdit = Named(new QLineEdit(connection), "Password");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    Remember = Named(new QCheckBox(label(dlRemember), connection), "Remember");
    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(PasswordEdit, 1);
    passwordRow->addWidget(Remember);
    AuthMethod = Named(new QComboBox(connection), "AuthMethod");
    AuthMethod->addItem(label(dlAuthAuto));
    for (const TAuthMethod m : {amPlain, amLogin, amXOAuth2}) AuthMethod->addItem(Q(AuthMethodName(m)));
    ExtendedSmtp = Named(new QCheckBox(label(dlExtendedSmtp), connection), "ExtendedSmtp");
    AllowPlaintext = Named(new QCheckBox(label(dlAllowPlaintext), connection), "AllowPlaintextAuth");
    form->addRow(label(dlSecurity), Security);
    form->addRow(label(dlCAFile), caRow);
    form->addRow(label(dlFingerprint), Fingerprint);
    form->addRow(label(dlAuthUser), AuthUser);
    form->addRow(label(dlPassword), passwordRow);
    form->addRow(label(dlAuthMethod), AuthMethod);
    form->addRow(ExtendedSmtp);
    form->addRow(AllowPlaintext);
    layout->addWidget(connection);

    // Test connection stands apart from OK and Cancel: it closes nothing.
    auto* bottom = new QHBoxLayout;
    TestBtn = Named(new QPushButton(Q(Texts.Buttons.at(dbTestConnection)), this), "TestBtn");
    TestBtn->setAutoDefault(false);
    TestBtn->setEnabled(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    bottom->addWidget(TestBtn);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(BrowseBtn, &QPushButton::clicked, this, [this] { Guarded(FDialogs, [this] { BrowseClick(); }); });
    connect(TestBtn, &QPushButton::clicked, this, [this] { Guarded(FDialogs, [this] { TestClick(); }); });
    connect(Security, &QComboBox::currentIndexChanged, this, &TDeliveryDialog::UpdateEnabled);
    connect(AuthUser, &QLineEdit::textChanged, this, &TDeliveryDialog::UpdateEnabled);
    UpdateEnabled();
}

void TDeliveryDialog::SetValues(const TDeliverySettings& Settings, const TLoginPassword& Password)
{
    MaxRecipients->setValue(Settings.MaxRecipients);
    PauseMs->setValue(Settings.PauseMs);
    SkipRefused->setChecked(Settings.SkipRefused);
    Security->setCurrentIndex(static_cast<int>(Settings.Security));
    AuthUser->setText(Q(Settings.AuthUser));
    AuthMethod->setCurrentIndex(Settings.AuthMethod);
    CAFile->setText(Q(Settings.CAFile));
    Fingerprint->setText(Q(Settings.Fingerprint));
    ExtendedSmtp->setChecked(Settings.ExtendedSmtp);
    AllowPlaintext->setChecked(Settings.AllowPlaintextAuth);
    PasswordEdit->setText(Q(Password.Password));
    Remember->setChecked(Password.Remember);
    UpdateEnabled();
}

TDeliverySettings TDeliveryDialog::Settings() const
{
    TDeliverySettings s;
    s.MaxRecipients = MaxRecipients->value();
    s.PauseMs = PauseMs->value();
    s.SkipRefused = SkipRefused->isChecked();
    s.Security = static_cast<TSecurity>(Security->currentIndex());
    s.AuthUser = Trimmed(AuthUser);
    s.AuthMethod = static_cast<TAuthMethod>(AuthMethod->currentIndex());
    s.CAFile = Trimmed(CAFile);
    s.Fingerprint = Trimmed(Fingerprint);
    s.ExtendedSmtp = ExtendedSmtp->isChecked();
    s.AllowPlaintextAuth = AllowPlaintext->isChecked();
    return s;
}

// A password is taken exactly as typed: blanks may be part of it.
TLoginPassword TDeliveryDialog::Password() const { return {PasswordEdit->text().toStdString(), Remember->isChecked()}; }

void TDeliveryDialog::SetTest(TConnectionTest Test)
{
    FTest = std::move(Test);
    TestBtn->setEnabled(static_cast<bool>(FTest));
}

void TDeliveryDialog::UpdateEnabled()
{
    const bool login = !AuthUser->text().trimmed().isEmpty();
    const bool encrypted = Security->currentIndex() != static_cast<int>(TSecurity::None);
    for (QWidget* w : std::initializer_list<QWidget*>{PasswordEdit, Remember, AuthMethod}) w->setEnabled(login);
    AllowPlaintext->setEnabled(login && !encrypted);
    for (QWidget* w : std::initializer_list<QWidget*>{CAFile, BrowseBtn, Fingerprint}) w->setEnabled(encrypted);
}

void TDeliveryDialog::BrowseClick()
{
    const QFileInfo current(CAFile->text().trimmed());
    TFileDialog chooser{FChooserTitle,
                        "Certificates|*.pem;*.crt;*.cer|All files|*.*",
                        1,
                        "",
                        current.fileName().isEmpty() ? "" : current.absolutePath().toStdString(),
                        ""};
    if (FDialogs.OpenFile(chooser)) CAFile->setText(Q(chooser.FileName));
}

void TDeliveryDialog::TestClick()
{
    if (FTest) FTest(Settings(), Password().Password);
}
