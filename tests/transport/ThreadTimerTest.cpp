#include <gtest/gtest.h>

#include "base/Exception.h"
#include "platform/ExceptionReport.h"
#include "platform/MessagePump.h"
#include "transport/ThreadTimer.h"

// Ticks repeat, with the timer as sender, while it is enabled with an interval and a
// handler; a failing handler goes to the exception report and the ticks go on.
TEST(ThreadTimer, TicksGoOnAfterAFailingHandlerIsReported)
{
    std::vector<std::string> reports;
    SetExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
    TThreadTimer timer;
    EXPECT_FALSE(timer.Running());  // no handler yet
    int ticks = 0;
    TObject* sender = nullptr;
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        if (++ticks <= 2) throw Exception("tick failed");
    });
    timer.SetInterval(5);
    for (int i = 0; i < 2500 && ticks < 4; ++i) SleepAndProcessMessages(2);
    SetExceptionReporter(nullptr);
    EXPECT_GE(ticks, 4);
    EXPECT_EQ(sender, &timer);
    EXPECT_EQ(reports, (std::vector<std::string>{"tick failed", "tick failed"}));
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
}
