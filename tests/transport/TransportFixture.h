#pragma once
// Shared pieces of the transport tests: a component aimed at a scripted server, and a
// cancel fired from a timer while an operation waits.
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

#include "platform/MessagePump.h"
#include "support/MessageOf.h"
#include "support/ScriptedServer.h"
#include "transport/SockTransport.h"

inline void CancelLater(TSockTransport& T, int Ms)
{
    QTimer::singleShot(Ms, [&T] { T.Cancel(); });
}

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
