#include "platform/WindowTimer.h"

#include <QTimerEvent>

#include <climits>

TWindowTimer::TWindowTimer(std::function<void()> OnTick) : FOnTick(std::move(OnTick)) {}

TWindowTimer::~TWindowTimer() { Stop(); }

bool TWindowTimer::Start(uint32_t IntervalMs)
{
    Stop();
    const int ms = IntervalMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(IntervalMs);
    FId = startTimer(ms, Qt::PreciseTimer);
    return FId != 0;
}

void TWindowTimer::Stop()
{
    if (FId) killTimer(FId);
    FId = 0;
}

void TWindowTimer::timerEvent(QTimerEvent* Event)
{
    if (Event->timerId() != FId) return;
    if (FOnTick) FOnTick();
}
