#pragma once
// The protocol log: with the environment variable QUILLCAST_LOG naming a file, every line
// sent is appended as "C: line" and every line read as "S: line", so a conversation a user
// saw can be replayed as a test script. Raises nothing; a log that cannot be opened is
// simply not written.
#include <cstddef>
#include <string>

class TProtocolLog {
public:
    // Each line of Data (CR LF or LF ended; a last part-line too) as Prefix + line.
    static void Lines(const char* Prefix, const char* Data, size_t Count);
    // Text as one line of its own.
    static void Note(const std::string& Text);
};
