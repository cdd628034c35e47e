#include "UUProcessor.h"

#include <array>
#include <bit>
#include <cstring>
#include <exception>
#include <vector>

#include "base/Exception.h"

namespace {

constexpr int LineBytes = 45;                 // input bytes per full line
constexpr int BlockLines = 1456;              // lines encoded per output write
constexpr int BlockBytes = LineBytes * BlockLines;
constexpr int MaxLineChars = 1 + 60 + 2;      // length character, groups, CR LF

using Alphabet = std::array<char, 64>;
// Two output characters for every 12-bit value, so a 3-byte group takes two look-ups.
using PairTable = std::array<uint16_t, 4096>;

Alphabet MakeAlphabet(UUMethods Method)
{
    Alphabet a{};
    static const char mime[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int v = 0; v < 64; ++v)
        a[static_cast<size_t>(v)] = Method == uuMime ? mime[v] : static_cast<char>(v == 0 ? '`' : 32 + v);
    return a;
}

PairTable MakePairs(const Alphabet& a)
{
    PairTable t{};
    for (int v = 0; v < 4096; ++v) {
        const char pair[2] = {a[static_cast<size_t>(v >> 6)], a[static_cast<size_t>(v & 63)]};
        std::memcpy(&t[static_cast<size_t>(v)], pair, 2);
    }
    return t;
}

const PairTable& PairsFor(UUMethods Method)
{
    static const PairTable mime = MakePairs(MakeAlphabet(uuMime));
    static const PairTable uu = MakePairs(MakeAlphabet(uuCode));
    return Method == uuMime ? mime : uu;
}

static_assert(std::endian::native == std::endian::little, "the pair stores assume little-endian");

// A full line (45 bytes, 15 groups) in the form the two tables give: six input bytes at
// a time from one 8-byte load, eight characters in one store.
inline char* EncodeFullLine(const uint8_t* in, const PairTable& pairs, char* out)
{
    for (int i = 0; i < 42; i += 6) {
        uint64_t v;
        std::memcpy(&v, in + i, 8);  // stays inside the 45-byte line
        v = __builtin_bswap64(v);
        const uint64_t chars = uint64_t{pairs[(v >> 52) & 0xFFF]} | (uint64_t{pairs[(v >> 40) & 0xFFF]} << 16) |
                               (uint64_t{pairs[(v >> 28) & 0xFFF]} << 32) |
                               (uint64_t{pairs[(v >> 16) & 0xFFF]} << 48);
        std::memcpy(out, &chars, 8);
        out += 8;
    }
    const uint32_t v = (uint32_t{in[42]} << 16) | (uint32_t{in[43]} << 8) | in[44];
    const uint32_t chars = uint32_t{pairs[v >> 12]} | (uint32_t{pairs[v & 0xFFF]} << 16);
    std::memcpy(out, &chars, 4);
    out[4] = '\r';
    out[5] = '\n';
    return out + 6;
}

// Encodes one line of Count (1..45) bytes; returns one past the last character written.
char* EncodeLine(const uint8_t* in, int Count, UUMethods Method, const Alphabet& a,
                 const PairTable& pairs, char* out)
{
    if (Method == uuCode) *out++ = a[static_cast<size_t>(Count)];
    int i = 0;
    for (; i + 3 <= Count; i += 3) {
        const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
        std::memcpy(out, &pairs[v >> 12], 2);
        std::memcpy(out + 2, &pairs[v & 0xFFF], 2);
        out += 4;
    }
    const int left = Count - i;
    if (left == 2) {
        const uint8_t b0 = in[i], b1 = in[i + 1];
        *out++ = a[b0 >> 2];
        *out++ = a[static_cast<size_t>(((b0 & 3) << 4) | (b1 >> 4))];
        *out++ = a[static_cast<size_t>((b1 & 15) << 2)];
        if (Method == uuMime) *out++ = '=';
    } else if (left == 1) {
        const uint8_t b0 = in[i];
        *out++ = a[b0 >> 2];
        *out++ = a[static_cast<size_t>((b0 & 3) << 4)];
        if (Method == uuMime) {
            *out++ = '=';
            *out++ = '=';
        }
    }
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

}  // namespace

TUUProcessor::TUUProcessor(TComponent* AOwner) : TComponent(AOwner) {}

void TUUProcessor::Encode()
{
    TStream& input = *FInputStream;
    TStream& output = *FOutputStream;
    input.SetPosition(0);
    if (OnBeginEncode) OnBeginEncode(this);

    std::exception_ptr failure;
    try {
        const UUMethods method = FMethod;
        const Alphabet alphabet = MakeAlphabet(method);
        const PairTable& pairs = PairsFor(method);
        const int64_t size = input.Size();
        int64_t pos = 0;

        // Whole lines are encoded a block at a time and written in one call; bytes of an
        // unfinished line wait for the next read so that line breaks stay every 45 bytes.
        std::vector<uint8_t> in(BlockBytes);
        std::vector<char> out(static_cast<size_t>(BlockLines + 1) * MaxLineChars);
        int fill = 0;
        bool atEnd = false;
        while (!atEnd) {
            while (fill < BlockBytes) {
                if (pos >= size) { atEnd = true; break; }
                const int32_t n = input.Read(in.data() + fill, BlockBytes - fill);
                if (n < 0) throw EReadError("Stream read error");
                if (n == 0) { atEnd = true; break; }  // no progress: stop rather than spin
                fill += n;
                pos += n;
            }
            const int whole = fill / LineBytes * LineBytes;
            char* o = out.data();
            for (int i = 0; i < whole; i += LineBytes) {
                if (method == uuCode) *o++ = alphabet[LineBytes];
                o = EncodeFullLine(in.data() + i, pairs, o);
            }
            int rest = fill - whole;
            if (atEnd && rest > 0) {
                o = EncodeLine(in.data() + whole, rest, method, alphabet, pairs, o);
                rest = 0;
            }
            if (atEnd && method == uuCode) {
                *o++ = alphabet[0];
                *o++ = '\r';
                *o++ = '\n';
            }
            if (o != out.data()) output.WriteBuffer(out.data(), o - out.data());
            if (rest > 0) std::memmove(in.data(), in.data() + whole, static_cast<size_t>(rest));
            fill = rest;
        }
    } catch (...) {
        failure = std::current_exception();
    }

    // Rewinding commits what a buffered output still holds; an error there counts only
    // when encoding itself went well.
    try {
        output.SetPosition(0);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (OnEndEncode) OnEndEncode(this);
    if (failure) std::rethrow_exception(failure);
}
