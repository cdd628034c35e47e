#include <gtest/gtest.h>

#include <memory>

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

TEST(S_BufferStream, WritesAreGatheredAndCommittedByASeek)
{
    TProbeStream under;
    const std::string block = Pattern(Buf + 7232, 3);
    {
        TS_BufferStream s(under);
        const std::string line = Pattern(60, 0) + "\r\n";
        for (int i = 0; i < 100; ++i) s.WriteString(line);
        EXPECT_EQ(s.Seek(0, soFromCurrent), 6200);  // a seek to here keeps them pending
        EXPECT_TRUE(under.Writes.empty());
        s.SetPosition(0);
        EXPECT_EQ(under.Writes, std::vector<int32_t>{6200});
        // One block 7232 bytes longer than the buffer: one buffer passes on, the rest waits.
        EXPECT_EQ(s.Write(block.data(), Buf + 7232), Buf + 7232);
        EXPECT_EQ(under.Writes, (std::vector<int32_t>{6200, Buf}));
        EXPECT_EQ(s.Seek(10, soFromEnd), Buf + 7222);  // the end counts what was pending
        s.WriteString("tail");
        char c;
        EXPECT_EQ(s.Read(&c, 0), 0);  // still commits
        EXPECT_EQ(under.Size(), Buf + 7232);
        s.WriteString("!");
    }
    EXPECT_EQ(under.DataString(), std::string(block).replace(Buf + 7222, 5, "tail!"));  // destruction committed "!"
}

// Put-back only of what was handed out, five at most; a bad seek origin, a short write
// below and a failing read below are errors.
TEST(S_BufferStream, PutBackLimitsAndFailures)
{
    const auto message = [](auto&& f) {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    TProbeStream under;
    under.WriteString("0123456789");
    under.SetPosition(0);
    TS_BufferStream s(under);
    EXPECT_THROW(s.PutBack('x'), EStreamError);
    char got[11] = {};
    EXPECT_EQ(s.Read(got, 5), 5);
    EXPECT_EQ(under.Reads, std::vector<int32_t>{Buf});
    for (char c : std::string("4X210")) s.PutBack(c);
    EXPECT_EQ(message([&] { s.PutBack('y'); }), "PutBack overflow");
    EXPECT_EQ(s.Read(got, 10), 10);
    EXPECT_STREQ(got, "012X456789");
    EXPECT_EQ(message([&] { s.Seek(0, 3); }), "Invalid seek origin = 3");

    under.AcceptWrite = 100;
    s.WriteString("xx");
    const std::string big = Pattern(Buf, 1);
    EXPECT_EQ(s.Write(big.data(), Buf), 98);  // 100 bytes taken, 2 of them from before this call
    s.WriteString("lost");
    under.AcceptWrite = 0;
    EXPECT_EQ(message([&] { s.SetPosition(0); }), "Seek error");
    under.FailReads = true;
    EXPECT_THROW(s.Read(got, 1), EReadError);
}
