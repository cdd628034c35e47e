#include "MessageBodyStream.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/Exception.h"

namespace {

constexpr int64_t LineBytes = 45;     // input bytes per encoded line
constexpr int32_t MaxLineOut = 64;    // "." + length character + 60 + CR LF
constexpr int64_t BlockLines = 1024;  // lines encoded per file read

const char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char UUChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(32 + v); }

// Two output characters per 12 bits: half the lookups of a character table.
const std::array<uint16_t, 4096>& PairTable(UUMethods Method)
{
    static const auto make = [](bool mime) {
        std::array<uint16_t, 4096> t{};
        for (unsigned v = 0; v < 4096; ++v) {
            const char hi = mime ? Base64Alphabet[v >> 6] : UUChar(v >> 6);
            const char lo = mime ? Base64Alphabet[v & 63] : UUChar(v & 63);
            std::memcpy(&t[v], &hi, 1);
            std::memcpy(reinterpret_cast<char*>(&t[v]) + 1, &lo, 1);
        }
        return t;
    };
    static const std::array<uint16_t, 4096> mime = make(true), uu = make(false);
    return Method == uuMime ? mime : uu;
}

int64_t UULineSize(int64_t n)
{
    const int64_t rest = n % 3;
    return 1 + n / 3 * 4 + (rest ? rest + 1 : 0) + 2 + (UUChar(static_cast<unsigned>(n)) == '.' ? 1 : 0);
}

// One encoded line of n (1 to 45) bytes with its CR LF; returns its length.
size_t EncodeLine(const unsigned char* In, size_t n, UUMethods Method, char* Out)
{
    const auto& pairs = PairTable(Method);
    const bool mime = Method == uuMime;
    char* o = Out;
    if (!mime) {
        // uuencoded lines may begin with "." and are dot-stuffed.
        const char len = UUChar(static_cast<unsigned>(n));
        if (len == '.') *o++ = '.';
        *o++ = len;
    }
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned{In[i]} << 16) | (unsigned{In[i + 1]} << 8) | In[i + 2];
        std::memcpy(o, &pairs[v >> 12], 2);
        std::memcpy(o + 2, &pairs[v & 4095], 2);
        o += 4;
    }
    const char* const alphabet = mime ? Base64Alphabet : nullptr;
    const auto ch = [&](unsigned v) { return alphabet ? alphabet[v] : UUChar(v); };
    if (n - i == 2) {
        *o++ = ch(In[i] >> 2);
        *o++ = ch(((In[i] & 3u) << 4) | (In[i + 1] >> 4));
        *o++ = ch((In[i + 1] & 15u) << 2);
        if (mime) *o++ = '=';
    } else if (n - i == 1) {
        *o++ = ch(In[i] >> 2);
        *o++ = ch((In[i] & 3u) << 4);
        if (mime) {
            *o++ = '=';
            *o++ = '=';
        }
    }
    *o++ = '\r';
    *o++ = '\n';
    return static_cast<size_t>(o - Out);
}

}  // namespace

struct TMessageBodyStream::TPiece {
    std::string Text;              // a literal piece when File is not set
    std::string Entry;
    std::unique_ptr<TStream> File;
    int64_t FileSize = 0;
    UUMethods Method = uuMime;
    int64_t Size = 0;              // bytes the piece produces
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
    FEightBit = FEightBit || std::any_of(Text.begin(), Text.end(), [](char C) { return static_cast<unsigned char>(C) >= 0x80; });
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

void TMessageBodyStream::ReadInput(TPiece& P, int64_t Count)
{
    FInput.resize(static_cast<size_t>(Count));
    int64_t got = 0;
    while (got < Count) {
        const int32_t n = P.File->Read(FInput.data() + got, static_cast<int32_t>(Count - got));
        if (n <= 0) Changed(P);  // shorter than it was, or unreadable now
        got += n;
    }
    FFileRead += Count;
    if (FFileRead == P.FileSize) {
        unsigned char extra;
        if (P.File->Read(&extra, 1) != 0) Changed(P);  // longer than it was
    }
}

int32_t TMessageBodyStream::ProduceAttachment(TPiece& P, char* Out, int32_t Count)
{
    int32_t got = 0;
    const auto fromStage = [&] {
        const size_t n = std::min(FStage.size() - FStageAt, static_cast<size_t>(Count - got));
        std::memcpy(Out + got, FStage.data() + FStageAt, n);
        FStageAt += n;
        got += static_cast<int32_t>(n);
    };
    fromStage();
    while (got < Count && FOffset + got < P.Size) {
        const int64_t left = P.FileSize - FFileRead;
        if (left == 0) {
            // The uuencode closing line; base64 has none (and its size ends before this).
            if (P.Method == uuMime || FTrailerDone) Changed(P);
            FTrailerDone = true;
            FStage = "`\r\n";
            FStageAt = 0;
            fromStage();
            continue;
        }
        const int64_t fits = (Count - got) / MaxLineOut;
        if (fits == 0) {
            // Too little room for a whole line: one line goes through the stage.
            const int64_t n = std::min(left, LineBytes);
            ReadInput(P, n);
            FStage.resize(MaxLineOut);
            FStage.resize(EncodeLine(FInput.data(), static_cast<size_t>(n), P.Method, FStage.data()));
            FStageAt = 0;
            fromStage();
            continue;
        }
        // Whole lines are encoded straight into the reader's buffer.
        const int64_t bytes = std::min(left, std::min(fits, BlockLines) * LineBytes);
        ReadInput(P, bytes);
        for (int64_t at = 0; at < bytes; at += LineBytes)
            got += static_cast<int32_t>(EncodeLine(FInput.data() + at,
                                                   static_cast<size_t>(std::min(LineBytes, bytes - at)), P.Method,
                                                   Out + got));
    }
    // The encoded lines must end where the size said they would.
    if (FOffset + got > P.Size) Changed(P);
    return got;
}
