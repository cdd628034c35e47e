#include "DeliverySettings.h"

#include <algorithm>
#include <iterator>

#include "base/Exception.h"
#include "base/StringList.h"
#include "platform/SettingsStore.h"

namespace {

const char* const SecurityNames[] = {"none", "starttls", "tls"};              // by TSecurity
const char* const AuthMethodNames[] = {"auto", "plain", "login", "xoauth2"};  // by TAuthMethod

// The index of Name in Names (case ignored); 0, the default, when absent.
template <std::size_t N>
std::size_t IndexOf(const char* const (&Names)[N], const std::string& Name)
{
    const auto* found =
        std::find_if(std::begin(Names), std::end(Names), [&](const char* n) { return SameText(n, Name); });
    return found == std::end(Names) ? 0 : static_cast<std::size_t>(found - std::begin(Names));
}

}  // namespace

const char* SecurityName(TSecurity Security) { return SecurityNames[static_cast<int>(Security)]; }
TSecurity SecurityFromName(const std::string& Name) { return static_cast<TSecurity>(IndexOf(SecurityNames, Name)); }
const char* AuthMethodSettingName(TAuthMethod Method) { return AuthMethodNames[Method]; }
TAuthMethod AuthMethodFromName(const std::string& Name)
{
    return static_cast<TAuthMethod>(IndexOf(AuthMethodNames, Name));
}

TDeliverySettings ReadDeliverySettings(const TSettingsStore& Store)
{
    // A number the file lacks, or holds garbled, keeps its default.
    const auto number = [&Store](const char* Name, int Default) {
        if (!Store.ValueExists(Name)) return Default;
        try {
            return std::max(0, StrToInt(Store.ReadString(Name)));
        } catch (const Exception&) {
            return Default;
        }
    };
    TDeliverySettings s;
    s.MaxRecipients = number("MaxRecipients", 0);
    s.PauseMs = number("PauseMs", 0);
    s.SkipRefused = number("SkipRefused", 0) != 0;
    s.Security = SecurityFromName(Store.ReadString("Security"));
    s.AuthUser = Store.ReadString("AuthUser");
    s.AuthMethod = AuthMethodFromName(Store.ReadString("AuthMethod"));
    s.CAFile = Store.ReadString("CAFile");
    s.Fingerprint = Store.ReadString("Fingerprint");
    s.ExtendedSmtp = number("ExtendedSmtp", 0) != 0;
    return s;
}

void WriteDeliverySettings(TSettingsStore& Store, const TDeliverySettings& Settings)
{
    Store.WriteString("MaxRecipients", std::to_string(Settings.MaxRecipients));
    Store.WriteString("PauseMs", std::to_string(Settings.PauseMs));
    Store.WriteString("SkipRefused", Settings.SkipRefused ? "1" : "0");
    Store.WriteString("Security", SecurityName(Settings.Security));
    Store.WriteString("AuthUser", Settings.AuthUser);
    Store.WriteString("AuthMethod", AuthMethodSettingName(Settings.AuthMethod));
    Store.WriteString("CAFile", Settings.CAFile);
    Store.WriteString("Fingerprint", Settings.Fingerprint);
    Store.WriteString("ExtendedSmtp", Settings.ExtendedSmtp ? "1" : "0");
}
