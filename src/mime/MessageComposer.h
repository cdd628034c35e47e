#pragma once
// Builds one message: the header block (as lines of a TExStringList) and the body
// (dot-stuffed text lines, or a multipart/mixed body with one plain-text part and one
// encoded part per attachment file), the body either in memory or as a stream that
// encodes the files while it is read. The SMTP client composes through this and sends
// Header and Body unchanged.
//
// Header values never carry CR, LF or NUL (they become blanks); To and CC lines longer
// than 998 octets are folded after commas; a Subject or sender name with non-ASCII bytes
// becomes RFC 2047 encoded-words, so do To and CC display names; a text with non-ASCII
// bytes is declared charset=utf-8 with Content-Transfer-Encoding: 8bit. A body entry
// holding CR or LF is split into lines; a text with a line over 998 octets, or 8-bit text
// when Allow8Bit is off, goes quoted-printable. The boundary is ASCII in every locale.
#include <string>

#include "base/Component.h"
#include "base/Stream.h"
#include "mime/ExStringList.h"
#include "mime/MessageBodyStream.h"
#include "mime/MimeTypes.h"
#include "mime/PostMessage.h"

// Current local time as an Internet message date: "Sun, 06 Dec 2026 09:15:02 +0100".
std::string MessageDate();

class TMessageComposer {
public:
    // Each receives the attachment entry as stored (the whole path).
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    // Called before the open failure EFOpenError "Cannot open file %s" propagates (also
    // for a directory or a file that cannot be read).
    TFileItem OnAttachmentNotFound;
    // Off for a server that did not offer 8BITMIME: 8-bit text then goes quoted-printable.
    bool Allow8Bit = true;

    // Empties Header and Body first; fills Header, Boundary (only when there are
    // attachments; otherwise left as it was) and Body. Errors of the attachment files
    // propagate; Body is then partly filled.
    void ComposeMessage(const TPostMessage& Msg, TSubType SubType, UUMethods EncodeType, TExStringList& Header,
                        std::string& Boundary, TMemoryStream& Body);
    // The same message, with a Body that encodes the attachment files while it is read,
    // so memory does not grow with them. The files are opened here (the events and the
    // open failure come as above); their encoding waits for the reader.
    void ComposeMessage(const TPostMessage& Msg, TSubType SubType, UUMethods EncodeType, TExStringList& Header,
                        std::string& Boundary, TMessageBodyStream& Body);

    // "====================54535" + the local time of day in the locale's long time
    // format + "====".
    static std::string MakeBoundary();
    // The attachment's file name as written into its part (a quoted-string, plus an RFC
    // 2231 filename* parameter when it is not ASCII): the text after the last
    // '/', '\' or ':' of the entry.
    static std::string AttachmentName(const std::string& Entry);

    struct TBodySink;

private:
    void ComposeHeader(const TPostMessage& Msg, TSubType SubType, TExStringList& Header, std::string& Boundary);
    void ComposeBody(const TPostMessage& Msg, UUMethods EncodeType, const std::string& Boundary, TBodySink& Body);
    void WriteAttachmentPart(const TPostMessage& Msg, int Index, UUMethods EncodeType, const std::string& Boundary,
                             TBodySink& Body);
};
