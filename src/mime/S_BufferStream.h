#pragma once
// A stream over another stream that gathers small reads and writes into transfers of up
// to 32768 bytes, with a put-back of bytes already read. The underlying stream is not owned.
//
// Direction changes need no seek: a read after writes commits the pending bytes first, a
// write after reads lands at the logical position. A seek to the current logical position
// keeps the buffer; any other seek commits pending bytes and drops the read-ahead.
#include <cstdint>

#include "base/Stream.h"

class TS_BufferStream : public TStream {
public:
    static constexpr int32_t DefaultBufferSize = 32768;

    explicit TS_BufferStream(TStream& Stream);
    // Commits pending bytes (a failure to do so is ignored).
    ~TS_BufferStream() override;
    TS_BufferStream(const TS_BufferStream&) = delete;
    TS_BufferStream& operator=(const TS_BufferStream&) = delete;

    // A negative count from the underlying stream raises EReadError "Stream read error".
    int32_t Read(void* Buffer, int32_t Count) override;
    // Returns fewer than Count when the underlying stream refuses bytes.
    int32_t Write(const void* Buffer, int32_t Count) override;
    // Origin 0: Offset; 1: position + Offset; 2: size - Offset (a positive Offset counts
    // back from the end; pending bytes are committed first so the end includes them).
    // Other origins raise Exception "Invalid seek origin = %d"; a failed commit raises
    // EStreamError "Seek error".
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

    // Reads up to one buffer from the underlying stream; true if any byte came.
    virtual bool FillBuffer();
    // Passes the pending bytes on; true if the underlying stream took them all. Bytes it
    // did not take are dropped.
    virtual bool FlushBuffer();
    // Pushes one byte back in front of the next byte to read; only bytes handed out from
    // the buffer since its last fill can be put back, otherwise EStreamError "PutBack overflow".
    virtual void PutBack(char Byte);
    virtual void DoBufferFilled();
    virtual void DoBufferFlushed();

    int32_t BufferSize() const { return FBufferSize; }

    TNotifyEvent OnBufferFilled;
    TNotifyEvent OnBufferFlushed;

private:
    enum Mode : uint8_t { bmIdle = 0, bmReading = 1, bmWriting = 2 };
    int64_t LogicalPosition();
    void Discard();

    TStream& FStream;
    char* FBuffer;
    char* FCurrent = nullptr;  // next byte to hand out / to fill; null when unset
    char* FEnd;                // reading: one past the valid bytes; writing: buffer end
    int32_t FBufferSize;
    Mode FMode = bmIdle;
    int32_t FLastFlushed = 0;  // bytes the underlying stream took in the last flush
};
