#include "MessageComposer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/Exception.h"
#include "mime/MessageBodyStream.h"
#include "mime/QuotedPrintable.h"
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
                           (uint32_t{static_cast<unsigned char>(s[i + 1])} << 8) | static_cast<unsigned char>(s[i + 2]);
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
        while (end < Text.size() && end > start + 1 && (static_cast<unsigned char>(Text[end]) & 0xC0) == 0x80) --end;
        if (!out.empty()) out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(Text.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

// An entry "Name <address>" whose name holds non-ASCII bytes gets the name as encoded
// words (quotes around it dropped); any other entry stands as it is.
std::string AddressEntry(const std::string& Entry)
{
    std::string e = HeaderSafe(Entry);
    const size_t open = e.find('<');
    if (open == std::string::npos || !HasHighBytes(e.substr(0, open))) return e;
    size_t first = e.find_first_not_of(' ');
    size_t last = e.find_last_not_of(' ', open == 0 ? 0 : open - 1);
    std::string name = first < open && last != std::string::npos ? e.substr(first, last - first + 1) : "";
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    return EncodedWords(name) + " " + e.substr(open);
}

// "To: a,b,c" as one line; past 998 octets it is folded after commas.
std::string AddressLine(const std::string& Prefix, const TStringList& Entries)
{
    std::string line = Prefix;
    size_t total = Prefix.size();
    for (const auto& e : Entries.Items()) total += e.size() + 1;
    // Encoded names carry folds of their own.
    bool encoded = false;
    for (const auto& e : Entries.Items()) encoded = encoded || HasHighBytes(e);
    if (total <= MaxLineOctets + 1 && !encoded) {
        for (int i = 0; i < Entries.Count(); ++i) {
            if (i > 0) line += ',';
            line += HeaderSafe(Entries[i]);
        }
        return line;
    }
    size_t lineLen = Prefix.size();
    for (int i = 0; i < Entries.Count(); ++i) {
        const std::string e = AddressEntry(Entries[i]);
        if (i == 0) {
            line += e;
            const size_t fold = e.rfind("\r\n");
            lineLen = fold == std::string::npos ? lineLen + e.size() : e.size() - fold - 2;
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
        const size_t fold = e.rfind("\r\n");
        lineLen = fold == std::string::npos ? lineLen + e.size() : e.size() - fold - 2;
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

// Calls Fn(start, count) for each line of the body. An entry holding CR or LF is more
// than one line: sent as it stands, a lone "." in it would end the message data.
template <typename F>
void ForEachBodyLine(const TStringList& Lines, F&& Fn)
{
    for (const auto& entry : Lines.Items()) {
        const char* p = entry.data();
        const char* const end = p + entry.size();
        for (;;) {
            const char* brk = p;
            while (brk != end && *brk != '\r' && *brk != '\n') ++brk;
            Fn(p, static_cast<size_t>(brk - p));
            if (brk == end) break;
            p = brk + ((*brk == '\r' && brk + 1 != end && brk[1] == '\n') ? 2 : 1);
        }
    }
}

// How the text part travels: as it stands, unless a line is too long for SMTP (998
// octets) or 8-bit bytes may not be sent as they are.
bool NeedsQuotedPrintable(const TStringList& Lines, bool Utf8, bool Allow8Bit)
{
    if (Utf8 && !Allow8Bit) return true;
    bool tooLong = false;
    ForEachBodyLine(Lines, [&](const char*, size_t n) { tooLong = tooLong || n > MaxLineOctets; });
    return tooLong;
}

std::string TextEncodingLine(bool Utf8, bool QuotedPrintable)
{
    if (QuotedPrintable) return "Content-Transfer-Encoding: quoted-printable";
    return Utf8 ? "Content-Transfer-Encoding: 8bit" : "";
}

// Each body line plus CR LF, with a "." doubled at its start (SMTP transparency).
template <typename Sink>
void AppendLines(Sink&& Body, const TStringList& Lines, bool QuotedPrintable)
{
    std::string chunk;
    std::string encoded;
    ForEachBodyLine(Lines, [&](const char* p, size_t n) {
        if (QuotedPrintable) {
            encoded.clear();
            QuotedPrintableLine(p, n, encoded);
            // Soft-broken lines may begin with "." too.
            for (size_t at = 0; at < encoded.size();) {
                if (encoded[at] == '.') chunk += '.';
                const size_t eol = encoded.find('\n', at) + 1;
                chunk.append(encoded, at, eol - at);
                at = eol;
            }
        } else {
            if (n > 0 && *p == '.') chunk += '.';
            chunk.append(p, n);
            chunk += CRLF;
        }
        if (chunk.size() >= 65536) {
            Body(chunk);
            chunk.clear();
        }
    });
    Body(chunk);
}

// A quoted-string (RFC 2045 parameter value): " and \ are escaped.
std::string Quoted(const std::string& Value)
{
    std::string out = "\"";
    for (char c : Value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// An RFC 2231 extended value: utf-8'' and every byte outside the token characters as %XX.
std::string ExtendedValue(const std::string& Value)
{
    static const char Hex[] = "0123456789ABCDEF";
    std::string out = "utf-8''";
    for (unsigned char c : Value) {
        // ASCII only: the C library's classes follow the locale.
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (alnum || (c != 0 && std::strchr("!#$&+-.^_`|~", c))) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        }
    }
    return out;
}

// The file's content as a stream to encode, and its size. A directory or a file that
// cannot be read is an open failure; a file whose size the system does not know (a pipe,
// /proc) is read to its end first, since its size would say it is empty, into an unlinked
// temporary file, so that a large one does not fill memory.
std::unique_ptr<TStream> OpenAttachment(const std::string& Entry, int64_t& Size)
{
    struct stat st {};
    const auto fail = [&] { return EFOpenError(Format("Cannot open file %s", Entry.c_str())); };
    if (::stat(Entry.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) throw fail();
    auto file = std::make_unique<TFileStream>(Entry, fmOpenRead);
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        Size = st.st_size;
        return file;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillcast-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) throw EFCreateError(Format("Cannot create file %s", name.c_str()));
    ::close(fd);
    auto spool = std::make_unique<TFileStream>(name, fmOpenReadWrite);
    ::unlink(name.c_str());
    char buf[65536];
    for (int32_t n; (n = file->Read(buf, sizeof buf)) != 0;) {
        if (n < 0) throw fail();
        spool->WriteBuffer(buf, n);
    }
    Size = spool->Position();
    spool->SetPosition(0);
    return spool;
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
        if (!ec) size += TMessageBodyStream::EncodedSize(static_cast<int64_t>(n), Method);
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
    // %X is the locale's long time format (a 12-hour locale adds its designator). A
    // boundary must be ASCII, which CJK, Arabic and Persian formats are not.
    size_t n = std::strftime(time, sizeof time, "%X", &local);
    if (HasHighBytes(std::string(time, n))) n = std::strftime(time, sizeof time, "%H:%M:%S", &local);
    return "====================54535" + std::string(time, n) + "====";
}

std::string TMessageComposer::AttachmentName(const std::string& Entry)
{
    const size_t cut = Entry.find_last_of("/\\:");
    return cut == std::string::npos ? Entry : Entry.substr(cut + 1);
}

// Where the body goes: into memory at once, or into a stream that encodes the files as
// it is read. The layout and the events are the same for both.
struct TMessageComposer::TBodySink {
    virtual ~TBodySink() = default;
    virtual void Text(const std::string& Text) = 0;
    // Runs between OnEncodeStart and OnEncodeEnd.
    virtual void Attachment(const std::string& Entry, std::unique_ptr<TStream> File, int64_t Size,
                            UUMethods Method) = 0;
};

namespace {

class TMemorySink : public TMessageComposer::TBodySink {
public:
    explicit TMemorySink(TMemoryStream& Body) : FBody(Body) {}
    void Text(const std::string& Text) override { FBody.WriteString(Text); }
    void Attachment(const std::string&, std::unique_ptr<TStream> File, int64_t, UUMethods Method) override
    {
        TUUProcessor encoder;
        encoder.SetMethod(Method);
        encoder.SetInputStream(File.get());
        if (Method == uuMime) {
            // Base64 lines never begin with ".", so they go straight to the end of the body:
            // no scratch copy of a large attachment.
            TS_BufferStream buffered(FBody);
            encoder.SetOutputStream(&buffered);
            encoder.Encode();
            FBody.Seek(0, soFromEnd);
            return;
        }
        // uuencoded lines may begin with "." and are dot-stuffed on the way into the body.
        TMemoryStream scratch;
        {
            TS_BufferStream buffered(scratch);
            encoder.SetOutputStream(&buffered);
            encoder.Encode();
        }
        FBody.Seek(0, soFromEnd);
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
        FBody.WriteString(out);
    }

private:
    TMemoryStream& FBody;
};

class TStreamSink : public TMessageComposer::TBodySink {
public:
    explicit TStreamSink(TMessageBodyStream& Body) : FBody(Body) {}
    void Text(const std::string& Text) override { FBody.AddText(Text); }
    void Attachment(const std::string& Entry, std::unique_ptr<TStream> File, int64_t Size, UUMethods Method) override
    {
        FBody.AddAttachment(Entry, std::move(File), Size, Method);
    }

private:
    TMessageBodyStream& FBody;
};

}  // namespace

void TMessageComposer::ComposeMessage(const TPostMessage& Msg, TSubType SubType, UUMethods EncodeType,
                                      TExStringList& Header, std::string& Boundary, TMemoryStream& Body)
{
    ComposeHeader(Msg, SubType, Header, Boundary);
    Body.Clear();
    if (Msg.Attachments().Count() > 0) Body.Reserve(EstimateBody(Msg, EncodeType, Boundary));
    TMemorySink sink(Body);
    ComposeBody(Msg, EncodeType, Boundary, sink);
}

void TMessageComposer::ComposeMessage(const TPostMessage& Msg, TSubType SubType, UUMethods EncodeType,
                                      TExStringList& Header, std::string& Boundary, TMessageBodyStream& Body)
{
    ComposeHeader(Msg, SubType, Header, Boundary);
    Body.Clear();
    TStreamSink sink(Body);
    ComposeBody(Msg, EncodeType, Boundary, sink);
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
    const std::string encoding = TextEncodingLine(utf8, NeedsQuotedPrintable(Msg.Body(), utf8, Allow8Bit));
    if (!encoding.empty()) Header.Add(encoding);
}

void TMessageComposer::ComposeBody(const TPostMessage& Msg, UUMethods EncodeType, const std::string& Boundary,
                                   TBodySink& Body)
{
    const int count = Msg.Attachments().Count();
    const bool utf8 = HasHighBytes(Msg.Body());
    const bool qp = NeedsQuotedPrintable(Msg.Body(), utf8, Allow8Bit);
    const auto text = [&](const std::string& t) { Body.Text(t); };
    if (count == 0) {
        AppendLines(text, Msg.Body(), qp);
        return;
    }
    std::string textPart = "--" + Boundary + CRLF + "Content-Type: text/plain; " + Charset(utf8) + CRLF;
    const std::string encoding = TextEncodingLine(utf8, qp);
    if (!encoding.empty()) textPart += encoding + CRLF;
    Body.Text(textPart + CRLF);
    AppendLines(text, Msg.Body(), qp);
    for (int i = 1; i <= count; ++i) WriteAttachmentPart(Msg, i, EncodeType, Boundary, Body);
    Body.Text("--" + Boundary + "--" + CRLF);
}

void TMessageComposer::WriteAttachmentPart(const TPostMessage& Msg, int Index, UUMethods EncodeType,
                                           const std::string& Boundary, TBodySink& Body)
{
    const std::string& entry = Msg.Attachments()[Index - 1];
    const std::string name = HeaderSafe(AttachmentName(entry));
    // Readers that know RFC 2231 take the exact name from filename*; the others show the
    // quoted one.
    const std::string extended = HasHighBytes(name) ? ";\r\n filename*=" + ExtendedValue(name) : "";
    Body.Text("--" + Boundary + CRLF + "Content-Type: application/octet-stream; name=" + Quoted(name) + CRLF +
              "Content-Transfer-Encoding: " + (EncodeType == uuMime ? "base64" : "x-uuencode") + CRLF +
              "Content-Disposition: attachment; filename=" + Quoted(name) + extended + CRLF + CRLF);

    std::unique_ptr<TStream> file;
    int64_t size = 0;
    try {
        file = OpenAttachment(entry, size);
    } catch (const EFOpenError&) {
        if (OnAttachmentNotFound) OnAttachmentNotFound(entry);
        throw;
    }
    if (OnEncodeStart) OnEncodeStart(entry);
    Body.Attachment(entry, std::move(file), size, EncodeType);
    if (OnEncodeEnd) OnEncodeEnd(entry);
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
    if (Offset < 0) Offset = -Offset;
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", Days[Local.tm_wday],
                  Local.tm_mday, Months[Local.tm_mon], Local.tm_year + 1900, Local.tm_hour, Local.tm_min, Local.tm_sec,
                  Sign, Offset / 60, Offset % 60);
    return Buffer;
}
