#pragma once
// The login exchanges of SMTP AUTH (RFC 4954) as pure functions: the mechanism chosen
// from what the server offers, the command and the answers to its 334 challenges for
// PLAIN (RFC 4616), LOGIN and XOAUTH2, and what the protocol log shows instead, which
// never holds the secret nor its base64.
//
// AuthCommand and AuthResponse raise the general Exception "Invalid character in login
// name or password" for a NUL in a PLAIN field or a ^A in an XOAUTH2 one: the server
// would read a different name or secret than the user gave.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// amAuto asks the client to choose; the others name a mechanism.
enum TAuthMethod : uint8_t { amAuto = 0, amPlain, amLogin, amXOAuth2 };

// "PLAIN", "LOGIN", "XOAUTH2" ("" for amAuto).
std::string AuthMethodName(TAuthMethod Method);

// The mechanism to use, from the server's AUTH list (upper case): the one Requested when
// offered; for amAuto with a password PLAIN, else LOGIN; with an OAuth token (which is no
// password) XOAUTH2. None when nothing offered fits.
std::optional<TAuthMethod> ChooseAuthMethod(const std::vector<std::string>& Offered, TAuthMethod Requested,
                                            bool SecretIsToken);

// RFC 4616: base64 of authzid NUL authcid NUL passwd.
std::string PlainResponse(const std::string& AuthzId, const std::string& User, const std::string& Password);
// base64 of "user=" User ^A "auth=Bearer " Token ^A ^A.
std::string XOAuth2Response(const std::string& User, const std::string& Token);

// The command that starts the exchange: "AUTH PLAIN <response>", "AUTH LOGIN",
// "AUTH XOAUTH2 <response>".
std::string AuthCommand(TAuthMethod Method, const std::string& User, const std::string& Secret);
// The answer to the Step-th (from 0) 334 challenge: for LOGIN the base64 name, then the
// base64 password; for XOAUTH2 an empty line (its 334 carries the error, a 535 follows);
// for PLAIN "*", which cancels (RFC 4954 §4) since it has said everything.
std::string AuthResponse(TAuthMethod Method, int Step, const std::string& User, const std::string& Secret);

// What the protocol log shows for those lines: "AUTH PLAIN ***", "AUTH LOGIN",
// "AUTH XOAUTH2 ***"; "***" for an answer to a challenge ("" and "*" stay as they are).
std::string AuthCommandLogText(TAuthMethod Method);
std::string AuthResponseLogText(const std::string& Response);

// RFC 4648 base64 with padding.
std::string Base64Encode(const std::string& Data);
