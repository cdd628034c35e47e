// One message delivered through a real SMTP server (aiosmtpd) and taken apart by Python's
// email package: attachments, recipients, dot lines and Russian text arrive as meant.
#include <QJsonArray>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "smtp/SmtpClient.h"

namespace {

// Folding puts CR LF and one blank before a continuation; undone here.
std::string Unfolded(std::string Value)
{
    for (size_t At; (At = Value.find("\r\n ")) != std::string::npos;)
        Value.erase(At, 3);
    return Value;
}

TEST(RealServer, DeliveredMessageDecodesToWhatWasMeant)
{
    TTempDir Dir;
    TSmtpClient Client;
    TPostMessage& M = Client.PostMessage();
    std::mt19937 Random(7);
    std::vector<std::pair<std::string, std::string>> Files;  // name, content
    for (size_t Size : {0u, 1u, 45u, 46u, 1u << 20}) {
        std::string Data(Size, '\0');
        for (char& C : Data)
            C = static_cast<char>(Random());
        Files.emplace_back("att-" + std::to_string(Size) + ".bin", Data);
        M.Attachments().Add(Dir.Write(Files.back().first, Data));
    }
    const std::string Subject = "Привет, мир: проверка";
    const std::vector<std::string> Lines = {"Первая строка", ".", ".x", "..", "последняя."};
    M.SetFromAddress("me@x.test");
    M.SetFromName("Me Myself ");
    M.SetSubject(Subject);
    for (const std::string& L : Lines)
        M.Body().Add(L);
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
    EXPECT_EQ(Unfolded(HeaderValue(Got, "To")), To);
    EXPECT_EQ(HeaderValue(Got, "CC"), "Carl <carl@x.test>");
    const std::string Block = JsonText(Got["header_block"]);
    EXPECT_EQ(Block.find("hidden"), std::string::npos) << Block;
    EXPECT_EQ(Block.find("Bcc"), std::string::npos) << Block;
    EXPECT_EQ(JsonText(Got["from"]), "Me Myself <me@x.test>");
    EXPECT_EQ(JsonText(Got["subject"]), Subject);

    ASSERT_TRUE(Got["multipart"].toBool());
    EXPECT_TRUE(Got["defects"].toArray().isEmpty());
    std::string Body;
    for (const std::string& L : Lines)
        Body += (Body.empty() ? "" : "\r\n") + L;
    // The line break before a delimiter belongs to the delimiter.
    EXPECT_EQ(JsonText(Got["body"]), Body);
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
