#pragma once
// Test data and a stream double for the mime tests: a memory stream that records the sizes
// of its writes and can be told to refuse writes, fail reads, hand out short reads, or stop
// delivering before its end.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/Stream.h"

class TProbeStream : public TMemoryStream {
public:
    std::vector<int32_t> Writes;  // sizes of the write calls
    int32_t MaxRead = INT32_MAX;  // bytes handed out per read at most
    int64_t StopAt = -1;          // reads at or past this position deliver nothing
    bool FailReads = false;       // reads return -1
    int32_t AcceptWrite = -1;     // when >= 0: the most bytes any write takes

    int32_t Read(void* Buffer, int32_t Count) override
    {
        if (FailReads) return -1;
        if (StopAt >= 0 && Position() >= StopAt) return 0;
        return TMemoryStream::Read(Buffer, std::min(Count, MaxRead));
    }
    int32_t Write(const void* Buffer, int32_t Count) override
    {
        Writes.push_back(Count);
        if (AcceptWrite >= 0) Count = std::min(Count, AcceptWrite);
        return TMemoryStream::Write(Buffer, Count);
    }
};

// n bytes of every value, the same for the same seed.
inline std::string RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xFF);
    return s;
}
