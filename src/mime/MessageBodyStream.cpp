#include "MessageBodyStream.h"

#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "mime/LineEncoder.h"

namespace {

constexpr int64_t LineBytes = TLineEncoder::LineBytes;
constexpr int64_t BlockLines = 4096;  // lines of input per file read

// uuencoded lines may begin with "." (the length character of 14 bytes) and are dot-stuffed.
bool DotStuffed(UUMethods Method, int64_t n)
{
    return Method == uuCode && TLineEncoder(uuCode).LengthChar(static_cast<int>(n)) == '.';
}

int64_t UULineSize(int64_t n)
{
    const int64_t rest = n % 3;
    return 1 + n / 3 * 4 + (rest ? rest + 1 : 0) + 2 + (DotStuffed(uuCode, n) ? 1 : 0);
}

// One line of n (1 to 45) bytes; returns one past its last character.
char* EncodeOneLine(const TLineEncoder& Encoder, UUMethods Method, const unsigned char* In, int64_t n, char* Out)
{
    if (DotStuffed(Method, n)) *Out++ = '.';
    return Encoder.EncodeLine(In, static_cast<int>(n), Out);
}

}  // namespace

struct TMessageBodyStream::TPiece {
    std::string Text;  // a literal piece when File is not set
    std::string Entry;
    std::unique_ptr<TStream> File;
    int64_t FileSize = 0;
    UUMethods Method = uuMime;
    int64_t Size = 0;  // bytes the piece produces
};

TMessageBodyStream::TMessageBodyStream() = default;
TMessageBodyStream::~TMessageBodyStream() = default;

int64_t TMessageBodyStream::EncodedSize(int64_t FileSize, UUMethods Method)
{
    const int64_t lines = (FileSize + LineBytes - 1) / LineBytes;
    if (Method == uuMime) return (FileSize + 2) / 3 * 4 + 2 * lines;
    const int64_t rest = FileSize % LineBytes;
    return FileSize / LineBytes * UULineSize(LineBytes) + (rest ? UULineSize(rest) : 0) + 3;
}

void TMessageBodyStream::Clear()
{
    FPieces.clear();
    FSize = 0;
    FPos = 0;
    FEightBit = false;
    Restart();
}

void TMessageBodyStream::AddText(const std::string& Text)
{
    if (Text.empty()) return;
    FEightBit = FEightBit ||
                std::any_of(Text.begin(), Text.end(), [](char C) { return static_cast<unsigned char>(C) >= 0x80; });
    // Adjacent texts are one piece: fewer pieces to walk.
    if (!FPieces.empty() && !FPieces.back().File) {
        FPieces.back().Text += Text;
        FPieces.back().Size += static_cast<int64_t>(Text.size());
    } else {
        TPiece p;
        p.Text = Text;
        p.Size = static_cast<int64_t>(Text.size());
        FPieces.push_back(std::move(p));
    }
    FSize += static_cast<int64_t>(Text.size());
    Restart();
}

void TMessageBodyStream::AddAttachment(const std::string& Entry, std::unique_ptr<TStream> File, int64_t FileSize,
                                       UUMethods Method)
{
    TPiece p;
    p.Entry = Entry;
    p.File = std::move(File);
    p.FileSize = FileSize;
    p.Method = Method;
    p.Size = EncodedSize(FileSize, Method);
    FSize += p.Size;
    FPieces.push_back(std::move(p));
    Restart();
}

void TMessageBodyStream::Restart()
{
    FProduced = 0;
    FIndex = 0;
    StartPiece();
}

void TMessageBodyStream::StartPiece()
{
    FOffset = 0;
    FFileRead = 0;
    FTrailerDone = false;
    FStage.clear();
    FStageAt = 0;
    FInputAt = FInputEnd = 0;
    // A piece begins at the start of its file, also when a rewind brings it back.
    if (FIndex < FPieces.size() && FPieces[FIndex].File) FPieces[FIndex].File->SetPosition(0);
}

void TMessageBodyStream::Changed(const TPiece& P)
{
    throw EReadError(Format("Attachment %s changed while it was being sent", P.Entry.c_str()));
}

int64_t TMessageBodyStream::Seek(int64_t Offset, uint16_t Origin)
{
    int64_t target = Origin == soFromBeginning ? Offset : Origin == soFromCurrent ? FPos + Offset : FSize + Offset;
    FPos = std::clamp<int64_t>(target, 0, FSize);
    return FPos;
}

int32_t TMessageBodyStream::Write(const void*, int32_t) { return 0; }

int32_t TMessageBodyStream::Read(void* Buffer, int32_t Count)
{
    if (Count <= 0 || FPos >= FSize) return 0;
    if (FPos < FProduced) Restart();
    int32_t total = 0;
    try {
        // Bytes between production and the logical position are produced and dropped.
        char skip[16384];
        while (FProduced < FPos) {
            const int32_t n = Produce(skip, static_cast<int32_t>(std::min<int64_t>(FPos - FProduced, sizeof skip)));
            if (n <= 0) Changed(FPieces[FIndex]);
        }
        Count = static_cast<int32_t>(std::min<int64_t>(Count, FSize - FPos));
        while (total < Count) {
            const int32_t n = Produce(static_cast<char*>(Buffer) + total, Count - total);
            if (n <= 0) break;
            total += n;
        }
    } catch (...) {
        // A failure leaves production part-way through a line: the next read starts over.
        Restart();
        throw;
    }
    FPos += total;
    return total;
}

// Up to Count bytes of the current piece (fewer at its end); moves on to the next piece.
int32_t TMessageBodyStream::Produce(char* Out, int32_t Count)
{
    while (FIndex < FPieces.size() && FOffset >= FPieces[FIndex].Size) {
        ++FIndex;
        StartPiece();
    }
    if (FIndex >= FPieces.size()) return 0;
    TPiece& p = FPieces[FIndex];
    int32_t n;
    if (!p.File) {
        n = static_cast<int32_t>(std::min<int64_t>(Count, p.Size - FOffset));
        std::memcpy(Out, p.Text.data() + FOffset, static_cast<size_t>(n));
    } else {
        n = ProduceAttachment(p, Out, Count);
    }
    FOffset += n;
    FProduced += n;
    return n;
}

void TMessageBodyStream::ReadInput(TPiece& P)
{
    const int64_t count = std::min(P.FileSize - FFileRead, BlockLines * LineBytes);
    if (static_cast<int64_t>(FInput.size()) < count) FInput.resize(static_cast<size_t>(count));
    int64_t got = 0;
    while (got < count) {
        const int32_t n = P.File->Read(FInput.data() + got, static_cast<int32_t>(count - got));
        if (n <= 0) Changed(P);  // shorter than it was, or unreadable now
        got += n;
    }
    FInputAt = 0;
    FInputEnd = count;
    FFileRead += count;
    if (FFileRead == P.FileSize) {
        unsigned char extra;
        if (P.File->Read(&extra, 1) != 0) Changed(P);  // longer than it was
    }
}

int32_t TMessageBodyStream::ProduceAttachment(TPiece& P, char* Out, int32_t Count)
{
    const TLineEncoder encoder(P.Method);
    // A full line's characters, the most any line of the piece takes.
    const int64_t lineOut = P.Method == uuMime ? 62 : 63;
    int32_t got = 0;
    const auto fromStage = [&] {
        const size_t n = std::min(FStage.size() - FStageAt, static_cast<size_t>(Count - got));
        std::memcpy(Out + got, FStage.data() + FStageAt, n);
        FStageAt += n;
        got += static_cast<int32_t>(n);
    };
    fromStage();
    while (got < Count && FOffset + got < P.Size) {
        if (FInputAt == FInputEnd && FFileRead < P.FileSize) ReadInput(P);
        const int64_t left = FInputEnd - FInputAt;
        const unsigned char* in = FInput.data() + FInputAt;
        if (left == 0) {
            // The uuencode closing line; base64 has none (and its size ends before this).
            if (P.Method == uuMime || FTrailerDone) Changed(P);
            FTrailerDone = true;
            FStage = "`\r\n";
            FStageAt = 0;
            fromStage();
            continue;
        }
        if (Count - got < lineOut) {
            // Too little room for a whole line: one line goes through the stage.
            const int64_t n = std::min(left, LineBytes);
            FStage.resize(static_cast<size_t>(lineOut));
            FStage.resize(static_cast<size_t>(EncodeOneLine(encoder, P.Method, in, n, FStage.data()) - FStage.data()));
            FStageAt = 0;
            FInputAt += n;
            fromStage();
            continue;
        }
        // Whole lines are encoded straight into the reader's buffer. Reads hold whole lines,
        // so fewer than 45 bytes left is the file's last line.
        const int64_t lines = std::min((Count - got) / lineOut, left / LineBytes);
        char* o = encoder.EncodeLines(in, static_cast<size_t>(lines), Out + got);
        FInputAt += lines * LineBytes;
        if (lines == 0) {
            o = EncodeOneLine(encoder, P.Method, in, left, o);
            FInputAt += left;
        }
        got = static_cast<int32_t>(o - Out);
    }
    // The encoded lines must end where the size said they would.
    if (FOffset + got > P.Size) Changed(P);
    return got;
}
