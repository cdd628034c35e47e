#pragma once
// Shared pieces of the transport tests: a component aimed at a scripted server, a
// cancel fired from a timer while an operation waits, and an exception matcher.
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "platform/MessagePump.h"
#include "support/ScriptedServer.h"
#include "transport/SockTransport.h"

// The message of the exception of class E that Fn raised ("" when none).
template <typename E, typename F>
std::string MessageOf(F&& Fn)
{
    try {
        Fn();
    } catch (const E& e) {
        return e.Message();
    }
    return "";
}

inline void CancelLater(TSockTransport& T, int Ms) { QTimer::singleShot(Ms, [&T] { T.Cancel(); }); }

// Pumps until Cond holds or about TimeoutMs passed; true when it holds.
inline bool PumpUntil(const std::function<bool()>& Cond, int TimeoutMs = 5000)
{
    for (int i = 0; i < TimeoutMs / 2 && !Cond(); ++i) SleepAndProcessMessages(2);
    return Cond();
}

class TransportTest : public ::testing::Test {
protected:
    void Aim(TSockTransport& T, uint16_t Port)
    {
        T.SetHost("127.0.0.1");
        T.SetPort(Port);
        T.SetTimeOut(5000);
    }
    void ConnectTo(TSockTransport& T, uint16_t Port)
    {
        Aim(T, Port);
        T.Connect();
        ASSERT_TRUE(T.Connected());
    }

    TScriptedServer Server;
    TSockTransport Client;
};
