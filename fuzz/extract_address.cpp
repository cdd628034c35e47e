// The mailbox taken from a recipient entry as typed or loaded: always a piece of the
// entry, never with blanks around it, the text inside the angle brackets when there are
// some, and exactly what the send layer puts into RCPT TO.
#include <string>

#include "FuzzCheck.h"
#include "smtp/SmtpClient.h"

namespace {

std::string Trim(const std::string& S)
{
    const size_t first = S.find_first_not_of(" \t");
    return first == std::string::npos ? "" : S.substr(first, S.find_last_not_of(" \t") - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string entry(reinterpret_cast<const char*>(Data), Size);
    const std::string address(TSmtpClient::ExtractAddress(entry));
    FUZZ_CHECK(entry.find(address) != std::string::npos);
    FUZZ_CHECK(address == Trim(address));
    // Blanks around the entry change nothing.
    FUZZ_CHECK(TSmtpClient::ExtractAddress(" \t" + entry + "\t ") == address);

    const size_t open = entry.find('<');
    if (open != std::string::npos && entry.find('<', open + 1) == std::string::npos) {
        const size_t close = entry.find('>', open);
        FUZZ_CHECK(address == Trim(entry.substr(open + 1, close == std::string::npos ? close : close - open - 1)));
    } else if (open == std::string::npos && entry.find(':') == std::string::npos) {
        FUZZ_CHECK(address == Trim(entry));
    }
    return 0;
}
