// A whole SMTP conversation written to the protocol log (QUILLCAST_LOG) can be played
// back as the script of a test server.
#include <cstdlib>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "smtp/SmtpClient.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace {

// What the client sent is expected again, what the server said is said again, and the
// body, which the log summarises by its size, is taken by that size.
void Replay(TScriptedServer& Server, const std::string& Log)
{
    std::istringstream In(Log);
    std::string Line;
    size_t Bytes = 0;
    while (std::getline(In, Line)) {
        if (std::sscanf(Line.c_str(), "C: [%zu bytes of stream data]", &Bytes) == 1)
            Server.ExpectBytes(Bytes);
        else if (Line.rfind("C: ", 0) == 0)
            Server.Expect(Line.substr(3));
        else if (Line.rfind("S: ", 0) == 0)
            Server.SendLine(Line.substr(3));
    }
}

void Send(TScriptedServer& Server)
{
    TSmtpClient Client;
    Client.SetHost("127.0.0.1");
    Client.SetPort(Server.Port());
    Client.SetUserID("me");
    Client.SetReplyTimeOut(5000);
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.SetSubject("Replayed");
    M.ToAddress().Add("Ann <a@x.test>");
    M.ToBlindCarbonCopy().Add("b@x.test");
    M.Body().Add("line one");
    M.Body().Add(".");
    Client.Connect();
    Client.SendMail();
    Client.Disconnect();
}

TEST(SmtpProtocolLog, AConversationReplaysAsAScript)
{
    TTempDir Dir;
    const std::string Name = Dir.File("conversation.log");
    {
        TScriptedServer Server;
        Server.Script("S: 220-hi\nS: 220 there\nC: HELO me\nS: 250 ok\nC: RSET\nS: 250 ok\n"
                      "C: MAIL FROM:<me@x.test>\nS: 250 ok\nC: RCPT TO:<a@x.test>\nS: 250 ok\n"
                      "C: RCPT TO:<b@x.test>\nS: 550-no\nS: 550 such user\nC: DATA\nS: 354 go\n");
        Server.ExpectUntil("\r\n.\r\n").SendLine("250 queued").Script("C: QUIT\nS: 221 bye\n").Start();
        setenv("QUILLCAST_LOG", Name.c_str(), 1);
        Send(Server);
        unsetenv("QUILLCAST_LOG");
        ASSERT_TRUE(Server.Finished());
    }
    const std::string Log = Dir.Read("conversation.log");
    EXPECT_EQ(Log.rfind("S: 220-hi\nS: 220 there\nC: HELO me\n", 0), 0u) << Log;
    EXPECT_NE(Log.find("C: RCPT TO:<b@x.test>\nS: 550-no\nS: 550 such user\nC: DATA\n"), std::string::npos) << Log;

    TScriptedServer Again;
    Replay(Again, Log);
    Again.Start();
    Send(Again);
    EXPECT_TRUE(Again.Finished());
}

}  // namespace
