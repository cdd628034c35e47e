#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "base/Stream.h"
#include "support/MessageOf.h"
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

TEST(FileStreamTest, OpenFailuresSayWhichFile)
{
    TTempDir dir;
    const std::string missing = dir.File("no_such_dir/f.bin");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { TFileStream f(missing, fmOpenRead); }), "Cannot open file " + missing);
    EXPECT_EQ(MessageOf<EFCreateError>([&] { TFileStream f(missing, fmCreate); }), "Cannot create file " + missing);
}
