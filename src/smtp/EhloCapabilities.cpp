#include "smtp/EhloCapabilities.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <utility>

namespace {

std::string Upper(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEhloCapabilities TEhloCapabilities::Parse(const std::vector<std::string>& ReplyLines)
{
    TEhloCapabilities caps;
    bool first = true;
    for (std::string line : ReplyLines) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.size() < 3 ||
            !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (std::exchange(first, false) || line.size() < 5) continue;
        std::istringstream words(line.substr(4));
        std::string keyword, word;
        words >> keyword;
        keyword = Upper(keyword);
        std::vector<std::string> params;
        // Old servers write "AUTH=LOGIN PLAIN" for clients that predate RFC 4954.
        if (keyword.rfind("AUTH=", 0) == 0) {
            if (keyword.size() > 5) params.push_back(keyword.substr(5));
            keyword = "AUTH";
        }
        while (words >> word) params.push_back(word);
        std::vector<std::string>& known = caps.Keywords[keyword];
        known.insert(known.end(), params.begin(), params.end());
    }
    return caps;
}

bool TEhloCapabilities::Offers(const std::string& Keyword) const { return Keywords.count(Upper(Keyword)) != 0; }

const std::vector<std::string>& TEhloCapabilities::Parameters(const std::string& Keyword) const
{
    static const std::vector<std::string> none;
    const auto it = Keywords.find(Upper(Keyword));
    return it == Keywords.end() ? none : it->second;
}

uint64_t TEhloCapabilities::SizeLimit() const
{
    const std::vector<std::string>& params = Parameters("SIZE");
    if (params.empty() || params[0].empty() || params[0].size() > 19 ||
        !std::all_of(params[0].begin(), params[0].end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    return std::stoull(params[0]);
}

std::vector<std::string> TEhloCapabilities::AuthMechanisms() const
{
    std::vector<std::string> out;
    for (const std::string& p : Parameters("AUTH"))
        if (std::find(out.begin(), out.end(), Upper(p)) == out.end()) out.push_back(Upper(p));
    return out;
}
