#pragma once
// TLineEncoder: base64 and uuencode lines, 45 input bytes to a line of 60 characters and
// CR LF (uuencode lines lead with a length character). The in-memory encoder and the body
// stream that encodes while it is sent share it, so the two cannot differ by a byte.
#include <array>
#include <cstddef>
#include <cstdint>

#include "mime/MimeTypes.h"

class TLineEncoder {
public:
    static constexpr int LineBytes = 45;  // input bytes of a full line

    explicit TLineEncoder(UUMethods Method);

    // Lines full lines from In (Lines * 45 bytes); returns one past the last character.
    char* EncodeLines(const uint8_t* In, size_t Lines, char* Out) const;
    // One line of Count (1 to 45) bytes, for the last part of an input.
    char* EncodeLine(const uint8_t* In, int Count, char* Out) const;
    // The uuencode length character of a line of Count (0 to 45) bytes.
    char LengthChar(int Count) const { return (*FAlphabet)[static_cast<size_t>(Count)]; }

private:
    using TAlphabet = std::array<char, 64>;
    // Two output characters for every 12-bit value, so a 3-byte group takes two look-ups.
    using TPairTable = std::array<uint16_t, 4096>;

    UUMethods FMethod;
    const TAlphabet* FAlphabet;
    const TPairTable* FPairs;
};
