// The composer under any subject, names, addresses and body lines: no CR, LF or NUL ever
// escapes into a header line (a fold is CR LF and a blank, nothing else), every body line
// ends in CR LF, no body line is a lone "." that would end the message data, and a server
// without 8BITMIME gets no 8-bit body byte. The SMTP client sends the streamed body
// (TMessageBodyStream); it must read byte for byte as the in-memory one, the checked oracle.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "mime/MessageComposer.h"

namespace {

std::vector<std::string> Split(const std::string& S, const std::string& Sep)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at; (at = S.find(Sep, start)) != std::string::npos; start = at + Sep.size())
        parts.push_back(S.substr(start, at - start));
    parts.push_back(S.substr(start));
    return parts;
}

bool FieldName(const std::string& Line)
{
    const size_t colon = Line.find(':');
    if (colon == 0 || colon == std::string::npos) return false;
    for (size_t i = 0; i < colon; ++i)
        if (Line[i] <= ' ' || Line[i] > '~') return false;
    return true;
}

// One header field as composed: a name, then folds only.
void CheckField(const std::string& Field)
{
    const std::vector<std::string> lines = Split(Field, "\r\n");
    FUZZ_CHECK(FieldName(lines[0]));
    for (size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(lines[i].find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
        if (i > 0) FUZZ_CHECK(!lines[i].empty() && (lines[i][0] == ' ' || lines[i][0] == '\t'));
    }
}

void CheckBody(const std::string& Body, bool Allow8Bit)
{
    if (Body.empty()) return;
    FUZZ_CHECK(Body.ends_with("\r\n"));
    const std::vector<std::string> lines = Split(Body.substr(0, Body.size() - 2), "\r\n");
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(line != ".");
        FUZZ_CHECK(line.size() <= 999);  // 998 octets, and the "." of dot-stuffing
        if (!Allow8Bit)
            for (unsigned char c : line) FUZZ_CHECK(c < 0x80);
    }
}

void AddEntries(FuzzedDataProvider& In, TStringList& List, int Most)
{
    for (int n = In.ConsumeIntegralInRange(0, Most); n > 0; --n) List.Add(In.ConsumeRandomLengthString(80));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    FuzzedDataProvider in(Data, Size);
    TPostMessage msg;
    msg.SetSubject(in.ConsumeRandomLengthString(200));
    msg.SetFromName(in.ConsumeRandomLengthString(80));
    msg.SetFromAddress(in.ConsumeRandomLengthString(80));
    msg.SetReplyTo(in.ConsumeRandomLengthString(80));
    msg.SetDate(in.ConsumeRandomLengthString(40));
    msg.SetLocalProgram(in.ConsumeRandomLengthString(40));
    AddEntries(in, msg.ToAddress(), 30);
    AddEntries(in, msg.ToCarbonCopy(), 30);
    const bool attach = in.ConsumeBool();
    // A file that is not there: its part's header lines are written before the open fails.
    if (attach) msg.Attachments().Add("/nonexistent-quillcast-fuzz/" + in.ConsumeRandomLengthString(80));
    TMessageComposer composer;
    composer.Allow8Bit = in.ConsumeBool();
    const auto subType = static_cast<TSubType>(in.ConsumeIntegralInRange(0, 4));
    const auto method = static_cast<UUMethods>(in.ConsumeIntegralInRange(0, 1));
    while (in.remaining_bytes() > 0) msg.Body().Add(in.ConsumeRandomLengthString(1200));

    TExStringList header, streamedHeader;
    std::string boundary, streamedBoundary;
    TMemoryStream body;
    TMessageBodyStream streamed;
    for (bool inMemory : {true, false}) {
        try {
            if (inMemory)
                composer.ComposeMessage(msg, subType, method, header, boundary, body);
            else
                composer.ComposeMessage(msg, subType, method, streamedHeader, streamedBoundary, streamed);
            FUZZ_CHECK(!attach);
        } catch (const EFOpenError&) {
            FUZZ_CHECK(attach);
        }
    }
    for (const std::string& field : header.Items()) CheckField(field);
    if (!attach) {
        // Without attachments there is no boundary, so both headers are the same lines.
        FUZZ_CHECK(streamedHeader.Items() == header.Items());
        FUZZ_CHECK(streamed.Size() == body.Size());
        std::string read;
        char chunk[977];  // an odd size, so reads end inside lines
        streamed.Seek(0, soFromBeginning);
        for (int32_t n; (n = streamed.Read(chunk, sizeof chunk)) > 0;) read.append(chunk, static_cast<size_t>(n));
        FUZZ_CHECK(read == body.DataString());
        CheckBody(body.DataString(), composer.Allow8Bit);
        return 0;
    }
    // The attachment's part header: the fields after the last boundary line.
    const std::string text = body.DataString();
    const size_t part = text.rfind("--" + boundary + "\r\n");
    FUZZ_CHECK(part != std::string::npos && text.ends_with("\r\n\r\n"));
    const std::string fields = text.substr(part + boundary.size() + 4, text.size() - part - boundary.size() - 8);
    std::string field;
    for (const std::string& line : Split(fields, "\r\n")) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            field += "\r\n" + line;
            continue;
        }
        if (!field.empty()) CheckField(field);
        field = line;
    }
    CheckField(field);
    return 0;
}
