#include "platform/MessagePump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <thread>

void ProcessMessages()
{
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void SleepAndProcessMessages(int BoundMs)
{
    if (!QCoreApplication::instance()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(BoundMs));
        return;
    }
    // Block until the next event of any kind; a precise timer bounds the wait, so the
    // caller's flags are tested at least every BoundMs even if nothing happens.
    static thread_local QObject waker;
    const int id = waker.startTimer(std::chrono::milliseconds(BoundMs), Qt::PreciseTimer);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (id) waker.killTimer(id);
}
