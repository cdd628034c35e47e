#pragma once
// The exception family every layer raises: a general error with a message, and the
// stream, file, list and conversion errors of the class library.
#include <exception>
#include <string>

// printf-style formatting into a std::string (the texts carry %s / %d placeholders).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

class EStreamError : public Exception {
    using Exception::Exception;
};
class EReadError : public EStreamError {
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
    using EStreamError::EStreamError;
};
// "Cannot open file %s"
class EFOpenError : public EStreamError {
    using EStreamError::EStreamError;
};
// "Cannot create file %s"
class EFCreateError : public EStreamError {
    using EStreamError::EStreamError;
};
class EStringListError : public Exception {
    using Exception::Exception;
};
// "'%s' is not a valid integer value"
class EConvertError : public Exception {
    using Exception::Exception;
};

// An error's text as the user is shown it: the message with a full stop added, unless it
// is empty or already ends in a full stop or in a character that sorts before it
// ("Failed!" stays, "Timed out" gets its stop).
std::string ErrorReportText(const std::string& Message);

// Strict decimal conversion as the runtime's StrToInt does it: optional sign, digits,
// surrounding blanks allowed; anything else raises EConvertError.
int StrToInt(const std::string& text);
