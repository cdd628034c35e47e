// One message delivered through a real SMTP server (aiosmtpd) and taken apart by Python's
// email package: the envelope (To, CC and Bcc entries), dot lines, 8-bit text and an
// attachment arrive as meant. (The header lines are the composer's, tested against the same
// parser in tests/mime; they reach a real server in tests/cli and tests/app.)
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "mime/TestStreams.h"  // RandomBytes
#include "smtp/SmtpClient.h"

namespace {

TEST(RealServer, DeliveredMessageDecodesToWhatWasMeant)
{
    TTempDir Dir;
    TSmtpClient Client;
    TPostMessage& M = Client.PostMessage();
    const std::string Data = RandomBytes(1 << 20, 7);
    M.Attachments().Add(Dir.Write("att.bin", Data));
    M.SetFromAddress("me@x.test");
    M.Body().SetText("Первая строка\r\n.\r\n.x\r\n..\r\nпоследняя.");
    M.ToAddress().SetText("Ann <ann@x.test>\r\nbob@x.test");
    M.ToCarbonCopy().Add("Carl <carl@x.test>");
    M.ToBlindCarbonCopy().SetText("hidden1@x.test\r\nSecret <hidden2@x.test>");

    TSmtpPeer Peer;
    ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
    Client.SetHost("127.0.0.1");
    Client.SetPort(Peer.Port());
    Client.SetUserID("tester");
    Client.SetReplyTimeOut(30000);
    Client.Connect();
    Client.SendMail();
    Client.Disconnect();
    ASSERT_EQ(Peer.Messages().size(), 1u);
    const QJsonObject Got = ParseDelivered(Peer.Messages()[0]);

    EXPECT_EQ(JsonText(Got["mail_from"]), "me@x.test");
    EXPECT_EQ(Strings(Got["rcpt_tos"]), (std::vector<std::string>{"ann@x.test", "bob@x.test", "carl@x.test",
                                                                  "hidden1@x.test", "hidden2@x.test"}));

    EXPECT_TRUE(Got["defects"].toArray().isEmpty());
    // The line break before a delimiter belongs to the delimiter.
    EXPECT_EQ(JsonText(Got["body"]), "Первая строка\r\n.\r\n.x\r\n..\r\nпоследняя.");
    ASSERT_EQ(Got["attachments"].toArray().size(), 1);
    const QJsonObject Part = Got["attachments"][0].toObject();
    EXPECT_EQ(JsonText(Part["filename"]), "att.bin");
    EXPECT_EQ(JsonText(Part["sha256"]), Sha256Hex(Data));
    EXPECT_TRUE(Part["defects"].toArray().isEmpty());
}

}  // namespace
