// The buffered stream against a plain memory stream under any sequence of reads, writes,
// seeks, put-backs and size queries: the same results, the same positions, and in the end
// the same bytes underneath.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "mime/S_BufferStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    FuzzedDataProvider in(Data, Size);
    // Counts up to a little over a buffer, so fills and flushes cross buffer edges and whole
    // buffers pass straight through.
    constexpr int Most = TS_BufferStream::DefaultBufferSize + 100;
    TMemoryStream model, under;
    const std::string start = in.ConsumeRandomLengthString(Most);
    model.WriteString(start);
    under.WriteString(start);
    model.SetPosition(0);
    under.SetPosition(0);
    {
        TS_BufferStream buffered(under);
        std::vector<char> a(Most), b(Most);
        while (in.remaining_bytes() > 0) {
            const int op = in.ConsumeIntegralInRange(0, 3);
            // Mostly short transfers, now and then one past a buffer's edge.
            const int count = in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegralInRange(0, Most)
                                                                    : in.ConsumeIntegralInRange(0, 300);
            if (op == 0) {
                const int32_t got = buffered.Read(a.data(), count);
                FUZZ_CHECK(got == model.Read(b.data(), count));
                FUZZ_CHECK(std::memcmp(a.data(), b.data(), static_cast<size_t>(got)) == 0);
                // The byte just read can be put back when no fill came up empty after it.
                if (got > 0 && got == count && in.ConsumeBool()) {
                    buffered.PutBack(a[static_cast<size_t>(got - 1)]);
                    model.Seek(-1, soFromCurrent);
                }
            } else if (op == 1) {
                std::memset(a.data(), in.ConsumeIntegral<char>(), static_cast<size_t>(count));
                FUZZ_CHECK(buffered.Write(a.data(), count) == model.Write(a.data(), count));
            } else if (op == 2) {
                const int64_t offset = in.ConsumeIntegralInRange<int64_t>(-Most, Most);
                const auto origin = static_cast<uint16_t>(in.ConsumeIntegralInRange(0, 2));
                // From the end the buffered stream counts back by a positive offset.
                FUZZ_CHECK(buffered.Seek(offset, origin) == model.Seek(origin == soFromEnd ? -offset : offset, origin));
            } else {
                FUZZ_CHECK(buffered.Size() == model.Size());
            }
            FUZZ_CHECK(buffered.Position() == model.Position());
        }
    }
    FUZZ_CHECK(under.DataString() == model.DataString());
    return 0;
}
