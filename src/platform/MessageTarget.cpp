#include "platform/MessageTarget.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type MessageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class TMessageEvent : public QEvent {
public:
    TMessageEvent(uint32_t AMsg, uintptr_t AWParam, intptr_t ALParam)
        : QEvent(MessageEventType), Msg(AMsg), WParam(AWParam), LParam(ALParam) {}
    uint32_t Msg;
    uintptr_t WParam;
    intptr_t LParam;
};

}  // namespace

TMessageTarget::TMessageTarget(TMessageHandler Handler) : FHandler(std::move(Handler)) {}

// QObject's destructor drops the events still queued for us.
TMessageTarget::~TMessageTarget() = default;

void TMessageTarget::Post(uint32_t Msg, uintptr_t WParam, intptr_t LParam)
{
    QCoreApplication::postEvent(this, new TMessageEvent(Msg, WParam, LParam));
}

bool TMessageTarget::event(QEvent* Event)
{
    if (Event->type() != MessageEventType) return QObject::event(Event);
    auto* m = static_cast<TMessageEvent*>(Event);
    // Nothing may cross the event loop; the handler's own failures are its business.
    try {
        if (FHandler) FHandler(m->Msg, m->WParam, m->LParam);
    } catch (...) {
    }
    return true;
}
