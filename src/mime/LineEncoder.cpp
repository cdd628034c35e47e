#include "LineEncoder.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the pair stores assume little-endian");

TLineEncoder::TLineEncoder(UUMethods Method) : FMethod(Method)
{
    static const auto alphabet = [](UUMethods M) {
        static const char mime[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        TAlphabet a{};
        for (int v = 0; v < 64; ++v)
            a[static_cast<size_t>(v)] = M == uuMime ? mime[v] : static_cast<char>(v == 0 ? '`' : 32 + v);
        return a;
    };
    static const auto pairs = [](const TAlphabet& a) {
        TPairTable t{};
        for (int v = 0; v < 4096; ++v) {
            const char pair[2] = {a[static_cast<size_t>(v >> 6)], a[static_cast<size_t>(v & 63)]};
            std::memcpy(&t[static_cast<size_t>(v)], pair, 2);
        }
        return t;
    };
    static const TAlphabet mimeAlphabet = alphabet(uuMime), uuAlphabet = alphabet(uuCode);
    static const TPairTable mimePairs = pairs(mimeAlphabet), uuPairs = pairs(uuAlphabet);
    FAlphabet = Method == uuMime ? &mimeAlphabet : &uuAlphabet;
    FPairs = Method == uuMime ? &mimePairs : &uuPairs;
}

char* TLineEncoder::EncodeLines(const uint8_t* In, size_t Lines, char* Out) const
{
    const TPairTable& pairs = *FPairs;
    const char length = LengthChar(LineBytes);
    for (; Lines > 0; --Lines, In += LineBytes) {
        if (FMethod == uuCode) *Out++ = length;
        // Six input bytes at a time from one 8-byte load (the last one ends at byte 43 of
        // the 45), eight characters in one store.
        for (int i = 0; i < 42; i += 6) {
            uint64_t v;
            std::memcpy(&v, In + i, 8);
            v = __builtin_bswap64(v);
            const uint64_t chars = uint64_t{pairs[(v >> 52) & 0xFFF]} | (uint64_t{pairs[(v >> 40) & 0xFFF]} << 16) |
                                   (uint64_t{pairs[(v >> 28) & 0xFFF]} << 32) |
                                   (uint64_t{pairs[(v >> 16) & 0xFFF]} << 48);
            std::memcpy(Out, &chars, 8);
            Out += 8;
        }
        const uint32_t v = (uint32_t{In[42]} << 16) | (uint32_t{In[43]} << 8) | In[44];
        const uint32_t chars = uint32_t{pairs[v >> 12]} | (uint32_t{pairs[v & 0xFFF]} << 16);
        std::memcpy(Out, &chars, 4);
        Out[4] = '\r';
        Out[5] = '\n';
        Out += 6;
    }
    return Out;
}

char* TLineEncoder::EncodeLine(const uint8_t* In, int Count, char* Out) const
{
    const TAlphabet& a = *FAlphabet;
    if (FMethod == uuCode) *Out++ = LengthChar(Count);
    int i = 0;
    for (; i + 3 <= Count; i += 3) {
        const uint32_t v = (uint32_t{In[i]} << 16) | (uint32_t{In[i + 1]} << 8) | In[i + 2];
        std::memcpy(Out, &(*FPairs)[v >> 12], 2);
        std::memcpy(Out + 2, &(*FPairs)[v & 0xFFF], 2);
        Out += 4;
    }
    const int left = Count - i;
    if (left == 2) {
        const uint8_t b0 = In[i], b1 = In[i + 1];
        *Out++ = a[b0 >> 2];
        *Out++ = a[static_cast<size_t>(((b0 & 3) << 4) | (b1 >> 4))];
        *Out++ = a[static_cast<size_t>((b1 & 15) << 2)];
        if (FMethod == uuMime) *Out++ = '=';
    } else if (left == 1) {
        const uint8_t b0 = In[i];
        *Out++ = a[b0 >> 2];
        *Out++ = a[static_cast<size_t>((b0 & 3) << 4)];
        if (FMethod == uuMime) {
            *Out++ = '=';
            *Out++ = '=';
        }
    }
    *Out++ = '\r';
    *Out++ = '\n';
    return Out;
}
