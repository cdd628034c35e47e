#pragma once
// Where an exception goes that escapes a handler the event loop called (a timer tick, a
// button): the application installs its error report; without one the message goes to
// standard error. No exception may cross a Qt event handler.
#include <exception>
#include <functional>

using TExceptionReporter = std::function<void(const std::exception& E)>;

void SetExceptionReporter(TExceptionReporter Reporter);
// Reports the exception currently being handled (call inside a catch block).
void ReportCurrentException();

// Runs Fn; anything it throws is reported, never passed on.
template <typename F>
void RunGuarded(F&& Fn) noexcept
{
    try {
        Fn();
    } catch (...) {
        ReportCurrentException();
    }
}
