#include "platform/ExceptionReport.h"

#include <cstdio>

#include "base/Exception.h"

namespace {
TExceptionReporter& Reporter()
{
    static TExceptionReporter reporter;
    return reporter;
}

void Deliver(const std::exception& E)
{
    try {
        if (Reporter())
            Reporter()(E);
        else
            std::fprintf(stderr, "%s\n", E.what());
    } catch (...) {
        // A failing report must not take the event loop down with it.
    }
}
}  // namespace

void SetExceptionReporter(TExceptionReporter R) { Reporter() = std::move(R); }

void ReportCurrentException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        Deliver(e);
    } catch (...) {
        Deliver(Exception("Unknown exception"));
    }
}
