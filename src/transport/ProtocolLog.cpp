#include "transport/ProtocolLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The file is reopened when the variable changes, so tests can point it elsewhere.
FILE* LogFile()
{
    static FILE* file = nullptr;
    static std::string openPath;
    // Asked for every protocol line: compared in place, nothing allocated while it stays.
    const char* env = std::getenv("QUILLCAST_LOG");
    if (!env) env = "";
    if (openPath != env) {
        if (file) std::fclose(file);
        openPath = env;
        file = openPath.empty() ? nullptr : std::fopen(openPath.c_str(), "a");
    }
    return file;
}

}  // namespace

void TProtocolLog::Lines(const char* Prefix, const char* Data, size_t Count)
{
    FILE* f = LogFile();
    if (!f) return;
    size_t start = 0;
    while (start < Count) {
        const char* lf = static_cast<const char*>(std::memchr(Data + start, '\n', Count - start));
        size_t end = lf ? static_cast<size_t>(lf - Data) : Count;
        const size_t next = lf ? end + 1 : Count;
        if (end > start && Data[end - 1] == '\r') --end;
        std::fprintf(f, "%s%.*s\n", Prefix, static_cast<int>(end - start), Data + start);
        start = next;
    }
    std::fflush(f);
}

void TProtocolLog::Note(const std::string& Text)
{
    if (FILE* f = LogFile()) {
        std::fprintf(f, "%s\n", Text.c_str());
        std::fflush(f);
    }
}
