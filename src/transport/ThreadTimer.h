#pragma once
// A component that calls OnTimer every Interval milliseconds while it runs. Not a
// thread: ticks arrive through the event loop of the creating thread, so OnTimer runs
// only while that thread processes messages (e.g. inside the transport's wait loops).
// It runs exactly when Enabled, Interval != 0 and OnTimer is set; every change of one of
// them restarts the period from zero. An exception from OnTimer goes to the
// application's exception report and the timer keeps running.
#include <cstdint>
#include <memory>

#include "base/Component.h"

class TWindowTimer;

class TThreadTimer : public TComponent {
public:
    explicit TThreadTimer(TComponent* AOwner = nullptr);
    ~TThreadTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);  // raises Exception "No Timer" when no timer can be had
    uint32_t Interval() const { return FInterval; }
    void SetInterval(uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);
    bool Running() const;

protected:
    // Fires OnTimer; descendants may override.
    virtual void Timer();

private:
    void UpdateTimer();
    void Tick();

    uint32_t FInterval = 1000;
    std::unique_ptr<TWindowTimer> FWindow;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};
