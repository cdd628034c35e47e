#include "mime/QuotedPrintable.h"

#include <cstring>

namespace {
constexpr size_t MaxEncodedLine = 76;
}  // namespace

void QuotedPrintableLine(const char* Line, size_t Count, std::string& Out)
{
    static const char Hex[] = "0123456789ABCDEF";
    size_t column = 0;
    for (size_t i = 0; i < Count; ++i) {
        const unsigned char c = static_cast<unsigned char>(Line[i]);
        const bool last = i + 1 == Count;
        // A blank at the end of a line would be stripped by some relays.
        const bool encode = c == '=' || (c < 32 && c != '\t') || c >= 127 || (last && (c == ' ' || c == '\t'));
        const size_t width = encode ? 3 : 1;
        // Room is kept for the "=" of a soft break unless this is the line's last token.
        if (column + width > (last ? MaxEncodedLine : MaxEncodedLine - 1)) {
            Out += "=\r\n";
            column = 0;
        }
        if (encode) {
            Out += '=';
            Out += Hex[c >> 4];
            Out += Hex[c & 15];
        } else {
            Out += static_cast<char>(c);
        }
        column += width;
    }
    Out += "\r\n";
}

std::string QuotedPrintableEncode(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size() + Text.size() / 8 + 8);
    size_t start = 0;
    while (start < Text.size()) {
        const char* lf = static_cast<const char*>(std::memchr(Text.data() + start, '\n', Text.size() - start));
        size_t end = lf ? static_cast<size_t>(lf - Text.data()) : Text.size();
        const size_t next = lf ? end + 1 : Text.size();
        if (lf && end > start && Text[end - 1] == '\r') --end;
        QuotedPrintableLine(Text.data() + start, end - start, out);
        start = next;
    }
    return out;
}
