#include <arpa/inet.h>
#include <netinet/in.h>

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

#include "platform/HostLookup.h"
#include "platform/MessagePump.h"
#include "platform/MessageTarget.h"

// Messages come in posting order across targets, one posted while delivering after the
// rest; a throwing handler does not stop delivery; a destroyed target gets nothing.
TEST(MessageTarget, DeliversInPostingOrderAndSurvivesFailuresAndDestruction)
{
    std::vector<int> seen;
    TMessageTarget a([&](uint32_t m, uintptr_t, intptr_t) {
        seen.push_back(static_cast<int>(m));
        if (m == 3) throw std::runtime_error("handler failed");
    });
    TMessageTarget b([&](uint32_t m, uintptr_t, intptr_t l) {
        seen.push_back(static_cast<int>(m));
        if (l == 1) b.Post(99, 0, 0);
    });
    auto doomed = std::make_unique<TMessageTarget>([&](uint32_t, uintptr_t, intptr_t) { seen.push_back(-1); });
    a.Post(1, 0, 0);
    b.Post(2, 0, 1);
    doomed->Post(7, 0, 0);
    a.Post(3, 0, 0);
    a.Post(4, 0, 0);
    doomed.reset();
    for (int i = 0; i < 10; ++i) SleepAndProcessMessages(2);
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 99}));
}

// Posts from any thread reach the target in the application's own loop, not only the pump's.
TEST(MessageTarget, ReachesTheTargetOutsideAnyWaitLoop)
{
    int seen = 0;
    TMessageTarget t([&](uint32_t, uintptr_t, intptr_t) { ++seen; });
    t.Post(1, 0, 0);
    std::thread([&] { t.Post(2, 0, 0); }).join();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, 2);
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

TEST(HostLookup, SystemLookupFindsIPv4AddressesAndReportsUnknownHosts)
{
    for (const char* name : {"localhost", "no-such-host.invalid", "\xD0\xBF\xD1\x80\xD0\xB8.invalid"}) {
        QObject context;
        int error = -1;
        uint32_t addr = 0;
        StartHostLookup(name, &context, [&](int e, uint32_t a) { error = e, addr = a; });
        for (int i = 0; i < 5000 && error < 0; ++i) SleepAndProcessMessages(2);
        if (std::string(name) == "localhost") {
            EXPECT_EQ(error, 0);
            EXPECT_EQ(addr, htonl(INADDR_LOOPBACK));
        } else {
            // Without a name server the resolver may only say that it could not find out.
            EXPECT_TRUE(error == 11001 || error == 11003) << name << ": " << error;
        }
    }
}
