#include "LineEncoder.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QC_LINE_ENCODER_SSSE3 1
#endif

static_assert(std::endian::native == std::endian::little, "the pair stores assume little-endian");

#ifdef QC_LINE_ENCODER_SSSE3
namespace {

// Base64 of twelve bytes, sixteen characters, with SSSE3 (Wojciech Muła's method). Select
// picks the twelve from the sixteen bytes loaded at In.
__attribute__((target("ssse3"))) inline void EncodeTwelve(const uint8_t* In, __m128i Select, char* Out)
{
    // Each 32-bit lane gets one 3-byte group a b c as the bytes b a c b, that is the 16-bit
    // words a:b and b:c; the first holds fields 0 and 1 of the group, the second 2 and 3.
    const __m128i words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(In)), Select);
    // Fields 0 and 2 shifted down to bits 0-5 (a multiply-high by 2^6 and by 2^10), fields 1
    // and 3 up to bits 8-13 (a multiply by 2^4 and by 2^8): one field per byte, in order.
    const __m128i even = _mm_mulhi_epu16(_mm_and_si128(words, _mm_set1_epi32(0x0FC0FC00)), _mm_set1_epi32(0x04000040));
    const __m128i odd = _mm_mullo_epi16(_mm_and_si128(words, _mm_set1_epi32(0x003F03F0)), _mm_set1_epi32(0x01000010));
    const __m128i fields = _mm_or_si128(even, odd);
    // Each field plus the offset of its range of the alphabet: 0-25 'A', 26-51 'a', 52-61
    // '0', 62 '+', 63 '/'. The range's number: 0 up to 25, 1 up to 51, then 2 + field - 52.
    __m128i range = _mm_subs_epu8(fields, _mm_set1_epi8(51));
    range = _mm_sub_epi8(range, _mm_cmpgt_epi8(fields, _mm_set1_epi8(25)));
    const __m128i offsets = _mm_setr_epi8('A', 'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                          '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 0, 0);
    const __m128i chars = _mm_add_epi8(fields, _mm_shuffle_epi8(offsets, range));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out), chars);
}

__attribute__((target("ssse3"))) char* EncodeBase64Lines(const uint8_t* In, size_t Lines, char* Out)
{
    const __m128i first = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m128i last = _mm_add_epi8(first, _mm_set1_epi8(4));
    for (; Lines > 0; --Lines, In += TLineEncoder::LineBytes, Out += 62) {
        EncodeTwelve(In, first, Out);
        EncodeTwelve(In + 12, first, Out + 16);
        EncodeTwelve(In + 24, first, Out + 32);
        // Bytes 33 to 44, loaded from 29 so as to stay inside the line; their first four
        // characters are written a second time, the same.
        EncodeTwelve(In + 29, last, Out + 44);
        Out[60] = '\r';
        Out[61] = '\n';
    }
    return Out;
}

}  // namespace
#endif

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
#ifdef QC_LINE_ENCODER_SSSE3
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (FMethod == uuMime && ssse3) return EncodeBase64Lines(In, Lines, Out);
#endif
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
