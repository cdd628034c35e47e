// One message delivered through a real SMTP server (aiosmtpd) and taken apart by Python's
// email package: the envelope, a header block longer than one write, dot lines, 8-bit text
// and attachments arrive as meant. (How names and subjects are encoded is the composer's,
// tested against the same parser in tests/mime.)
#include <QJsonArray>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "smtp/SmtpClient.h"

namespace {

TEST(RealServer, DeliveredMessageDecodesToWhatWasMeant)
{
    TTempDir Dir;
    TSmtpClient Client;
    TPostMessage& M = Client.PostMessage();
    std::mt19937 Random(7);
    std::vector<std::pair<std::string, std::string>> Files;  // name, content
    for (size_t Size : {0u, 1u << 20}) {
        std::string Data(Size, '\0');
        for (char& C : Data)
            C = static_cast<char>(Random());
        Files.emplace_back("att-" + std::to_string(Size) + ".bin", Data);
        M.Attachments().Add(Dir.Write(Files.back().first, Data));
    }
    M.SetFromAddress("me@x.test");
    for (const char* Line : {"Первая строка", ".", ".x", "..", "последняя."})
        M.Body().Add(Line);
    // So many To entries that the header line is folded and outgrows one write.
    std::string To = "Ann <ann@x.test>";
    std::vector<std::string> Envelope = {"ann@x.test"};
    M.ToAddress().Add("Ann <ann@x.test>");
    for (int i = 0; i < 1500; ++i) {
        Envelope.push_back("user" + std::to_string(i) + "@x.test");
        M.ToAddress().Add(Envelope.back());
        To += "," + Envelope.back();
    }
    M.ToCarbonCopy().Add("Carl <carl@x.test>");
    M.ToBlindCarbonCopy().Add("hidden1@x.test");
    M.ToBlindCarbonCopy().Add("Secret <hidden2@x.test>");
    Envelope.insert(Envelope.end(), {"carl@x.test", "hidden1@x.test", "hidden2@x.test"});

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
    EXPECT_EQ(Strings(Got["rcpt_tos"]), Envelope);
    // Folding puts CR LF and one blank before a continuation.
    EXPECT_EQ(QString::fromStdString(HeaderValue(Got, "To")).remove("\r\n ").toStdString(), To);
    EXPECT_EQ(HeaderValue(Got, "CC"), "Carl <carl@x.test>");
    EXPECT_EQ(JsonText(Got["header_block"]).find("hidden"), std::string::npos) << "Bcc entries stay out of the header";

    ASSERT_TRUE(Got["multipart"].toBool());
    EXPECT_TRUE(Got["defects"].toArray().isEmpty());
    // The line break before a delimiter belongs to the delimiter.
    EXPECT_EQ(JsonText(Got["body"]), "Первая строка\r\n.\r\n.x\r\n..\r\nпоследняя.");
    const QJsonArray Parts = Got["attachments"].toArray();
    ASSERT_EQ(Parts.size(), static_cast<qsizetype>(Files.size()));
    for (size_t i = 0; i < Files.size(); ++i) {
        const QJsonObject P = Parts[static_cast<qsizetype>(i)].toObject();
        SCOPED_TRACE(Files[i].first);
        EXPECT_EQ(JsonText(P["filename"]), Files[i].first);
        EXPECT_EQ(P["size"].toInteger(), static_cast<qint64>(Files[i].second.size()));
        EXPECT_EQ(JsonText(P["sha256"]), Sha256Hex(Files[i].second));
        EXPECT_TRUE(P["defects"].toArray().isEmpty());
    }
}

}  // namespace
