#include <gtest/gtest.h>

#include <QByteArray>

#include "TestStreams.h"
#include "base/Exception.h"
#include "mime/UUProcessor.h"

namespace {

std::string Encode(TStream& in, UUMethods method, TStream* out = nullptr)
{
    TMemoryStream local;
    TUUProcessor enc;
    enc.SetMethod(method);
    enc.SetInputStream(&in);
    enc.SetOutputStream(out ? out : &local);
    enc.Encode();
    return local.DataString();
}

std::string Encode(const std::string& data, UUMethods method)
{
    TMemoryStream in;
    in.WriteString(data);
    return Encode(in, method);
}

// Qt's base64, cut into lines of 60 characters; for uuencode the same 6-bit values in the
// uuencode alphabet, unpadded, behind a length character, and the zero-length line.
std::string Expected(const std::string& data, UUMethods method)
{
    static const std::string b64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string qt = QByteArray(data.data(), static_cast<qsizetype>(data.size())).toBase64().toStdString();
    std::string out;
    for (size_t i = 0; i < qt.size(); i += 60) {
        std::string line = qt.substr(i, 60);
        if (method == uuCode) {
            const size_t bytes = std::min<size_t>(45, data.size() - i / 4 * 3);
            line.erase(line.find_last_not_of('=') + 1);
            for (char& c : line) c = static_cast<char>(b64.find(c) == 0 ? '`' : 32 + b64.find(c));
            line.insert(line.begin(), static_cast<char>(32 + bytes));
        }
        out += line + "\r\n";
    }
    return method == uuCode ? out + "`\r\n" : out;
}

}  // namespace

// Also with short reads, whose pieces must not cut the 45-byte lines.
TEST(UUProcessor, MatchesQtForEveryLengthUpTo200AndEveryByteAtEveryOffset)
{
    for (UUMethods method : {uuMime, uuCode})
        for (size_t n = 0; n <= 200; ++n) {
            const std::string data = RandomBytes(n, static_cast<unsigned>(n));
            ASSERT_EQ(Encode(data, method), Expected(data, method)) << "method " << method << " length " << n;
        }
    for (int shift = 0; shift < 256; ++shift) {
        std::string data(256, '\0');
        for (int i = 0; i < 256; ++i) data[static_cast<size_t>(i)] = static_cast<char>((i + shift) & 0xFF);
        ASSERT_EQ(Encode(data, uuMime), Expected(data, uuMime)) << "shift " << shift;
    }
    const std::string data = RandomBytes(100000, 7);
    for (int32_t piece : {1, 44, 46, 65521}) {
        TProbeStream in;
        in.WriteString(data);
        in.MaxRead = piece;
        EXPECT_EQ(Encode(in, uuMime), Expected(data, uuMime)) << "reads of " << piece;
    }
}

// Encodes from the input's start, appends at the output's position and rewinds it, even
// when a read fails; input that stops delivering ends the loop; failures propagate.
TEST(UUProcessor, StreamPositionsAndFailures)
{
    TMemoryStream in, out;
    in.WriteString("abcdef");
    out.WriteString("head:");
    TUUProcessor enc;
    enc.SetInputStream(&in);
    enc.SetOutputStream(&out);
    int calls = 0;
    enc.OnBeginEncode = enc.OnEndEncode = [&](TObject* s) { calls += s == &enc; };
    enc.Encode();
    EXPECT_EQ(out.DataString(), "head:" + Expected("abcdef", uuMime));
    EXPECT_EQ(out.Position(), 0);
    EXPECT_EQ(calls, 2);

    TProbeStream stalled;  // claims 100 bytes, delivers 10
    stalled.WriteString(std::string(100, 'z'));
    stalled.StopAt = stalled.MaxRead = 10;
    EXPECT_EQ(Encode(stalled, uuMime), Expected(std::string(10, 'z'), uuMime));
    TProbeStream broken, sink;
    broken.WriteString("data");
    broken.FailReads = true;
    sink.WriteString("x");
    EXPECT_THROW(Encode(broken, uuMime, &sink), EReadError);
    EXPECT_EQ(sink.Position(), 0);
    TProbeStream refusing;
    refusing.AcceptWrite = 2;
    EXPECT_THROW(Encode(in, uuMime, &refusing), EWriteError);
}
