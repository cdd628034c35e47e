#pragma once
// The wait-loop primitives of the socket components.
// ProcessMessages: handle every pending event (socket notifications, timers, input).
// SleepAndProcessMessages: wait for the next event, at most BoundMs, then handle what is
// pending. It wakes as soon as an event arrives, so a wait adds no fixed delay per
// round trip and an idle wait does not spin.
void ProcessMessages();
void SleepAndProcessMessages(int BoundMs = 2);
