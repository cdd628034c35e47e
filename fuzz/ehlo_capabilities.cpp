// A server's EHLO reply, split into lines at LF: keywords come out in upper case without
// blanks, parameters without blanks, SIZE only as the number the server wrote, AUTH
// mechanisms once each; and what was learned, written back as a reply, reads the same.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "smtp/EhloCapabilities.h"

namespace {

bool Blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string text(reinterpret_cast<const char*>(Data), Size);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        lines.push_back(text.substr(start, at + 1 - start));
    lines.push_back(text.substr(start));

    const TEhloCapabilities caps = TEhloCapabilities::Parse(lines);
    std::vector<std::string> written{"250-server"};
    for (const auto& [keyword, params] : caps.Keywords) {
        FUZZ_CHECK(std::none_of(keyword.begin(), keyword.end(), Blank));
        FUZZ_CHECK(std::none_of(keyword.begin(), keyword.end(), [](unsigned char c) { return std::islower(c); }));
        FUZZ_CHECK(caps.Offers(Lower(keyword)) && &caps.Parameters(Lower(keyword)) == &params);
        for (const std::string& p : params) FUZZ_CHECK(!p.empty() && std::none_of(p.begin(), p.end(), Blank));
        if (keyword.empty()) continue;  // "250- " offers a nameless keyword; it cannot be written back
        std::string line = "250-" + keyword;
        for (const std::string& p : params) line += " " + p;
        written.push_back(line);
    }
    TEhloCapabilities again = TEhloCapabilities::Parse(written);
    if (caps.Keywords.count("")) again.Keywords[""] = caps.Keywords.at("");
    FUZZ_CHECK(again.Keywords == caps.Keywords);

    const uint64_t size = caps.SizeLimit();
    if (size != 0) {  // the server's digits, leading zeros aside
        const std::string& said = caps.Parameters("SIZE")[0];
        FUZZ_CHECK(std::to_string(size) == said.substr(std::min(said.find_first_not_of('0'), said.size())));
    }
    const std::vector<std::string> mechanisms = caps.AuthMechanisms();
    for (size_t i = 0; i < mechanisms.size(); ++i) {
        FUZZ_CHECK(std::count(mechanisms.begin(), mechanisms.end(), mechanisms[i]) == 1);
        FUZZ_CHECK(
            std::none_of(mechanisms[i].begin(), mechanisms[i].end(), [](unsigned char c) { return std::islower(c); }));
    }
    return 0;
}
