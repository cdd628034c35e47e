#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "TestStreams.h"
#include "base/Exception.h"
#include "mime/S_BufferStream.h"

namespace {

constexpr int32_t Buf = TS_BufferStream::DefaultBufferSize;

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return s;
}

}  // namespace

// The same random sequence of reads, writes, seeks and put-backs on a buffered stream
// and on a plain memory stream must give the same bytes and positions.
TEST(S_BufferStream, BehavesLikeThePlainStreamItBuffers)
{
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::mt19937 gen(seed);
        TMemoryStream under, plain;
        const std::string start = Pattern(50000, seed);
        under.WriteString(start);
        plain.WriteString(start);
        under.SetPosition(0);
        plain.SetPosition(0);
        auto buffered = std::make_unique<TS_BufferStream>(under);
        int lastRead = 0;  // bytes handed out from the buffer since its last fill
        int fills = 0;
        buffered->OnBufferFilled = [&](TObject*) { ++fills; };
        for (int step = 0; step < 300; ++step) {
            const int op = static_cast<int>(gen() % 100);
            // Mostly small transfers, sometimes more than the buffer holds.
            const int32_t len = gen() % 10 == 0 ? static_cast<int32_t>(gen() % (3 * Buf))
                                                : static_cast<int32_t>(gen() % 300);
            if (op < 35) {
                const std::string data = Pattern(static_cast<size_t>(len), gen());
                ASSERT_EQ(buffered->Write(data.data(), len), plain.Write(data.data(), len));
                lastRead = 0;
            } else if (op < 70) {
                std::string a(static_cast<size_t>(len), '\0'), b(static_cast<size_t>(len), '\0');
                const int fillsBefore = fills;
                const int32_t na = buffered->Read(a.data(), len);
                ASSERT_EQ(na, plain.Read(b.data(), len));
                ASSERT_EQ(a, b) << "seed " << seed << " step " << step;
                lastRead = fills == fillsBefore ? lastRead + na : 0;
            } else if (op < 80) {
                ASSERT_EQ(buffered->Seek(0, soFromCurrent), plain.Position());  // costs nothing
            } else if (op < 90) {
                const int64_t size = plain.Size();
                const int64_t to = size ? static_cast<int64_t>(gen() % static_cast<uint64_t>(size)) : 0;
                if (gen() % 2)
                    ASSERT_EQ(buffered->Seek(to, soFromBeginning), plain.Seek(to, soFromBeginning));
                else  // from the end, counting back
                    ASSERT_EQ(buffered->Seek(size - to, soFromEnd), plain.Seek(to - size, soFromEnd));
                lastRead = 0;
            } else if (lastRead > 0) {
                // Put back the byte just read: the plain stream steps back over it.
                char c;
                plain.Seek(-1, soFromCurrent);
                plain.Read(&c, 1);
                plain.Seek(-1, soFromCurrent);
                buffered->PutBack(c);
                --lastRead;
            }
            ASSERT_EQ(buffered->Position(), plain.Position()) << "seed " << seed << " step " << step;
        }
        buffered.reset();  // commits what is pending
        ASSERT_EQ(under.DataString(), plain.DataString()) << "seed " << seed;
    }
}

TEST(S_BufferStream, SmallWritesReachTheStreamInOneCallOnSeek)
{
    TProbeStream under;
    TS_BufferStream s(under);
    const std::string line = Pattern(60, 0) + "\r\n";
    for (int i = 0; i < 100; ++i) s.WriteString(line);
    EXPECT_TRUE(under.Writes.empty());
    s.SetPosition(0);
    EXPECT_EQ(under.Writes, std::vector<int32_t>{6200});
    EXPECT_EQ(s.Size(), 6200);
}

TEST(S_BufferStream, LargeWritePassesOneBufferAndKeepsTheRest)
{
    TProbeStream under;
    {
        TS_BufferStream s(under);
        const std::string block = Pattern(Buf + 7232, 3);
        EXPECT_EQ(s.Write(block.data(), Buf + 7232), Buf + 7232);
        EXPECT_EQ(under.Writes, std::vector<int32_t>{Buf});
        EXPECT_EQ(s.Seek(0, soFromCurrent), Buf + 7232);  // pending bytes stay pending
        EXPECT_EQ(under.Writes.size(), 1u);
        EXPECT_EQ(s.Seek(10, soFromEnd), Buf + 7222);  // the end counts what was pending
    }
    EXPECT_EQ(under.DataString(), Pattern(Buf + 7232, 3));
}

TEST(S_BufferStream, DestructionCommitsAndZeroReadCommitsToo)
{
    TProbeStream under;
    {
        TS_BufferStream s(under);
        s.WriteString("abc");
        s.Seek(0, soFromCurrent);
        EXPECT_EQ(under.Size(), 0);
    }
    EXPECT_EQ(under.DataString(), "abc");
    TS_BufferStream s(under);
    s.WriteString("def");
    char c;
    EXPECT_EQ(s.Read(&c, 0), 0);
    EXPECT_EQ(under.DataString(), "abcdef");
}

TEST(S_BufferStream, PutBackOnlyWhatWasHandedOut)
{
    TProbeStream under;
    under.WriteString("0123456789");
    under.SetPosition(0);
    TS_BufferStream s(under);
    EXPECT_THROW(s.PutBack('x'), EStreamError);
    char got[6] = {};
    EXPECT_EQ(s.Read(got, 5), 5);
    EXPECT_EQ(under.Reads, std::vector<int32_t>{Buf});
    for (char c : std::string("4X210")) s.PutBack(c);
    try {
        s.PutBack('y');
        ADD_FAILURE() << "a sixth put-back was accepted";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "PutBack overflow");
    }
    char all[11] = {};
    EXPECT_EQ(s.Read(all, 10), 10);
    EXPECT_STREQ(all, "012X456789");
}

TEST(S_BufferStream, SeekErrors)
{
    TMemoryStream under;
    TS_BufferStream s(under);
    try {
        s.Seek(0, 3);
        ADD_FAILURE() << "origin 3 accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Invalid seek origin = 3");
    }

    TProbeStream refusing;
    refusing.AcceptWrite = 0;
    TS_BufferStream w(refusing);
    w.WriteString("lost");
    try {
        w.SetPosition(0);
        ADD_FAILURE() << "failed commit not reported";
    } catch (const EStreamError& e) {
        EXPECT_EQ(e.Message(), "Seek error");
    }
}

TEST(S_BufferStream, UnderlyingFailuresAreReported)
{
    TProbeStream failing;
    failing.WriteString("abc");
    failing.FailReads = true;
    TS_BufferStream r(failing);
    char c;
    EXPECT_THROW(r.Read(&c, 1), EReadError);

    TProbeStream partial;
    partial.AcceptWrite = 100;
    TS_BufferStream w(partial);
    w.WriteString("xx");
    const std::string big = Pattern(Buf, 1);
    // 100 bytes were taken, 2 of them from before this call.
    EXPECT_EQ(w.Write(big.data(), Buf), 98);
}
