#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <thread>

#include "platform/MessageTarget.h"

namespace {

using Clock = std::chrono::steady_clock;

// When the event loop last had a pass on this thread.
Clock::time_point& LastPass()
{
    static thread_local Clock::time_point last;
    return last;
}

// While our own messages keep coming (a large transfer re-posts its writer per chunk),
// the event loop gets a pass at least this often; in between they are delivered
// directly, without a system call per chunk.
constexpr auto PassInterval = std::chrono::microseconds(500);

}  // namespace

void ProcessMessages()
{
    if (QCoreApplication::instance()) {
        TPumpScope pumping;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        LastPass() = Clock::now();
    }
    DeliverPostedMessages();
}

void SleepAndProcessMessages(int BoundMs)
{
    if (!QCoreApplication::instance()) {
        if (!DeliverPostedMessages()) std::this_thread::sleep_for(std::chrono::milliseconds(BoundMs));
        return;
    }
    if (HasPostedMessages()) {
        // Our own messages are waiting: no sleeping, and the event loop only gets a
        // pass if it has not had one very recently.
        if (Clock::now() - LastPass() < PassInterval)
            DeliverPostedMessages();
        else
            ProcessMessages();
        return;
    }
    {
        // Block until the next event of any kind; a precise timer bounds the wait, so
        // the caller's flags are tested at least every BoundMs even if nothing happens.
        static thread_local QObject waker;
        TPumpScope pumping;
        const int id = waker.startTimer(std::chrono::milliseconds(BoundMs), Qt::PreciseTimer);
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (id) waker.killTimer(id);
        LastPass() = Clock::now();
    }
    DeliverPostedMessages();
}
