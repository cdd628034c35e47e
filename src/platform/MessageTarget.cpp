#include "platform/MessageTarget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <deque>

namespace {

const QEvent::Type MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type DrainEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message posted from another thread travels as a Qt event.
class TMessageEvent : public QEvent {
public:
    TMessageEvent(uint32_t AMsg, uintptr_t AWParam, intptr_t ALParam)
        : QEvent(MessageEventType), Msg(AMsg), WParam(AWParam), LParam(ALParam)
    {
    }
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

struct TQueued {
    TMessageTarget* Target;
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

// Delivers the queue when no wait loop is pumping (the application's own event loop).
class TDrainer : public QObject {
protected:
    bool event(QEvent* Event) override;
};

struct TThreadQueue {
    std::deque<TQueued> Items;
    bool DrainPosted = false;
    int PumpLevel = -1;  // event-loop level a wait loop is pumping, -1 for none
    TDrainer* Drainer = nullptr;
};

TThreadQueue& Queue()
{
    static thread_local TThreadQueue q;
    return q;
}

int LoopLevel() { return QThread::currentThread()->loopLevel(); }

bool TDrainer::event(QEvent* Event)
{
    if (Event->type() != DrainEventType) return QObject::event(Event);
    Queue().DrainPosted = false;
    DeliverPostedMessages();
    return true;
}

}  // namespace

TMessageTarget::TMessageTarget(TMessageHandler Handler) : FHandler(std::move(Handler)) {}

TMessageTarget::~TMessageTarget()
{
    // QObject's destructor drops our cross-thread events; the queue is ours to clean.
    for (TQueued& q : Queue().Items)
        if (q.Target == this) q.Target = nullptr;
}

void TMessageTarget::Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam)
{
    if (thread() != QThread::currentThread()) {
        QCoreApplication::postEvent(this, new TMessageEvent(Msg, WParam, LParam));
        return;
    }
    TThreadQueue& q = Queue();
    q.Items.push_back({this, Msg, WParam, LParam});
    // A wait loop pumping this level delivers after its pass; anyone else needs a nudge.
    if (q.PumpLevel == LoopLevel() || q.DrainPosted) return;
    if (!q.Drainer) q.Drainer = new TDrainer;  // lives as long as the thread
    q.DrainPosted = true;
    QCoreApplication::postEvent(q.Drainer, new QEvent(DrainEventType));
}

void TMessageTarget::Deliver(uint32_t Msg, uintptr_t WParam, intptr_t LParam)
{
    // Nothing may cross the event loop; the handler's own failures are its business.
    try {
        if (FHandler) FHandler(Msg, WParam, LParam);
    } catch (...) {
    }
}

bool TMessageTarget::event(QEvent* Event)
{
    if (Event->type() != MessageEventType) return QObject::event(Event);
    auto* m = static_cast<TMessageEvent*>(Event);
    Deliver(m->Msg, m->WParam, m->LParam);
    return true;
}

bool DeliverPostedMessages()
{
    TThreadQueue& q = Queue();
    size_t n = q.Items.size();
    const bool any = n > 0;
    while (n-- > 0 && !q.Items.empty()) {
        const TQueued item = q.Items.front();
        q.Items.pop_front();
        if (item.Target) item.Target->Deliver(item.Msg, item.WParam, item.LParam);
    }
    return any;
}

bool HasPostedMessages() { return !Queue().Items.empty(); }

TPumpScope::TPumpScope() : FSavedLevel(Queue().PumpLevel) { Queue().PumpLevel = LoopLevel(); }

TPumpScope::~TPumpScope() { Queue().PumpLevel = FSavedLevel; }
