#pragma once
// The message of the exception of class E (an Exception) that Fn raised; "" when it
// raised none. Any other exception passes through.
#include <string>

template <typename E, typename F>
std::string MessageOf(F&& Fn)
{
    try {
        Fn();
    } catch (const E& e) {
        return e.Message();
    }
    return "";
}
