#include "smtp/ProtocolLog.h"

#include <cstdlib>

TProtocolLog::TProtocolLog()
{
    const char* Name = std::getenv("QUILLCAST_LOG");
    if (Name && *Name)
        FFile = std::fopen(Name, "ae");
}

TProtocolLog::TProtocolLog(const std::string& FileName)
{
    if (!FileName.empty())
        FFile = std::fopen(FileName.c_str(), "ae");
}

TProtocolLog::~TProtocolLog()
{
    if (FFile)
        std::fclose(FFile);
}

void TProtocolLog::Put(const char* Prefix, const std::string& Text)
{
    if (!FFile)
        return;
    std::string Out;
    Out.reserve(Text.size() + 8);
    size_t Start = 0;
    // One log line per CR LF / LF separated line; a trailing line end adds nothing.
    while (Start <= Text.size()) {
        size_t End = Text.find('\n', Start);
        bool Last = End == std::string::npos;
        if (Last)
            End = Text.size();
        size_t Cut = End;
        if (Cut > Start && Text[Cut - 1] == '\r')
            --Cut;
        if (!(Last && Start == End && Start != 0)) {
            Out += Prefix;
            Out.append(Text, Start, Cut - Start);
            Out += '\n';
        }
        if (Last)
            break;
        Start = End + 1;
    }
    std::fwrite(Out.data(), 1, Out.size(), FFile);
    std::fflush(FFile);
}
