#pragma once
// Encodes the whole of one stream into lines of base64 (at most 60 characters, CR LF) or
// uuencode (length character, groups, CR LF; a final zero-length line "`") in another.
#include "base/Component.h"
#include "base/Stream.h"
#include "mime/MimeTypes.h"

class TUUProcessor : public TComponent {
public:
    explicit TUUProcessor(TComponent* AOwner = nullptr);

    UUMethods Method() const { return FMethod; }
    void SetMethod(UUMethods Value) { FMethod = Value; }
    // Neither stream is owned; both must outlive Encode.
    TStream* InputStream() const { return FInputStream; }
    void SetInputStream(TStream* Value) { FInputStream = Value; }
    TStream* OutputStream() const { return FOutputStream; }
    void SetOutputStream(TStream* Value) { FOutputStream = Value; }

    // Encodes InputStream from its first byte, appending at OutputStream's position. On
    // every way out (errors of the streams propagate) OutputStream is rewound to 0, which
    // makes a buffered output commit its last bytes, and OnEndEncode is called. A read
    // that returns nothing before the end ends the input; a failed read (negative count)
    // raises EReadError "Stream read error"; a refused write raises EWriteError.
    void Encode();

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    // Published for symmetry; this component only encodes and never calls them.
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

private:
    UUMethods FMethod = uuMime;
    TStream* FInputStream = nullptr;
    TStream* FOutputStream = nullptr;
};
