#pragma once
// A repeating timer whose ticks arrive as events on the owning thread (the window
// timer). Ticks are not queued up: a late tick is delivered once.
#include <QObject>

#include <cstdint>
#include <functional>

class TWindowTimer : public QObject {
public:
    explicit TWindowTimer(std::function<void()> OnTick = {});
    ~TWindowTimer() override;

    void SetOnTick(std::function<void()> OnTick) { FOnTick = std::move(OnTick); }
    // Starts (or restarts from zero) with the period; false when no timer could be had.
    bool Start(uint32_t IntervalMs);
    void Stop();
    bool Running() const { return FId != 0; }

protected:
    void timerEvent(QTimerEvent* Event) override;

private:
    std::function<void()> FOnTick;
    int FId = 0;
};
