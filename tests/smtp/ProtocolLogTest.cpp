#include <cstdlib>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "smtp/ProtocolLog.h"
#include "smtp/SmtpClient.h"
#include "support/ScriptedServer.h"
#include "support/TempDir.h"

namespace {

TEST(ProtocolLog, OneLogLinePerWireLine)
{
    TTempDir Dir;
    const std::string Name = Dir.File("log.txt");
    {
        TProtocolLog Log(Name);
        ASSERT_TRUE(Log.Active());
        Log.Sent("HELO me\r\n");
        Log.Received("250-first\r\n");
        Log.Sent("From: a\r\nTo: b\r\n\r\n\r\n");
        Log.Received("no line end");
        Log.Note("body: 3 bytes");
    }
    EXPECT_EQ(Dir.Read("log.txt"), "C: HELO me\nS: 250-first\nC: From: a\nC: To: b\nC: \nC: \nS: no line end\n"
                                   "# body: 3 bytes\n");
}

TEST(ProtocolLog, UnwritableFileLeavesTheLogOff)
{
    TProtocolLog Log("/nonexistent-dir/log.txt");
    EXPECT_FALSE(Log.Active());
    Log.Sent("ignored");  // must not fail
}

// Turns a log back into a server script: what the client sent is expected again, what
// the server said is said again, and the summarised body is taken by its size.
void Replay(TScriptedServer& Server, const std::string& Log)
{
    std::istringstream In(Log);
    std::string Line;
    while (std::getline(In, Line)) {
        if (Line.rfind("C: ", 0) == 0)
            Server.Expect(Line.substr(3));
        else if (Line.rfind("S: ", 0) == 0)
            Server.SendLine(Line.substr(3));
        else if (Line.rfind("# body: ", 0) == 0)
            Server.ExpectBytes(std::stoul(Line.substr(8)));
    }
}

void FillMessage(TSmtpClient& Client)
{
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.SetSubject("Replayed");
    M.ToAddress().Add("Ann <a@x.test>");
    M.ToBlindCarbonCopy().Add("b@x.test");
    M.Body().Add("line one");
    M.Body().Add(".");
}

TEST(ProtocolLog, AConversationReplaysAsAScript)
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
        TSmtpClient Client;
        unsetenv("QUILLCAST_LOG");
        Client.SetHost("127.0.0.1");
        Client.SetPort(Server.Port());
        Client.SetUserID("me");
        Client.SetReplyTimeOut(5000);
        FillMessage(Client);
        Client.Connect();
        Client.SendMail();
        Client.Disconnect();
        ASSERT_TRUE(Server.Finished());
    }
    const std::string Log = Dir.Read("conversation.log");
    EXPECT_NE(Log.find("C: RCPT TO:<b@x.test>\nS: 550-no\nS: 550 such user\nC: DATA\n"), std::string::npos) << Log;
    EXPECT_NE(Log.find("C: \nC: \n# body: "), std::string::npos) << Log;

    TScriptedServer Again;
    Replay(Again, Log);
    Again.Start();
    TSmtpClient Client;
    Client.SetHost("127.0.0.1");
    Client.SetPort(Again.Port());
    Client.SetUserID("me");
    Client.SetReplyTimeOut(5000);
    FillMessage(Client);
    Client.Connect();
    Client.SendMail();
    Client.Disconnect();
    EXPECT_TRUE(Again.Finished());
}

}  // namespace
