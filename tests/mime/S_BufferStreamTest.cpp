#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestStreams.h"
#include "base/Exception.h"
#include "mime/S_BufferStream.h"

// Small writes pass on as one: a seek to the logical position keeps them pending, a seek
// from the end commits them first so that the end counts them, a read commits them, and
// so does the end of the buffered stream.
TEST(S_BufferStream, WritesAreGatheredUntilASeekOrARead)
{
    TProbeStream under;
    {
        TS_BufferStream s(under);
        for (int i = 0; i < 100; ++i) s.WriteString(std::string(62, 'x'));
        EXPECT_EQ(s.Seek(0, soFromCurrent), 6200);
        EXPECT_TRUE(under.Writes.empty());
        EXPECT_EQ(s.Seek(10, soFromEnd), 6190);
        EXPECT_EQ(under.Writes, std::vector<int32_t>{6200});
        s.WriteString("tail");
        char c;
        EXPECT_EQ(s.Read(&c, 0), 0);
        EXPECT_EQ(under.Writes, (std::vector<int32_t>{6200, 4}));
        s.WriteString("!");
    }
    EXPECT_EQ(under.DataString(), std::string(6200, 'x').replace(6190, 5, "tail!"));
}

// Put-back only of what was handed out since the last fill; a write after reads lands at
// the logical position, not behind the read-ahead; a bad seek origin, a short write below
// and a failing read below are errors.
TEST(S_BufferStream, PutBackLimitsAndFailures)
{
    TProbeStream under;
    under.WriteString("0123456789");
    under.SetPosition(0);
    TS_BufferStream s(under);
    EXPECT_THROW(s.PutBack('x'), EStreamError);
    char got[11] = {};
    EXPECT_EQ(s.Read(got, 5), 5);
    EXPECT_EQ(under.Position(), 10);  // the read took a whole buffer's worth from below
    for (char c : std::string("4X210")) s.PutBack(c);
    EXPECT_THAT([&] { s.PutBack('y'); }, testing::ThrowsMessage<Exception>("PutBack overflow"));
    EXPECT_EQ(s.Read(got, 8), 8);
    EXPECT_STREQ(got, "012X4567");
    EXPECT_THAT([&] { s.Seek(0, 3); }, testing::ThrowsMessage<Exception>("Invalid seek origin = 3"));

    under.AcceptWrite = 100;
    s.WriteString("xx");
    const std::string big = RandomBytes(TS_BufferStream::DefaultBufferSize, 1);
    EXPECT_EQ(s.Write(big.data(), static_cast<int32_t>(big.size())),
              98);  // 100 bytes taken, 2 of them from before this call
    s.WriteString("lost");
    under.AcceptWrite = 0;
    EXPECT_THAT([&] { s.SetPosition(0); }, testing::ThrowsMessage<Exception>("Seek error"));
    EXPECT_EQ(under.DataString(), "01234567xx" + big.substr(0, 98));
    under.FailReads = true;
    EXPECT_THROW(s.Read(got, 1), EReadError);
}
