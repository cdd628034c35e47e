#include "MessageComposer.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/Exception.h"
#include "mime/S_BufferStream.h"
#include "mime/UUProcessor.h"

namespace {

const char* const CRLF = "\r\n";
constexpr size_t MaxLineOctets = 998;

bool HasHighBytes(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}

bool HasHighBytes(const TStringList& Lines)
{
    for (const auto& line : Lines.Items())
        if (HasHighBytes(line)) return true;
    return false;
}

// A header value must stay on its own line: CR, LF and NUL would start new lines.
std::string HeaderSafe(std::string s)
{
    for (char& c : s)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return s;
}

std::string Base64(const std::string& s)
{
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= s.size(); i += 3) {
        const uint32_t v = (uint32_t{static_cast<unsigned char>(s[i])} << 16) |
                           (uint32_t{static_cast<unsigned char>(s[i + 1])} << 8) |
                           static_cast<unsigned char>(s[i + 2]);
        out += a[v >> 18];
        out += a[(v >> 12) & 63];
        out += a[(v >> 6) & 63];
        out += a[v & 63];
    }
    if (i < s.size()) {
        const uint32_t b0 = static_cast<unsigned char>(s[i]);
        const uint32_t b1 = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
        out += a[b0 >> 2];
        out += a[((b0 & 3) << 4) | (b1 >> 4)];
        out += i + 1 < s.size() ? a[(b1 & 15) << 2] : '=';
        out += '=';
    }
    return out;
}

// RFC 2047 encoded-words (UTF-8, base64) for a text with non-ASCII bytes; ASCII stands as
// it is. Each word carries at most 45 octets (75 characters) and never splits a character.
std::string EncodedWords(const std::string& Text)
{
    if (!HasHighBytes(Text)) return Text;
    std::string out;
    size_t start = 0;
    while (start < Text.size()) {
        size_t end = std::min(start + 45, Text.size());
        while (end < Text.size() && end > start + 1 &&
               (static_cast<unsigned char>(Text[end]) & 0xC0) == 0x80)
            --end;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(Text.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

// "To: a,b,c" as one line; past 998 octets it is folded after commas.
std::string AddressLine(const std::string& Prefix, const TStringList& Entries)
{
    std::string line = Prefix;
    size_t total = Prefix.size();
    for (const auto& e : Entries.Items()) total += e.size() + 1;
    if (total <= MaxLineOctets + 1) {
        for (int i = 0; i < Entries.Count(); ++i) {
            if (i > 0) line += ',';
            line += HeaderSafe(Entries[i]);
        }
        return line;
    }
    size_t lineLen = Prefix.size();
    for (int i = 0; i < Entries.Count(); ++i) {
        const std::string e = HeaderSafe(Entries[i]);
        if (i == 0) {
            line += e;
            lineLen += e.size();
            continue;
        }
        // Leave room for the comma that may follow this entry.
        if (lineLen + 1 + e.size() + 1 > MaxLineOctets) {
            line += ",\r\n ";
            lineLen = 1;
        } else {
            line += ',';
            lineLen += 1;
        }
        line += e;
        lineLen += e.size();
    }
    return line;
}

const char* TextContentType(TSubType SubType)
{
    switch (SubType) {
    case mtEnriched: return "text/enriched";
    case mtSgml: return "text/sgml";
    case mtTabSeperated: return "text/tab-separated-values";
    case mtHtml: return "text/html";
    default: return "text/plain";
    }
}

std::string Charset(bool Utf8) { return Utf8 ? "charset=utf-8" : "charset=us-ascii"; }

void Append(TMemoryStream& Body, const std::string& Text) { Body.WriteString(Text); }

// Each body line plus CR LF, with a "." doubled at its start (SMTP transparency).
void AppendLines(TMemoryStream& Body, const TStringList& Lines)
{
    std::string chunk;
    for (const auto& line : Lines.Items()) {
        if (!line.empty() && line[0] == '.') chunk += '.';
        chunk += line;
        chunk += CRLF;
        if (chunk.size() >= 65536) {
            Append(Body, chunk);
            chunk.clear();
        }
    }
    Append(Body, chunk);
}

int64_t EncodedSize(int64_t n, UUMethods Method)
{
    const int64_t lines = (n + 44) / 45;
    if (Method == uuMime) return (n + 2) / 3 * 4 + 2 * lines;
    return lines * 63 + 3;
}

// A close upper estimate of the whole body, so that it is allocated once.
int64_t EstimateBody(const TPostMessage& Msg, UUMethods Method, const std::string& Boundary)
{
    int64_t size = 256 + 2 * static_cast<int64_t>(Boundary.size());
    for (const auto& line : Msg.Body().Items()) size += static_cast<int64_t>(line.size()) + 3;
    for (const auto& entry : Msg.Attachments().Items()) {
        size += 256 + static_cast<int64_t>(Boundary.size() + 2 * entry.size());
        std::error_code ec;
        const auto n = std::filesystem::file_size(entry, ec);
        if (!ec) size += EncodedSize(static_cast<int64_t>(n), Method);
    }
    return size;
}

}  // namespace

std::string TMessageComposer::MakeBoundary()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char time[64];
    // %X is the locale's long time format (a 12-hour locale adds its designator).
    const size_t n = std::strftime(time, sizeof time, "%X", &local);
    return "====================54535" + std::string(time, n) + "====";
}

std::string TMessageComposer::AttachmentName(const std::string& Entry)
{
    const size_t cut = Entry.find_last_of("/\\:");
    return cut == std::string::npos ? Entry : Entry.substr(cut + 1);
}

void TMessageComposer::ComposeMessage(const TPostMessage& Msg, TSubType SubType, UUMethods EncodeType,
                                      TExStringList& Header, std::string& Boundary, TMemoryStream& Body)
{
    ComposeHeader(Msg, SubType, Header, Boundary);
    ComposeBody(Msg, EncodeType, Boundary, Body);
}

void TMessageComposer::ComposeHeader(const TPostMessage& Msg, TSubType SubType, TExStringList& Header,
                                     std::string& Boundary)
{
    Header.Clear();
    std::string name = HeaderSafe(Msg.FromName());
    // An encoded-word must stand apart from the address that follows it.
    if (HasHighBytes(name)) name = EncodedWords(name) + " ";
    Header.Add("From: " + name + "<" + HeaderSafe(Msg.FromAddress()) + ">");
    if (Msg.ToAddress().Count() > 0) Header.Add(AddressLine("To: ", Msg.ToAddress()));
    if (Msg.ToCarbonCopy().Count() > 0) Header.Add(AddressLine("CC: ", Msg.ToCarbonCopy()));
    Header.SetValue("Subject", EncodedWords(HeaderSafe(Msg.Subject())));
    Header.SetValue("X-Mailer", HeaderSafe(Msg.LocalProgram()));
    if (!Msg.ReplyTo().empty()) Header.SetValue("Reply-To", HeaderSafe(Msg.ReplyTo()));
    if (!Msg.Date().empty()) Header.SetValue("Date", HeaderSafe(Msg.Date()));
    Header.Add("Mime-Version: 1.0");
    if (Msg.Attachments().Count() > 0) {
        Boundary = MakeBoundary();
        Header.Add("Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"");
        return;
    }
    const bool utf8 = HasHighBytes(Msg.Body());
    Header.Add(std::string("Content-Type: ") + TextContentType(SubType) + "; " + Charset(utf8));
    if (utf8) Header.Add("Content-Transfer-Encoding: 8bit");
}

void TMessageComposer::ComposeBody(const TPostMessage& Msg, UUMethods EncodeType, const std::string& Boundary,
                                   TMemoryStream& Body)
{
    Body.Clear();
    const int count = Msg.Attachments().Count();
    if (count == 0) {
        AppendLines(Body, Msg.Body());
        return;
    }
    Body.Reserve(EstimateBody(Msg, EncodeType, Boundary));
    const bool utf8 = HasHighBytes(Msg.Body());
    std::string textPart = "--" + Boundary + CRLF + "Content-Type: text/plain; " + Charset(utf8) + CRLF;
    if (utf8) textPart += std::string("Content-Transfer-Encoding: 8bit") + CRLF;
    Append(Body, textPart + CRLF);
    AppendLines(Body, Msg.Body());
    for (int i = 1; i <= count; ++i) WriteAttachmentPart(Msg, i, EncodeType, Boundary, Body);
    Append(Body, "--" + Boundary + "--" + CRLF);
}

void TMessageComposer::WriteAttachmentPart(const TPostMessage& Msg, int Index, UUMethods EncodeType,
                                           const std::string& Boundary, TMemoryStream& Body)
{
    const std::string& entry = Msg.Attachments()[Index - 1];
    const std::string name = HeaderSafe(AttachmentName(entry));
    Append(Body, "--" + Boundary + CRLF +
                 "Content-Type: application/octet-stream; name=\"" + name + "\"" + CRLF +
                 "Content-Transfer-Encoding: " + (EncodeType == uuMime ? "base64" : "x-uuencode") + CRLF +
                 "Content-Disposition: attachment; filename=\"" + name + "\"" + CRLF + CRLF);

    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(entry, fmOpenRead);
    } catch (const EFOpenError&) {
        if (OnAttachmentNotFound) OnAttachmentNotFound(entry);
        throw;
    }

    TUUProcessor encoder;
    encoder.SetMethod(EncodeType);
    encoder.SetInputStream(file.get());
    if (EncodeType == uuMime) {
        // Base64 lines never begin with ".", so they go straight to the end of the body:
        // no scratch copy of a large attachment.
        TS_BufferStream buffered(Body);
        encoder.SetOutputStream(&buffered);
        if (OnEncodeStart) OnEncodeStart(entry);
        encoder.Encode();
        Body.Seek(0, soFromEnd);
        if (OnEncodeEnd) OnEncodeEnd(entry);
        return;
    }

    // uuencoded lines may begin with "." and are dot-stuffed on the way into the body.
    TMemoryStream scratch;
    {
        TS_BufferStream buffered(scratch);
        encoder.SetOutputStream(&buffered);
        if (OnEncodeStart) OnEncodeStart(entry);
        encoder.Encode();
    }
    Body.Seek(0, soFromEnd);
    if (OnEncodeEnd) OnEncodeEnd(entry);
    const char* p = scratch.Memory();
    const char* const end = p + scratch.Size();
    std::string out;
    out.reserve(static_cast<size_t>(end - p) + 64);
    bool lineStart = true;
    for (; p != end; ++p) {
        if (lineStart && *p == '.') out += '.';
        out += *p;
        lineStart = *p == '\n';
    }
    Append(Body, out);
}

// Day and month names are spelled out here, not taken from the locale.
std::string MessageDate()
{
    static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t Now = std::time(nullptr);
    std::tm Local{};
    localtime_r(&Now, &Local);
    long Offset = Local.tm_gmtoff / 60;
    char Sign = Offset < 0 ? '-' : '+';
    if (Offset < 0)
        Offset = -Offset;
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  Days[Local.tm_wday], Local.tm_mday, Months[Local.tm_mon], Local.tm_year + 1900,
                  Local.tm_hour, Local.tm_min, Local.tm_sec, Sign, Offset / 60, Offset % 60);
    return Buffer;
}
