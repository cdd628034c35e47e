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

// Data read at most MaxRead bytes at a time.
std::string Encode(const std::string& data, UUMethods method, int32_t maxRead = INT32_MAX)
{
    TProbeStream in;
    in.WriteString(data);
    in.MaxRead = maxRead;
    return Encode(in, method);
}

// Qt's base64, cut into lines of 60 characters.
std::string QtBase64(const std::string& data)
{
    const std::string qt = QByteArray(data.data(), static_cast<qsizetype>(data.size())).toBase64().toStdString();
    std::string out;
    for (size_t i = 0; i < qt.size(); i += 60) out += qt.substr(i, 60) + "\r\n";
    return out;
}

}  // namespace

// RFC 4648's vectors and uuencode ones from Python's binascii.b2a_uu (without its padding
// character); every byte value at every offset and lines cut at 45 bytes as Qt's base64
// has them, under short reads too, whose pieces must not cut the lines.
TEST(UUProcessor, MatchesVectorsAndQtUnderShortReads)
{
    // clang-format off
    const std::tuple<UUMethods, std::string, std::string> vectors[] = {
        {uuMime, "", ""}, {uuMime, "f", "Zg==\r\n"}, {uuMime, "fo", "Zm8=\r\n"}, {uuMime, "foo", "Zm9v\r\n"},
        {uuMime, "foob", "Zm9vYg==\r\n"}, {uuMime, "fooba", "Zm9vYmE=\r\n"}, {uuMime, "foobar", "Zm9vYmFy\r\n"},
        {uuCode, "", "`\r\n"}, {uuCode, "Cat", "#0V%T\r\n`\r\n"},
        {uuCode, "Hello, world!\n", ".2&5L;&\\L('=O<FQD(0H\r\n`\r\n"}};
    // clang-format on
    for (const auto& [method, data, encoded] : vectors) EXPECT_EQ(Encode(data, method), encoded) << data;
    for (int shift = 0; shift < 256; ++shift) {
        std::string data(256 + shift, '\0');
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i + shift) & 0xFF);
        for (UUMethods method : {uuMime, uuCode})
            ASSERT_EQ(Encode(data, method, 1 + shift * 7), method == uuMime ? QtBase64(data) : Encode(data, method))
                << "shift " << shift;
    }
}

// Input that stops delivering before its end ends the loop; a failing read and a refused
// write propagate, and the output is rewound even then.
TEST(UUProcessor, StalledInputAndFailures)
{
    TProbeStream stalled;  // claims 100 bytes, delivers 10
    stalled.WriteString(std::string(100, 'z'));
    stalled.StopAt = stalled.MaxRead = 10;
    EXPECT_EQ(Encode(stalled, uuMime), QtBase64(std::string(10, 'z')));
    TProbeStream broken, sink;
    broken.WriteString("data");
    broken.FailReads = true;
    sink.WriteString("x");
    EXPECT_THROW(Encode(broken, uuMime, &sink), EReadError);
    EXPECT_EQ(sink.Position(), 0);
    TProbeStream refusing;
    refusing.AcceptWrite = 2;
    EXPECT_THROW(Encode(stalled, uuMime, &refusing), EWriteError);
}
