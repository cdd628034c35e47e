#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "base/Stream.h"
#include "support/TempDir.h"

TEST(MemoryStreamTest, PositionSizeReadsAndCopies)
{
    TMemoryStream m;
    m.WriteString("hello world");
    EXPECT_EQ(m.Size(), 11);
    EXPECT_EQ(m.Position(), 11);  // Size() leaves the position where it was
    m.Seek(-5, soFromEnd);
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 5);
    EXPECT_EQ(std::string(buf, 5), "world");
    m.SetPosition(6);
    m.WriteString("WORLD!");
    EXPECT_EQ(m.DataString(), "hello WORLD!");
    EXPECT_THROW(m.Seek(0, 3), Exception);
    m.SetPosition(10);
    EXPECT_THROW(m.ReadBuffer(buf, 4), EReadError);

    std::string data(3'000'000, '\0');  // CopyFrom(.., 0) copies the whole source, in several pieces
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
    TMemoryStream src, dst;
    src.WriteString(data);
    EXPECT_EQ(dst.CopyFrom(src, 0), static_cast<int64_t>(data.size()));
    EXPECT_EQ(dst.DataString(), data);
}

// Large enough for the huge-page blocks, reused after Clear so stale bytes are there.
TEST(MemoryStreamTest, GrowingLeavesZerosNotStaleMemory)
{
    const int64_t big = 5 << 20;
    TMemoryStream m;
    m.SetSize(big);
    std::memset(m.Memory(), 'x', static_cast<size_t>(big));
    m.Clear();
    m.SetPosition(big - 2);
    m.WriteString("ab");
    EXPECT_EQ(m.Size(), big);
    EXPECT_EQ(std::count(m.Memory(), m.Memory() + big - 2, '\0'), big - 2);
    m.Clear();
    m.SetSize(100);
    EXPECT_EQ(std::count(m.Memory(), m.Memory() + 100, '\0'), 100);
}

TEST(FileStreamTest, WriteSeekReadAndOpenFailures)
{
    TTempDir dir;
    const std::string path = dir.File("f.bin");
    {
        TFileStream f(path, fmCreate);
        f.WriteString("0123456789");
        f.Seek(-3, soFromEnd);
        char b[3];
        f.ReadBuffer(b, 3);
        EXPECT_EQ(std::string(b, 3), "789");
    }
    EXPECT_EQ(ReadWholeFile(path), "0123456789");
    const std::string missing = dir.File("no_such_dir/f.bin");
    try {
        TFileStream f(missing, fmOpenRead);
        ADD_FAILURE();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + missing);
    }
    EXPECT_THROW(TFileStream(missing, fmCreate), EFCreateError);
}
