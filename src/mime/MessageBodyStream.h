#pragma once
// TMessageBodyStream: a message body that is produced while it is read. It is a list of
// pieces: literal text (part headers, the text part, delimiters) and attachment files,
// whose base64 or uuencode lines are encoded from the open file as the reader asks for
// them. Memory stays bounded by a few small buffers whatever the files' size, and the
// size is known before the first byte (encoded sizes follow from the file sizes).
//
// Seeking only moves the logical position; a read that finds it elsewhere than where
// production stands starts again from the start or skips forward, so a rewind (the next
// transaction of the same message) costs nothing until the bytes are read.
//
// Read raises EReadError "Attachment %s changed while it was being sent" when a file
// holds fewer or more bytes than it did when the body was planned, or a read of it fails:
// the body would otherwise not be the size that was announced. A failed read leaves the
// stream to start over at the next read. Write takes nothing.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Stream.h"
#include "mime/MimeTypes.h"

class TMessageBodyStream : public TStream {
public:
    TMessageBodyStream();
    ~TMessageBodyStream() override;

    // Drops every piece (and closes the files); position 0.
    void Clear();
    void AddText(const std::string& Text);
    // File holds FileSize bytes from its start; the stream owns it from here on.
    void AddAttachment(const std::string& Entry, std::unique_ptr<TStream> File, int64_t FileSize, UUMethods Method);

    // The encoded size of FileSize bytes: base64 lines of 60 characters, or uuencode lines
    // (dot-stuffed: the last data line's length character is "." for 14 bytes) and the
    // closing "`" line; each line with CR LF.
    static int64_t EncodedSize(int64_t FileSize, UUMethods Method);
    // Whether any text piece holds a byte of 0x80 or above (encoded files never do).
    bool HasEightBit() const { return FEightBit; }

    int32_t Read(void* Buffer, int32_t Count) override;
    int32_t Write(const void* Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, uint16_t Origin) override;

private:
    struct TPiece;
    void Restart();
    void StartPiece();
    int32_t Produce(char* Out, int32_t Count);
    int32_t ProduceAttachment(TPiece& P, char* Out, int32_t Count);
    // Reads the current file's next block (whole lines but at its end) into FInput.
    void ReadInput(TPiece& P);
    [[noreturn]] void Changed(const TPiece& P);

    std::vector<TPiece> FPieces;
    int64_t FSize = 0;
    int64_t FPos = 0;       // the logical position
    int64_t FProduced = 0;  // where production stands
    size_t FIndex = 0;      // piece being produced
    int64_t FOffset = 0;    // bytes of it produced
    int64_t FFileRead = 0;  // bytes of its file read
    bool FTrailerDone = false;
    bool FEightBit = false;
    std::string FStage;  // encoded bytes that did not fit the last read
    size_t FStageAt = 0;
    std::vector<unsigned char> FInput;
    int64_t FInputAt = 0;  // its bytes not yet encoded
    int64_t FInputEnd = 0;
};
