#include <gtest/gtest.h>

#include <QByteArray>
#include <random>
#include <string>

#include "TestStreams.h"
#include "base/Exception.h"
#include "mime/UUProcessor.h"

namespace {

std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}

std::string Encode(const std::string& data, UUMethods method, TStream* input = nullptr)
{
    TMemoryStream in, out;
    in.WriteString(data);
    TUUProcessor enc;
    enc.SetMethod(method);
    enc.SetInputStream(input ? input : &in);
    enc.SetOutputStream(&out);
    enc.Encode();
    return out.DataString();
}

// Qt's encoder, cut into lines of 60 characters with CR LF.
std::string QtBase64Lines(const std::string& data)
{
    const QByteArray b64 = QByteArray(data.data(), static_cast<qsizetype>(data.size())).toBase64();
    std::string out;
    for (qsizetype i = 0; i < b64.size(); i += 60) out += b64.mid(i, 60).toStdString() + "\r\n";
    return out;
}

// Reads uuencode lines back, checking each line's shape on the way.
std::string UUDecodeChecked(const std::string& text)
{
    std::string data;
    size_t pos = 0;
    bool ended = false;
    auto value = [](char c) { return (c - 32) & 63; };
    while (pos < text.size()) {
        EXPECT_FALSE(ended) << "a line after the zero-length line";
        const size_t eol = text.find("\r\n", pos);
        EXPECT_NE(eol, std::string::npos);
        if (eol == std::string::npos) break;
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 2;
        const int n = value(line[0]);
        EXPECT_EQ(line.find(' '), std::string::npos) << "the blank is never produced";
        EXPECT_EQ(line.size(), 1 + static_cast<size_t>(n / 3 * 4 + (n % 3 ? n % 3 + 1 : 0))) << line;
        if (n == 0) { EXPECT_EQ(line, "`"); ended = true; continue; }
        int got = 0;
        for (size_t i = 1; i < line.size(); i += 4) {
            const uint32_t v = (value(line[i]) << 18) | (value(line[i + 1]) << 12) |
                               (i + 2 < line.size() ? value(line[i + 2]) << 6 : 0) |
                               (i + 3 < line.size() ? value(line[i + 3]) : 0);
            for (int k = 0; k < 3 && got < n; ++k, ++got)
                data += static_cast<char>((v >> (16 - 8 * k)) & 0xFF);
        }
        EXPECT_TRUE(n == 45 || pos + 3 == text.size()) << "a short line before the last";
    }
    EXPECT_TRUE(ended) << "no zero-length line";
    return data;
}

}  // namespace

TEST(UUProcessor, Base64MatchesQtForEveryLengthUpTo200)
{
    for (size_t n = 0; n <= 200; ++n) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n));
        ASSERT_EQ(Encode(data, uuMime), QtBase64Lines(data)) << "length " << n;
    }
}

TEST(UUProcessor, Base64MatchesQtForEveryByteValueAtEveryOffset)
{
    for (int shift = 0; shift < 256; ++shift) {
        std::string data(256, '\0');
        for (int i = 0; i < 256; ++i) data[static_cast<size_t>(i)] = static_cast<char>((i + shift) & 0xFF);
        ASSERT_EQ(Encode(data, uuMime), QtBase64Lines(data)) << "shift " << shift;
    }
}

TEST(UUProcessor, UUEncodeLinesDecodeBack)
{
    for (size_t n = 0; n <= 200; ++n) {
        const std::string data = RandomBytes(n, static_cast<unsigned>(n + 1000));
        ASSERT_EQ(UUDecodeChecked(Encode(data, uuCode)), data) << "length " << n;
    }
}

TEST(UUProcessor, KnownVectors)
{
    EXPECT_EQ(Encode("", uuMime), "");
    EXPECT_EQ(Encode("", uuCode), "`\r\n");
    EXPECT_EQ(Encode("abc", uuMime), "YWJj\r\n");
    EXPECT_EQ(Encode("abc", uuCode), "#86)C\r\n`\r\n");
    EXPECT_EQ(Encode(std::string(1, '\0'), uuMime), "AA==\r\n");
    EXPECT_EQ(Encode(std::string(1, '\0'), uuCode), "!``\r\n`\r\n");
    const std::string full = Encode(std::string(90, 'x'), uuCode);
    EXPECT_EQ(full.size(), 2 * 63 + 3u);
    EXPECT_EQ(full[0], 'M');
}

TEST(UUProcessor, ShortReadsKeepLinesOf45Bytes)
{
    const std::string data = RandomBytes(100000, 7);
    for (int32_t piece : {1, 7, 44, 46, 65521}) {
        TProbeStream in;
        in.WriteString(data);
        in.MaxRead = piece;
        EXPECT_EQ(Encode("", uuMime, &in), QtBase64Lines(data)) << "reads of " << piece;
    }
}

TEST(UUProcessor, EncodesFromTheStartAppendsAtOutputPositionAndRewinds)
{
    TMemoryStream in, out;
    in.WriteString("abcdef");  // position left at the end
    out.WriteString("head:");
    TUUProcessor enc;
    enc.SetInputStream(&in);
    enc.SetOutputStream(&out);
    int begins = 0, ends = 0;
    enc.OnBeginEncode = [&](TObject* s) { EXPECT_EQ(s, &enc); ++begins; };
    enc.OnEndEncode = [&](TObject* s) { EXPECT_EQ(s, &enc); ++ends; };
    enc.Encode();
    EXPECT_EQ(out.DataString(), "head:" + QtBase64Lines("abcdef"));
    EXPECT_EQ(out.Position(), 0);
    EXPECT_EQ(begins + ends, 2);
}

TEST(UUProcessor, InputThatStopsOrFailsEndsTheLoop)
{
    TProbeStream stalled;  // claims 100 bytes, delivers 10
    stalled.WriteString(std::string(100, 'z'));
    stalled.StopAt = 10;
    stalled.MaxRead = 10;
    EXPECT_EQ(Encode("", uuMime, &stalled), QtBase64Lines(std::string(10, 'z')));

    TProbeStream broken;
    broken.WriteString("data");
    broken.FailReads = true;
    TMemoryStream out;
    out.WriteString("x");
    TUUProcessor enc;
    enc.SetInputStream(&broken);
    enc.SetOutputStream(&out);
    bool ended = false;
    enc.OnEndEncode = [&](TObject*) { ended = true; };
    EXPECT_THROW(enc.Encode(), EReadError);
    EXPECT_TRUE(ended);
    EXPECT_EQ(out.Position(), 0);
}

TEST(UUProcessor, RefusedWriteIsAnError)
{
    TMemoryStream in;
    in.WriteString("abc");
    TProbeStream out;
    out.AcceptWrite = 2;
    TUUProcessor enc;
    enc.SetInputStream(&in);
    enc.SetOutputStream(&out);
    EXPECT_THROW(enc.Encode(), EWriteError);
}
