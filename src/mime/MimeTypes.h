#pragma once
// Enumerations shared by the composer and the SMTP client.
#include <cstdint>

// Content sub-type of a message without attachments (the text part of a multipart
// message is always text/plain).
enum TSubType : uint8_t { mtPlain = 0, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

// Line format of encoded attachments: base64 (RFC 2045) or uuencode lines.
enum UUMethods : uint8_t { uuMime = 0, uuCode = 1 };
