#include <gtest/gtest.h>

#include "base/Exception.h"
#include "smtp/EhloCapabilities.h"
#include "smtp/SaslAuth.h"

using Strings = std::vector<std::string>;

// A reply as real servers write it: mixed case, the old AUTH= form, an unknown keyword,
// line ends or none; the first line names the server and offers nothing.
TEST(EhloCapabilities, ReplyLinesBecomeKeywordsWithParameters)
{
    const auto caps = TEhloCapabilities::Parse({"250-smtp.example.com at your service\r\n", "250-SIZE 35882577\r\n",
                                                "250-8bitmime", "250-auth LOGIN plain XOAUTH2", "250-AUTH=LOGIN",
                                                "250-X-Custom a B", "250 PIPELINING\r\n"});
    EXPECT_EQ(caps.SizeLimit(), 35882577u);
    EXPECT_EQ(caps.AuthMechanisms(), (Strings{"LOGIN", "PLAIN", "XOAUTH2"}));
    EXPECT_TRUE(caps.Pipelining() && caps.EightBitMime() && !caps.StartTls());
    EXPECT_EQ(caps.Parameters("x-custom"), (Strings{"a", "B"}));
    EXPECT_FALSE(caps.Offers("SMTP.EXAMPLE.COM"));
    EXPECT_EQ(caps.Keywords.size(), 5u);
    for (const char* size : {"250 SIZE", "250 SIZE 0", "250 SIZE 12x", "250 SIZE 99999999999999999999"})
        EXPECT_EQ(TEhloCapabilities::Parse({"250-host", size}).SizeLimit(), 0u) << size;
}

TEST(SaslAuth, MechanismIsChosenFromWhatTheServerOffers)
{
    // clang-format off
    struct { Strings Offered; TAuthMethod Requested; bool Token; std::optional<TAuthMethod> Chosen; } cases[] = {
        {{"LOGIN", "PLAIN", "XOAUTH2"}, amAuto, false, amPlain},
        {{"LOGIN", "XOAUTH2"}, amAuto, false, amLogin},
        {{"XOAUTH2"}, amAuto, false, std::nullopt},
        {{"LOGIN", "PLAIN", "XOAUTH2"}, amAuto, true, amXOAuth2},
        {{"PLAIN"}, amAuto, true, std::nullopt},
        {{"LOGIN", "PLAIN"}, amLogin, false, amLogin},
        {{"PLAIN"}, amLogin, false, std::nullopt},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(ChooseAuthMethod(c.Offered, c.Requested, c.Token), c.Chosen) << c.Offered.size() << c.Requested;
}

// RFC 4616 §4 vectors and Google's XOAUTH2 example (between them base64 with no, one and
// two padding characters); a separator inside a field is refused. That the protocol log
// hides the secrets is shown on the real server's log (tests/send).
TEST(SaslAuth, EncodingsMatchTheVectors)
{
    EXPECT_EQ(PlainResponse("", "tim", "tanstaaftanstaaf"), "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
    EXPECT_EQ(PlainResponse("Ursel", "Kurt", "xipj3plmq"), "VXJzZWwAS3VydAB4aXBqM3BsbXE=");
    EXPECT_EQ(XOAuth2Response("someuser@example.com", "ya29.vF9dft4qmTc2Nvb3RlckBhdHRhdmlzdGEuY29tCg"),
              "dXNlcj1zb21ldXNlckBleGFtcGxlLmNvbQFhdXRoPUJlYXJlciB5YTI5LnZGOWRmdDRxbVRjMk52YjNSbGNrQmhkSFJoZG1semRHRXVZ"
              "Mjl0Q2cBAQ==");
    EXPECT_EQ(AuthCommand(amLogin, "alice", "s3cr\xc3\xa9t"), "AUTH LOGIN");
    EXPECT_EQ(AuthResponse(amLogin, 0, "alice", "s3cr\xc3\xa9t"), "YWxpY2U=");
    EXPECT_EQ(AuthResponse(amLogin, 1, "alice", "s3cr\xc3\xa9t"), "czNjcsOpdA==");
    EXPECT_EQ(AuthResponse(amPlain, 0, "alice", "pw"), "*");
    EXPECT_EQ(AuthResponse(amXOAuth2, 0, "alice", "tok"), "");
    EXPECT_EQ(AuthCommand(amPlain, "tim", "tanstaaftanstaaf"), "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
    EXPECT_THROW(AuthCommand(amPlain, "alice", std::string("p\0w", 3)), Exception);
    EXPECT_THROW(AuthCommand(amXOAuth2, "alice\x01", "tok"), Exception);
}
