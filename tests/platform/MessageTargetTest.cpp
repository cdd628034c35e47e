#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/HostLookup.h"
#include "platform/MessagePump.h"
#include "platform/MessageTarget.h"

namespace {
void PumpABit()
{
    for (int i = 0; i < 10; ++i) SleepAndProcessMessages(2);
}
}  // namespace

TEST(MessageTarget, DeliversInPostingOrderAcrossTargets)
{
    std::vector<int> seen;
    TMessageTarget a([&](uint32_t m, uintptr_t, intptr_t) { seen.push_back(static_cast<int>(m)); });
    TMessageTarget b([&](uint32_t m, uintptr_t, intptr_t l) {
        seen.push_back(static_cast<int>(m));
        if (l == 1) b.Post(99, 0, 0);  // posted while delivering: comes after the rest
    });
    a.Post(1, 0, 0);
    b.Post(2, 0, 1);
    a.Post(3, 0, 0);
    PumpABit();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 99}));
}

TEST(MessageTarget, ReachesTheTargetOutsideAnyWaitLoop)
{
    int seen = 0;
    TMessageTarget t([&](uint32_t, uintptr_t, intptr_t) { ++seen; });
    t.Post(1, 0, 0);
    std::thread([&] { t.Post(2, 0, 0); }).join();  // from another thread too
    QCoreApplication::processEvents();  // the application's own loop, not the pump
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, 2);
}

TEST(MessageTarget, MessagesForADestroyedTargetAreDropped)
{
    int seen = 0;
    auto doomed = std::make_unique<TMessageTarget>([&](uint32_t, uintptr_t, intptr_t) { ++seen; });
    doomed->Post(1, 0, 0);
    doomed.reset();
    PumpABit();
    EXPECT_EQ(seen, 0);
}

TEST(MessageTarget, AThrowingHandlerDoesNotStopDelivery)
{
    std::vector<int> seen;
    TMessageTarget t([&](uint32_t m, uintptr_t, intptr_t) {
        seen.push_back(static_cast<int>(m));
        if (m == 1) throw std::runtime_error("handler failed");
    });
    t.Post(1, 0, 0);
    t.Post(2, 0, 0);
    PumpABit();
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(HostLookup, NoCompletionAfterTheRequesterIsGone)
{
    THostLookupDone kept;
    SetHostLookupOverride([&](const std::string&, QObject*, THostLookupDone done) { kept = std::move(done); });
    int calls = 0;
    auto context = std::make_unique<QObject>();
    StartHostLookup("late.test", context.get(), [&](int, uint32_t) { ++calls; });
    SetHostLookupOverride(nullptr);
    ASSERT_TRUE(kept);
    context.reset();
    kept(0, 0x0100007F);
    EXPECT_EQ(calls, 0);
}

TEST(HostLookup, SystemLookupReportsUnknownHosts)
{
    QObject context;
    int error = -1;
    StartHostLookup("no-such-host.invalid", &context, [&](int e, uint32_t) { error = e; });
    for (int i = 0; i < 5000 && error < 0; ++i) SleepAndProcessMessages(2);
    // Without a name server the resolver may only say that it could not find out.
    EXPECT_TRUE(error == 11001 || error == 11003) << error;
}
