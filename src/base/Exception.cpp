#include "Exception.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        out.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    return out;
}

std::string ErrorReportText(const std::string& Message)
{
    if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + ".";
    return Message;
}

int StrToInt(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    const std::string t = text.substr(b, e - b);
    bool ok = !t.empty();
    long long v = 0;
    if (ok) {
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        ok = i < t.size();
        for (; ok && i < t.size(); ++i) {
            if (t[i] < '0' || t[i] > '9') {
                ok = false;
                break;
            }
            v = v * 10 + (t[i] - '0');
            if (v > static_cast<long long>(INT_MAX) + 1) {
                ok = false;
                break;
            }
        }
        if (ok && t[0] == '-') v = -v;
        ok = ok && v >= INT_MIN && v <= INT_MAX;
    }
    if (!ok) throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    return static_cast<int>(v);
}
