#include "S_BufferStream.h"

#include <algorithm>
#include <cstring>

#include "base/Exception.h"

// Invariant: idle -> the buffer holds nothing of value; reading -> [FCurrent, FEnd) is
// read-ahead; writing -> [FBuffer, FCurrent) is pending.

TS_BufferStream::TS_BufferStream(TStream& Stream)
    : FStream(Stream),
      FBuffer(new char[DefaultBufferSize]),
      FEnd(FBuffer + DefaultBufferSize),
      FBufferSize(DefaultBufferSize)
{
}

TS_BufferStream::~TS_BufferStream()
{
    if (FMode == bmWriting) {
        try {
            FlushBuffer();
        } catch (...) {
            // A destructor must not throw; the pending bytes are lost either way.
        }
    }
    delete[] FBuffer;
}

void TS_BufferStream::Discard()
{
    FCurrent = nullptr;
    FEnd = FBuffer + FBufferSize;
    FMode = bmIdle;
}

int64_t TS_BufferStream::LogicalPosition()
{
    const int64_t under = FStream.Seek(0, soFromCurrent);
    if (FMode == bmReading) return under - (FEnd - FCurrent);
    if (FMode == bmWriting) return under + (FCurrent - FBuffer);
    return under;
}

int32_t TS_BufferStream::Read(void* Buffer, int32_t Count)
{
    if (FMode == bmWriting) {
        // Turning from writing to reading: commit, then read from where the writes ended.
        FlushBuffer();
        Discard();
    }
    if (FMode != bmReading) FCurrent = FEnd = FBuffer;
    if (Count < 1) return 0;
    auto* out = static_cast<char*>(Buffer);
    int32_t total = 0;
    while (Count > 0) {
        if (FCurrent == FEnd && !FillBuffer()) break;
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(FEnd - FCurrent, Count));
        std::memcpy(out, FCurrent, static_cast<size_t>(n));
        FCurrent += n;
        out += n;
        total += n;
        Count -= n;
    }
    return total;
}

bool TS_BufferStream::FillBuffer()
{
    const int32_t n = FStream.Read(FBuffer, FBufferSize);
    FCurrent = FBuffer;
    if (n < 0) {
        FEnd = FBuffer;
        FMode = bmIdle;
        throw EReadError("Stream read error");
    }
    FEnd = FBuffer + n;
    FMode = n != 0 ? bmReading : bmIdle;
    DoBufferFilled();
    return n != 0;
}

int32_t TS_BufferStream::Write(const void* Buffer, int32_t Count)
{
    if (FMode == bmReading) {
        // Turning from reading to writing: the write lands at the logical position, not
        // behind the read-ahead.
        FStream.Seek(LogicalPosition(), soFromBeginning);
        Discard();
    }
    if (FMode != bmWriting) {
        FCurrent = FBuffer;
        FEnd = FBuffer + FBufferSize;
    }
    auto* in = static_cast<const char*>(Buffer);
    int32_t total = 0;
    while (Count > 0) {
        if (FCurrent == FBuffer && Count >= FBufferSize) {
            // A whole buffer's worth with nothing pending: pass it on without the copy.
            const int32_t w = FStream.Write(in, FBufferSize);
            FLastFlushed = std::max(w, 0);
            DoBufferFlushed();
            if (w != FBufferSize) return total + FLastFlushed;
            in += FBufferSize;
            total += FBufferSize;
            Count -= FBufferSize;
            continue;
        }
        const int32_t n = static_cast<int32_t>(std::min<int64_t>(FEnd - FCurrent, Count));
        const int32_t before = static_cast<int32_t>(FCurrent - FBuffer);
        std::memcpy(FCurrent, in, static_cast<size_t>(n));
        FCurrent += n;
        in += n;
        total += n;
        Count -= n;
        if (FCurrent == FEnd && !FlushBuffer()) {
            // Only this call's bytes that the underlying stream took count as written.
            return total - n + std::max(FLastFlushed - before, 0);
        }
    }
    if (FCurrent != FBuffer) FMode = bmWriting;
    return total;
}

bool TS_BufferStream::FlushBuffer()
{
    const int32_t n = FCurrent ? static_cast<int32_t>(FCurrent - FBuffer) : 0;
    int32_t w = 0;
    if (n > 0) {
        try {
            w = FStream.Write(FBuffer, n);
        } catch (...) {
            FCurrent = FBuffer;
            FMode = bmIdle;
            throw;
        }
    }
    FLastFlushed = std::max(w, 0);
    FCurrent = FBuffer;
    FMode = bmIdle;
    DoBufferFlushed();
    return w == n;
}

int64_t TS_BufferStream::Seek(int64_t Offset, uint16_t Origin)
{
    if (Origin > soFromEnd) throw Exception(Format("Invalid seek origin = %d", Origin));
    if (Origin == soFromEnd && FMode == bmWriting) {
        // The end must count the pending bytes, so commit them before measuring.
        const bool ok = FlushBuffer();
        Discard();
        if (!ok) throw EStreamError("Seek error");
    }
    const int64_t pos = LogicalPosition();
    int64_t target;
    switch (Origin) {
    case soFromBeginning: target = Offset; break;
    case soFromCurrent: target = pos + Offset; break;
    default: target = FStream.Size() - Offset; break;
    }
    if (target == pos) return target;
    if (FMode == bmWriting) {
        const bool ok = FlushBuffer();
        Discard();
        if (!ok) throw EStreamError("Seek error");
    }
    const int64_t result = FStream.Seek(target, soFromBeginning);
    Discard();
    return result;
}

void TS_BufferStream::PutBack(char Byte)
{
    if (FMode != bmReading || FCurrent == nullptr || FCurrent <= FBuffer) throw EStreamError("PutBack overflow");
    *--FCurrent = Byte;
}

void TS_BufferStream::DoBufferFilled()
{
    if (OnBufferFilled) OnBufferFilled(this);
}

void TS_BufferStream::DoBufferFlushed()
{
    if (OnBufferFlushed) OnBufferFlushed(this);
}
