#pragma once
// Quoted-printable (RFC 2045 §6.7) for text parts: each line of Text (ended by CR LF, LF
// or the end) becomes one or more lines of at most 76 characters, joined by soft line
// breaks ("=" at the end). "=", control bytes other than TAB, bytes >= 0x7F and a blank
// at the end of a line are written as =XX; an encoded triple is never split. Each output
// line ends with CR LF. Raises nothing.
#include <string>

std::string QuotedPrintableEncode(const std::string& Text);

// Appends the encoding of one line (without its line end) to Out.
void QuotedPrintableLine(const char* Line, size_t Count, std::string& Out);
