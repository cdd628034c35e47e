#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "platform/ExceptionReport.h"
#include "platform/MessagePump.h"
#include "transport/ThreadTimer.h"

// Setting the current interval again must not restart the period; any other value does.
TEST(ThreadTimer, OnlyAChangedIntervalRestartsThePeriod)
{
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(150);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    for (bool change : {false, true}) {
        ticks = 0;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; clock.elapsed() < 600; ++i) {
            timer.SetInterval(change && i % 2 ? 151 : 150);
            for (int j = 0; j < 5; ++j) SleepAndProcessMessages(2);
        }
        EXPECT_EQ(ticks > 0, !change);
    }
}

// Runs only when enabled, with an interval and a handler. Ticks repeat with the timer as
// sender; a failing handler goes to the exception report and the ticks go on.
TEST(ThreadTimer, RunsWhenEnabledAndAFailingHandlerIsReported)
{
    std::vector<std::string> reports;
    SetExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled() && timer.Interval() == 1000u && !timer.Running());  // no handler yet
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
    EXPECT_TRUE(timer.Running());
    timer.SetInterval(0);
    EXPECT_TRUE(timer.Enabled() && !timer.Running());
    timer.SetInterval(10);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Running());
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(timer.Running());
}
