#pragma once
// What the "Connection and delivery" dialog edits, and how it is kept in the settings
// file: each value read with its default when absent or unreadable, so a settings file of
// an earlier version still loads. The password is not among them; it lives in the
// keyring (CredentialStore.h) or in memory only.
#include <string>

#include "send/SendRequest.h"

class TSettingsStore;

struct TDeliverySettings {
    int MaxRecipients = 0;  // per transaction; 0 = no limit
    int PauseMs = 0;        // between transactions
    bool SkipRefused = false;
    TSecurity Security = TSecurity::None;
    std::string AuthUser = {};  // empty: no login
    TAuthMethod AuthMethod = amAuto;
    std::string CAFile = {};
    std::string Fingerprint = {};
    bool ExtendedSmtp = false;
    // Kept for the session only: sending a password in clear text is a choice made anew.
    bool AllowPlaintextAuth = false;
    bool operator==(const TDeliverySettings&) const = default;
};

// Values MaxRecipients, PauseMs, SkipRefused, Security, AuthUser, AuthMethod, CAFile,
// Fingerprint and ExtendedSmtp of the open key. A text setting holding another type raises
// ESettingsError as ReadString does; a garbled number keeps its default.
TDeliverySettings ReadDeliverySettings(const TSettingsStore& Store);
// Raises what WriteString raises.
void WriteDeliverySettings(TSettingsStore& Store, const TDeliverySettings& Settings);

// "none", "starttls", "tls" and back; an unknown text is None.
const char* SecurityName(TSecurity Security);
TSecurity SecurityFromName(const std::string& Name);
// "auto", "plain", "login", "xoauth2" and back; an unknown text is amAuto.
const char* AuthMethodSettingName(TAuthMethod Method);
TAuthMethod AuthMethodFromName(const std::string& Name);
