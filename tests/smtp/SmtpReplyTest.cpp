#include <gtest/gtest.h>

#include "smtp/SmtpReply.h"

namespace {

struct ReplyCase {
    const char* Line;
    int Code;
    bool Continued;
    const char* Text;
};

const ReplyCase ReplyCases[] = {
    {"250 OK\r\n", 250, false, "OK"},
    {"250-first\r\n", 250, true, "first"},
    {"220-", 220, true, ""},
    {"250\r\n", 250, false, ""},
    {"25\r\n", 25, false, "25"},                // too short to continue
    {"  indented more\r\n", 0, true, "  indented more"},
    {" \r\n", 0, true, " "},
    {"hello there\r\n", 0, false, "hello there"},
    {"abc-def\r\n", 0, true, "abc-def"},        // the hyphen's place decides, not the digits
    {"25-x\r\n", 25, false, "25-x"},
    {"0421 odd\r\n", 421, false, "0421 odd"},
    {"99999 big\r\n", 32767, false, "99999 big"},
    {"550-5.1.1 <a@b> unknown\n", 550, true, "5.1.1 <a@b> unknown"},
    {"", 0, false, ""},
};

TEST(SmtpReply, TakesEachLineFormApart)
{
    for (const ReplyCase& C : ReplyCases) {
        SCOPED_TRACE(C.Line);
        const TSmtpReplyLine R = ParseSmtpReply(C.Line);
        EXPECT_EQ(R.Code, C.Code);
        EXPECT_EQ(R.Continued, C.Continued);
        EXPECT_EQ(R.Text, C.Text);
    }
}

TEST(SmtpReply, CodesBelowTwoHundredAreRefusals)
{
    struct Case {
        int Code, Threshold;
        bool Refused;
    } Cases[] = {
        {0, 399, true}, {199, 399, true}, {200, 399, false}, {399, 399, false}, {400, 399, true},
        {300, 300, false}, {301, 300, true}, {299, 299, false}, {339, 339, false}, {340, 339, true},
        {32767, 399, true},
    };
    for (const Case& C : Cases)
        EXPECT_EQ(ReplyRefused(C.Code, C.Threshold), C.Refused) << C.Code << " against " << C.Threshold;
}

}  // namespace
