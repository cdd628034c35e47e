// Messages delivered through a real SMTP server (aiosmtpd) and taken apart by Python's
// email package: what arrives must be what was meant, byte for byte.
#include <QJsonArray>
#include <QJsonObject>

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "SmtpPeer.h"
#include "smtp/SmtpClient.h"
#include "support/TempDir.h"

namespace {

std::string Str(const QJsonValue& V)
{
    return V.toString().toStdString();
}

std::string HeaderValue(const QJsonObject& Parsed, const std::string& Name)
{
    for (const QJsonValue& H : Parsed["headers"].toArray())
        if (Str(H.toArray()[0]).size() == Name.size() && Str(H.toArray()[0]) == Name)
            return Str(H.toArray()[1]);
    return "";
}

class RealServerTest : public ::testing::Test {
protected:
    void Deliver(TSmtpPeer& Peer)
    {
        ASSERT_NE(Peer.Port(), 0) << Peer.StartError();
        Client.SetHost("127.0.0.1");
        Client.SetPort(Peer.Port());
        Client.SetUserID("tester");
        Client.SetReplyTimeOut(30000);
        Client.Connect();
        Client.SendMail();
        Client.Disconnect();
    }
    TTempDir Dir;
    TSmtpClient Client;
};

TEST_F(RealServerTest, AttachmentsOfEverySizeDecodeToTheSameBytes)
{
    std::mt19937 Random(7);
    std::vector<std::pair<std::string, std::string>> Files;  // name, content
    for (size_t Size : {0u, 1u, 45u, 46u, 1u << 20}) {
        std::string Data(Size, '\0');
        for (char& C : Data)
            C = static_cast<char>(Random());
        const std::string Name = "att-" + std::to_string(Size) + ".bin";
        Client.PostMessage().Attachments().Add(Dir.Write(Name, Data));
        Files.emplace_back(Name, Data);
    }
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.ToAddress().Add("a@x.test");
    M.Body().Add("See the files.");

    TSmtpPeer Peer;
    Deliver(Peer);
    ASSERT_EQ(Peer.Messages().size(), 1u);
    const QJsonObject Parsed = ParseDelivered(Peer.Messages()[0]);
    ASSERT_TRUE(Parsed["multipart"].toBool());
    EXPECT_TRUE(Parsed["defects"].toArray().isEmpty());
    const QJsonArray Parts = Parsed["attachments"].toArray();
    ASSERT_EQ(Parts.size(), static_cast<qsizetype>(Files.size()));
    for (size_t i = 0; i < Files.size(); ++i) {
        const QJsonObject P = Parts[static_cast<qsizetype>(i)].toObject();
        SCOPED_TRACE(Files[i].first);
        EXPECT_EQ(Str(P["filename"]), Files[i].first);
        EXPECT_EQ(P["size"].toInteger(), static_cast<qint64>(Files[i].second.size()));
        EXPECT_EQ(Str(P["sha256"]), Sha256Hex(Files[i].second));
        EXPECT_TRUE(P["defects"].toArray().isEmpty());
    }
    // The line break before a delimiter belongs to the delimiter.
    EXPECT_EQ(Str(Parsed["body"]), "See the files.");
}

TEST_F(RealServerTest, RecipientsReachTheEnvelopeAndOnlyToAndCcTheHeader)
{
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.SetFromName("Me Myself ");
    M.ToAddress().Add("Ann <ann@x.test>");
    M.ToAddress().Add("bob@x.test");
    M.ToCarbonCopy().Add("Carl <carl@x.test>");
    M.ToBlindCarbonCopy().Add("hidden1@x.test");
    M.ToBlindCarbonCopy().Add("Secret <hidden2@x.test>");
    M.Body().Add("Hi all");

    TSmtpPeer Peer;
    Deliver(Peer);
    ASSERT_EQ(Peer.Messages().size(), 1u);
    const QJsonObject Envelope = Peer.Envelope(1);
    EXPECT_EQ(Str(Envelope["mail_from"]), "me@x.test");
    QStringList Rcpt;
    for (const QJsonValue& V : Envelope["rcpt_tos"].toArray())
        Rcpt << V.toString();
    EXPECT_EQ(Rcpt, (QStringList{"ann@x.test", "bob@x.test", "carl@x.test", "hidden1@x.test", "hidden2@x.test"}));

    const QJsonObject Parsed = ParseDelivered(Peer.Messages()[0]);
    EXPECT_EQ(HeaderValue(Parsed, "To"), "Ann <ann@x.test>,bob@x.test");
    EXPECT_EQ(HeaderValue(Parsed, "CC"), "Carl <carl@x.test>");
    EXPECT_EQ(Str(Parsed["from"]), "Me Myself <me@x.test>");
    const std::string Block = Str(Parsed["header_block"]);
    EXPECT_EQ(Block.find("hidden"), std::string::npos) << Block;
    EXPECT_EQ(Block.find("Bcc"), std::string::npos) << Block;
}

TEST_F(RealServerTest, DotLinesAndRussianTextArriveUnchanged)
{
    const std::string Subject = "Привет, мир: проверка";
    const std::vector<std::string> Lines = {"Первая строка", ".", ".x", "..", "последняя."};
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    M.SetSubject(Subject);
    M.ToAddress().Add("a@x.test");
    for (const std::string& L : Lines)
        M.Body().Add(L);

    TSmtpPeer Peer;
    Deliver(Peer);
    ASSERT_EQ(Peer.Messages().size(), 1u);
    const QJsonObject Parsed = ParseDelivered(Peer.Messages()[0]);
    EXPECT_EQ(Str(Parsed["subject"]), Subject);
    std::string Expected;
    for (const std::string& L : Lines)
        Expected += L + "\r\n";
    std::string Body = Str(Parsed["body"]);
    // The header block is followed by one empty line more than the separator.
    EXPECT_EQ(Body, "\r\n" + Expected);
}

TEST_F(RealServerTest, HeaderLongerThanOneWriteBufferArrivesWhole)
{
    TPostMessage& M = Client.PostMessage();
    M.SetFromAddress("me@x.test");
    std::string Expected;
    for (int i = 0; i < 1500; ++i) {
        const std::string Entry = "user" + std::to_string(i) + "@x.test";
        M.ToAddress().Add(Entry);
        Expected += (i ? "," : "") + Entry;
    }
    M.Body().Add("Hi");

    TSmtpPeer Peer;
    Deliver(Peer);
    ASSERT_EQ(Peer.Messages().size(), 1u);
    EXPECT_EQ(Peer.Envelope(1)["rcpt_tos"].toArray().size(), 1500);
    const QJsonObject Parsed = ParseDelivered(Peer.Messages()[0]);
    std::string To = HeaderValue(Parsed, "To");
    // Folding adds line breaks and blanks only.
    std::erase_if(To, [](char C) { return C == '\r' || C == '\n' || C == ' '; });
    EXPECT_EQ(To, Expected);
    EXPECT_EQ(Str(Parsed["body"]), "\r\nHi\r\n");
}

}  // namespace
