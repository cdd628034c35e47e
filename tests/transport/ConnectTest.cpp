#include <gtest/gtest.h>

#include "support/ScriptedServer.h"
#include "transport/SockTransport.h"

TEST(Smoke, Transaction)
{
    TScriptedServer server;
    server.SendLine("220 hi").Expect("HELO x").SendLine("250 ok");
    server.Start();
    TSockTransport t;
    t.SetHost("127.0.0.1");
    t.SetPort(server.Port());
    t.SetTimeOut(5000);
    t.Connect();
    std::string line;
    t.ReadLn(line);
    EXPECT_EQ(line, "220 hi\r\n");
    t.Transaction("HELO x", line);
    EXPECT_EQ(t.ReplyCode(), 250);
    EXPECT_TRUE(server.Finished());
}
