#pragma once
// TSubmissionOptions: how the SMTP client protects the connection and logs in (RFC 6409
// submission). With Security None, no AuthUser and ExtendedSmtp false the client speaks
// plain HELO SMTP. Raises nothing.
#include <string>

#include "smtp/SaslAuth.h"

// How the connection is protected: not at all, upgraded after EHLO, or TLS from the first byte.
enum class TSecurity { None, StartTls, Tls };

struct TSubmissionOptions {
    TSecurity Security = TSecurity::None;
    std::string CAFile;       // empty: the system's trust store
    std::string Fingerprint;  // SHA-256 of the server's certificate; set: replaces the checks
    std::string AuthUser;     // empty: no login
    std::string Password;     // a password, or the token for XOAUTH2
    TAuthMethod AuthMethod = amAuto;
    bool AllowPlaintextAuth = false;  // credentials over an unencrypted connection
    bool ExtendedSmtp = false;        // EHLO even without TLS or login

    // EHLO is spoken when any of the extended features is asked for.
    bool UsesEhlo() const { return Security != TSecurity::None || !AuthUser.empty() || ExtendedSmtp; }
};
