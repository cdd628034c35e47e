#pragma once
// A per-component message target: the hidden notification window of the socket
// components. Post() queues a message that is delivered, in order, on the thread that
// owns the target whenever that thread processes its events. Messages still queued
// when the target is destroyed are discarded.
//
// Messages posted on the owning thread go to a thread-local queue; the message pump
// delivers it right after each pass of the event loop, and a single Qt event per batch
// delivers it when something else runs the loop. So a notification costs no wake-up of
// the event loop while a wait is pumping.
#include <QObject>

#include <cstdint>
#include <functional>

using TMessageHandler = std::function<void(uint32_t Msg, uintptr_t WParam, intptr_t LParam)>;

class TMessageTarget : public QObject {
public:
    explicit TMessageTarget(TMessageHandler Handler = {});
    ~TMessageTarget() override;

    void SetHandler(TMessageHandler Handler) { FHandler = std::move(Handler); }
    // Safe to call from any thread; delivery always happens on the target's thread.
    void Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam);
    // Runs the handler now (exceptions are dropped).
    void Deliver(uint32_t Msg, uintptr_t WParam, intptr_t LParam);

protected:
    bool event(QEvent* Event) override;

private:
    TMessageHandler FHandler;
};

// Delivers the messages queued on this thread when the call began (messages they post
// wait for the next call, so the event loop keeps its turn). True when any was queued.
bool DeliverPostedMessages();
bool HasPostedMessages();

// While alive, the current event-loop level is being pumped by a wait loop that
// delivers the queue itself after each pass.
class TPumpScope {
public:
    TPumpScope();
    ~TPumpScope();
    TPumpScope(const TPumpScope&) = delete;
    TPumpScope& operator=(const TPumpScope&) = delete;

private:
    int FSavedLevel;
};

// The two halves of a notification's second parameter.
inline intptr_t MakeSelectReply(uint16_t Event, uint16_t Error)
{
    return static_cast<intptr_t>(Event | (uint32_t(Error) << 16));
}
inline uint16_t SelectEvent(intptr_t LParam) { return static_cast<uint16_t>(LParam & 0xFFFF); }
inline uint16_t SelectError(intptr_t LParam) { return static_cast<uint16_t>((LParam >> 16) & 0xFFFF); }
