#include "transport/ThreadTimer.h"

#include "base/Exception.h"
#include "platform/ExceptionReport.h"
#include "platform/WindowTimer.h"

TThreadTimer::TThreadTimer(TComponent* AOwner)
    : TComponent(AOwner), FWindow(std::make_unique<TWindowTimer>([this] { Tick(); }))
{
}

TThreadTimer::~TThreadTimer()
{
    FEnabled = false;
    UpdateTimer();
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value == FEnabled) return;
    FEnabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(uint32_t Value)
{
    if (Value == FInterval) return;
    FInterval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    FOnTimer = std::move(Value);
    UpdateTimer();
}

bool TThreadTimer::Running() const { return FWindow->Running(); }

void TThreadTimer::UpdateTimer()
{
    FWindow->Stop();
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (!FWindow->Start(FInterval)) throw Exception("No Timer");
    }
}

void TThreadTimer::Tick()
{
    RunGuarded([this] { Timer(); });
}

void TThreadTimer::Timer()
{
    if (FOnTimer) FOnTimer(this);
}
