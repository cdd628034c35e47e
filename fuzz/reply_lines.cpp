// Server replies as the transport frames them and the clients take them apart: bytes
// already received are read line by line (ReadLn) and each line parsed (ParseReplyLine),
// whose Continued is all the clients use to gather a multi-line reply. No socket is
// connected, so a last part-line ends in "Connection closed".
#include <QCoreApplication>

#include <string>

#include "FuzzCheck.h"
#include "transport/SockTransport.h"

namespace {

void CheckLine(const std::string& Line)
{
    const TReplyLine r = ParseReplyLine(Line);
    const bool digit = !Line.empty() && Line[0] >= '0' && Line[0] <= '9';
    FUZZ_CHECK(r.HasCode == digit);
    FUZZ_CHECK(r.Code >= 0);
    if (!r.HasCode) FUZZ_CHECK(r.Code == 0);
    // Three digits and a blank: the code is exactly those digits and the reply ends here.
    if (Line.size() >= 4 && digit && Line[1] >= '0' && Line[1] <= '9' && Line[2] >= '0' && Line[2] <= '9' &&
        Line[3] == ' ')
        FUZZ_CHECK(r.Code == std::stoi(Line.substr(0, 3)) && !r.Continued);
    if (Line.size() >= 4 && Line[3] == '-') FUZZ_CHECK(r.Continued);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    CheckLine(input);

    TSockTransport transport;
    transport.InBuffer().WriteBuffer(input.data(), static_cast<int64_t>(input.size()));
    std::string consumed, line;
    try {
        for (;;) {
            transport.ReadLn(line);
            FUZZ_CHECK(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1);
            consumed += line;
            CheckLine(line);
        }
    } catch (const ESockError& e) {
        FUZZ_CHECK(e.Message() == "Connection closed");
    }
    // Every byte up to the last LF was handed out once, in order; the rest is still waiting.
    FUZZ_CHECK(input.compare(0, consumed.size(), consumed) == 0);
    FUZZ_CHECK(input.find('\n', consumed.size()) == std::string::npos);
    FUZZ_CHECK(transport.InBuffer().Size() == static_cast<int64_t>(input.size() - consumed.size()));

    // The news client's group reply "211 count first last name": fields by blanks.
    const std::string first = NthField(input, ' ', 3);
    FUZZ_CHECK(first.find(' ') == std::string::npos && input.find(first) != std::string::npos);
    return 0;
}
