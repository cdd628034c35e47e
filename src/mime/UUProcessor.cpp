#include "UUProcessor.h"

#include <cstring>
#include <exception>
#include <vector>

#include "base/Exception.h"
#include "mime/LineEncoder.h"

namespace {

constexpr int LineBytes = TLineEncoder::LineBytes;
constexpr int BlockLines = 1456;  // lines encoded per output write
constexpr int BlockBytes = LineBytes * BlockLines;
constexpr int MaxLineChars = 1 + 60 + 2;  // length character, groups, CR LF

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
        const TLineEncoder encoder(FMethod);
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
                if (pos >= size) {
                    atEnd = true;
                    break;
                }
                const int32_t n = input.Read(in.data() + fill, BlockBytes - fill);
                if (n < 0) throw EReadError("Stream read error");
                if (n == 0) {
                    atEnd = true;
                    break;
                }  // no progress: stop rather than spin
                fill += n;
                pos += n;
            }
            const int whole = fill / LineBytes * LineBytes;
            char* o = encoder.EncodeLines(in.data(), static_cast<size_t>(fill / LineBytes), out.data());
            int rest = fill - whole;
            if (atEnd && rest > 0) {
                o = encoder.EncodeLine(in.data() + whole, rest, o);
                rest = 0;
            }
            if (atEnd && FMethod == uuCode) {
                *o++ = encoder.LengthChar(0);
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
