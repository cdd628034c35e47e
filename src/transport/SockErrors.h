#pragma once
// The transport's exceptions and its table of socket error texts.
#include <cstdint>
#include <string>

#include "base/Exception.h"

// Every failure of the socket transport; carries only its message.
class ESockError : public Exception {
    using Exception::Exception;
};
// A wait for sending or for a line that a cancel ended.
class EAbortError : public ESockError {
    using ESockError::ESockError;
};

struct TSockErrorEntry {
    int32_t Number;
    const char* Text;
};

constexpr int SockErrorTableSize = 50;
extern const TSockErrorEntry SockErrorTable[SockErrorTableSize];

// "10061:Connection refused" for a number of the table, "Unknown Error No. N" for any
// other, "" for 0. (TSockTransport::LookupErrorMessage adds the status report.)
std::string SockErrorText(int Number);
