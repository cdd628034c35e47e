// Round trips of the three encoders: base64 and uuencode lines (through the buffered
// stream, as the composer writes them) and quoted-printable text decode to exactly what
// went in, and every encoded line keeps to its format's length.
#include <QByteArray>

#include <string>

#include "FuzzCheck.h"
#include "mime/QuotedPrintable.h"
#include "mime/S_BufferStream.h"
#include "mime/UUProcessor.h"

namespace {

std::string Encode(const std::string& Input, UUMethods Method)
{
    TMemoryStream source, encoded;
    source.WriteString(Input);
    TUUProcessor encoder;
    encoder.SetMethod(Method);
    encoder.SetInputStream(&source);
    {
        TS_BufferStream buffered(encoded);
        encoder.SetOutputStream(&buffered);
        encoder.Encode();
    }
    return encoded.DataString();
}

// Calls Fn for each CR LF line of Text (without the line end); every line must have one.
template <typename F>
void Lines(const std::string& Text, F&& Fn)
{
    for (size_t at = 0; at < Text.size();) {
        const size_t end = Text.find("\r\n", at);
        FUZZ_CHECK(end != std::string::npos);
        Fn(Text.substr(at, end - at));
        at = end + 2;
    }
}

void CheckBase64(const std::string& Input)
{
    std::string joined;
    Lines(Encode(Input, uuMime), [&](const std::string& Line) {
        FUZZ_CHECK(!Line.empty() && Line.size() <= 60 && Line.size() % 4 == 0);
        joined += Line;
    });
    const auto decoded =
        QByteArray::fromBase64Encoding(QByteArray::fromStdString(joined), QByteArray::AbortOnBase64DecodingErrors);
    FUZZ_CHECK(decoded && decoded.decoded.toStdString() == Input);
}

int UuValue(char C) { return C == '`' ? 0 : (C - 32) & 63; }

void CheckUuencode(const std::string& Input)
{
    std::string decoded;
    bool ended = false;
    Lines(Encode(Input, uuCode), [&](const std::string& Line) {
        FUZZ_CHECK(!ended && !Line.empty() && Line[0] >= ' ' && Line[0] <= '`');
        const int n = UuValue(Line[0]);
        FUZZ_CHECK(n <= 45 && Line.size() == 1 + static_cast<size_t>(n + 2) / 3 * 4 - (n % 3 ? 3 - n % 3 : 0));
        for (char c : Line) FUZZ_CHECK(c > ' ' && c <= '`');
        ended = n == 0;
        std::string chars = Line.substr(1) + "```";
        for (int i = 0, got = 0; got < n; i += 4) {
            const uint32_t v = UuValue(chars[i]) << 18 | UuValue(chars[i + 1]) << 12 | UuValue(chars[i + 2]) << 6 |
                               UuValue(chars[i + 3]);
            for (int k = 2; k >= 0 && got < n; --k, ++got) decoded += static_cast<char>(v >> (8 * k));
        }
    });
    FUZZ_CHECK(ended && decoded == Input);
}

int HexValue(char C)
{
    if (C >= '0' && C <= '9') return C - '0';
    FUZZ_CHECK(C >= 'A' && C <= 'F');
    return C - 'A' + 10;
}

void CheckQuotedPrintable(const std::string& Input)
{
    // The text's lines (LF or CR LF) come back each ended by CR LF.
    std::string expected;
    for (size_t at = 0; at < Input.size();) {
        const size_t lf = Input.find('\n', at);
        if (lf == std::string::npos) {
            expected += Input.substr(at) + "\r\n";
            break;
        }
        expected += Input.substr(at, lf - at - (lf > at && Input[lf - 1] == '\r' ? 1 : 0)) + "\r\n";
        at = lf + 1;
    }
    std::string decoded;
    Lines(QuotedPrintableEncode(Input), [&](const std::string& Line) {
        FUZZ_CHECK(Line.size() <= 76);
        bool soft = false;
        for (size_t i = 0; i < Line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(Line[i]);
            FUZZ_CHECK(c == '\t' || (c >= ' ' && c < 127));
            if (c != '=') {
                decoded += static_cast<char>(c);
            } else if (i + 1 == Line.size()) {
                soft = true;
            } else {
                FUZZ_CHECK(i + 2 < Line.size());
                decoded += static_cast<char>(HexValue(Line[i + 1]) << 4 | HexValue(Line[i + 2]));
                i += 2;
            }
        }
        // A blank at the end of a line would be lost on the way.
        if (!Line.empty() && !soft) FUZZ_CHECK(Line.back() != ' ' && Line.back() != '\t');
        if (!soft) decoded += "\r\n";
    });
    FUZZ_CHECK(decoded == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    CheckBase64(input);
    CheckUuencode(input);
    CheckQuotedPrintable(input);
    return 0;
}
