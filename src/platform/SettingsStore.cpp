#include "SettingsStore.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdlib>

namespace {

QStringList KeyParts(const std::string& Key)
{
    QStringList parts = QString::fromUtf8(Key).split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (!parts.isEmpty() && parts.first().compare(QLatin1String("Software"), Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    return parts;
}

}  // namespace

TSettingsStore::TSettingsStore() = default;
TSettingsStore::~TSettingsStore() = default;

std::string TSettingsStore::FileNameFor(const std::string& Key)
{
    if (const char* env = std::getenv("QUILLCAST_SETTINGS"); env && *env) return env;
    const QStringList parts = KeyParts(Key);
    const QString company = parts.value(0, QStringLiteral("Unknown"));
    const QString product = parts.value(1, company);
    // The same place QSettings itself chooses for a per-user INI file.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (dir + QLatin1Char('/') + company + QLatin1Char('/') + product + QStringLiteral(".ini")).toStdString();
}

bool TSettingsStore::OpenKey(const std::string& Key, bool CanCreate)
{
    CloseKey();
    const QString file = QString::fromStdString(FileNameFor(Key));
    auto settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
    // A file that exists but cannot be read is a key that cannot be opened; writing over it
    // would destroy what it holds.
    if (settings->status() != QSettings::NoError) return false;
    const QStringList parts = KeyParts(Key);
    const QString group = parts.mid(2).join(QLatin1Char('/'));
    if (!group.isEmpty()) {
        if (!CanCreate && !settings->childGroups().contains(group)) return false;
        settings->beginGroup(group);
    }
    FSettings = std::move(settings);
    return true;
}

void TSettingsStore::CloseKey() { FSettings.reset(); }

bool TSettingsStore::ValueExists(const std::string& Name) const
{
    return FSettings && FSettings->contains(QString::fromStdString(Name));
}

std::string TSettingsStore::ReadString(const std::string& Name) const
{
    if (!FSettings) return {};
    const QString key = QString::fromStdString(Name);
    if (!FSettings->contains(key)) return {};
    const QVariant value = FSettings->value(key);
    // An INI value becomes a list when it holds an unquoted comma and a byte array or
    // variant when it is written in Qt's @-notation; neither is a plain text value.
    if (value.typeId() != QMetaType::QString) throw ESettingsError(Format("Invalid data type for '%s'", Name.c_str()));
    return value.toString().toStdString();
}

void TSettingsStore::WriteString(const std::string& Name, const std::string& Value)
{
    if (!FSettings) throw ESettingsError(Format("Failed to set data for '%s'", Name.c_str()));
    FSettings->setValue(QString::fromStdString(Name), QString::fromStdString(Value));
    FSettings->sync();  // QSettings writes a temporary file and renames it over the old one
    if (FSettings->status() != QSettings::NoError)
        throw ESettingsError(Format("Failed to set data for '%s'", Name.c_str()));
}
