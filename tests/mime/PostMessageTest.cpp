#include <gtest/gtest.h>

#include "mime/PostMessage.h"

TEST(PostMessage, ListsAreCopiedOnStoreAndClearParametersEmptiesRecipientsAndAttachments)
{
    TPostMessage m;
    TStringList src;
    src.Add("a@x");
    src.Add("a@x");
    m.SetToAddress(src);
    src.Add("b@x");
    ASSERT_EQ(m.ToAddress().Count(), 2);  // duplicates stay, later changes to src do not
    m.ToCarbonCopy().Add("c@x");
    m.ToBlindCarbonCopy().Add("d@x");
    m.Attachments().Add("/tmp/f");
    m.Body().Add("line");
    m.SetFromName("N");
    m.SetFromAddress("f@x");
    m.SetSubject("S");
    m.SetLocalProgram("P");
    m.SetDate("D");
    m.SetReplyTo("R");

    m.ClearParameters();
    EXPECT_EQ(m.ToAddress().Count() + m.ToCarbonCopy().Count() + m.ToBlindCarbonCopy().Count() +
                  m.Attachments().Count(), 0);
    EXPECT_EQ(m.Body().Text(), "line\r\n");
    EXPECT_EQ(m.FromName() + m.FromAddress() + m.Subject() + m.LocalProgram() + m.Date() + m.ReplyTo(),
              "Nf@xSPDR");
}
