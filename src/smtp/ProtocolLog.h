#pragma once
// The conversation as it went over the wire, one line per command or reply line:
// "C: " for what the client sent, "S: " for what the server answered, "# " for notes
// (connection opened or closed, the message body summarised by its size). The form is
// that of the scripted test server, so a conversation a user saw can be replayed.
//
// Switched on by the environment variable QUILLCAST_LOG naming the file; lines are
// appended and flushed at once, so the log survives a crash. A log that cannot be opened
// is silently off: diagnosis must never break a send.
#include <cstdint>
#include <cstdio>
#include <string>

class TProtocolLog {
public:
    // Opens the file named by QUILLCAST_LOG, if any.
    TProtocolLog();
    // Opens FileName (empty: off).
    explicit TProtocolLog(const std::string& FileName);
    ~TProtocolLog();
    TProtocolLog(const TProtocolLog&) = delete;
    TProtocolLog& operator=(const TProtocolLog&) = delete;

    bool Active() const { return FFile != nullptr; }
    // Text may carry its line end; it is cut off, as is everything after a line break,
    // which is written as a further line with the same prefix.
    void Sent(const std::string& Text) { Put("C: ", Text); }
    void Received(const std::string& Text) { Put("S: ", Text); }
    void Note(const std::string& Text) { Put("# ", Text); }

private:
    void Put(const char* Prefix, const std::string& Text);
    std::FILE* FFile = nullptr;
};
