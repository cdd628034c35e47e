#include <gtest/gtest.h>

#include "smtp/SmtpReply.h"

namespace {

TEST(SmtpReply, TakesEachLineFormApart)
{
    const struct {
        const char* Line;
        int Code;
        bool Continued;
        const char* Text;
    } Cases[] = {
        {"250-first\r\n", 250, true, "first"}, {"220-", 220, true, ""}, {"250\r\n", 250, false, ""},
        {"25\r\n", 25, false, "25"},  // too short to continue
        {" \r\n", 0, true, " "}, {"hello there\r\n", 0, false, "hello there"},
        {"abc-def\r\n", 0, true, "abc-def"},  // the hyphen's place decides, not the digits
        {"25-x\r\n", 25, false, "25-x"}, {"0421 odd\r\n", 421, false, "0421 odd"},
        {"99999 big\r\n", 32767, false, "99999 big"}, {"550-5.1.1 x\n", 550, true, "5.1.1 x"}, {"", 0, false, ""},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Line);
        const TSmtpReplyLine R = ParseSmtpReply(C.Line);
        EXPECT_EQ(R.Code, C.Code);
        EXPECT_EQ(R.Continued, C.Continued);
        EXPECT_EQ(R.Text, C.Text);
    }
    EXPECT_TRUE(ReplyRefused(199, 399));  // below 200 is a refusal at every threshold
}

}  // namespace
