#pragma once
// TEhloCapabilities: what a server's EHLO reply offers (RFC 5321 §4.1.1.1), keyword →
// parameters, taken apart by one pure function. Keywords are compared in upper case;
// parameters are kept as the server wrote them; keywords this client does not use are
// kept too. Raises nothing.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TEhloCapabilities {
    // The upper-case keyword of each line after the first, with its blank-separated
    // parameters. The old "AUTH=LOGIN PLAIN" form counts as AUTH.
    std::map<std::string, std::vector<std::string>> Keywords;

    // Lines of one EHLO reply ("250-…" … "250 …", line ends optional). The first line
    // names the server and offers nothing; lines without a reply code are skipped.
    static TEhloCapabilities Parse(const std::vector<std::string>& ReplyLines);

    bool Offers(const std::string& Keyword) const;
    // The parameters of Keyword; empty when it has none or is not offered.
    const std::vector<std::string>& Parameters(const std::string& Keyword) const;

    // The largest message the server takes (SIZE), in octets; 0 when it states none.
    uint64_t SizeLimit() const;
    // The AUTH mechanisms in upper case, in the server's order, each once.
    std::vector<std::string> AuthMechanisms() const;
    bool Pipelining() const { return Offers("PIPELINING"); }
    bool StartTls() const { return Offers("STARTTLS"); }
    bool EightBitMime() const { return Offers("8BITMIME"); }
};
