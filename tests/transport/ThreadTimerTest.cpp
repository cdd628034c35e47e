#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "platform/ExceptionReport.h"
#include "platform/MessagePump.h"
#include "transport/ThreadTimer.h"

namespace {
// Processes events for about Ms milliseconds.
void PumpFor(int Ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < Ms) SleepAndProcessMessages(2);
}
}  // namespace

TEST(ThreadTimer, RunsOnlyWithEnabledIntervalAndHandler)
{
    TThreadTimer timer;
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_FALSE(timer.Running());  // no handler yet
    timer.SetOnTimer([](TObject*) {});
    EXPECT_TRUE(timer.Running());
    timer.SetInterval(0);  // stops although still enabled
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.Running());
    timer.SetInterval(10);
    EXPECT_TRUE(timer.Running());
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    timer.SetEnabled(true);
    timer.SetOnTimer(nullptr);
    EXPECT_FALSE(timer.Running());
}

// Setting the current interval again must not restart the period; any other value does.
TEST(ThreadTimer, OnlyAChangedIntervalRestartsThePeriod)
{
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(150);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 600) {
        timer.SetInterval(150);  // same value: no restart, so ticks come
        PumpFor(10);
    }
    EXPECT_GE(ticks, 1);

    ticks = 0;
    clock.restart();
    bool flip = false;
    while (clock.elapsed() < 600) {
        timer.SetInterval(flip ? 150 : 151);  // a change each time: the period never ends
        flip = !flip;
        PumpFor(10);
    }
    EXPECT_EQ(ticks, 0);
}

// Ticks repeat with the timer as sender; a failing handler goes to the exception report
// and the ticks go on.
TEST(ThreadTimer, TicksRepeatAndAFailingHandlerIsReported)
{
    std::vector<std::string> reports;
    SetExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
    TThreadTimer timer;
    int ticks = 0;
    TObject* sender = nullptr;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TObject* s) {
        sender = s;
        if (++ticks <= 2) throw Exception("tick failed");
    });
    for (int i = 0; i < 2500 && ticks < 4; ++i) SleepAndProcessMessages(2);
    SetExceptionReporter(nullptr);
    EXPECT_GE(ticks, 4);
    EXPECT_EQ(sender, &timer);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "tick failed");
    EXPECT_TRUE(timer.Running());
}
