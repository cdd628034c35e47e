#include <gtest/gtest.h>

#include "base/Exception.h"
#include "mime/ExStringList.h"

namespace {

TExStringList Lines(std::initializer_list<const char*> items)
{
    TExStringList l;
    for (const char* s : items) l.Add(s);
    return l;
}

}  // namespace

TEST(ExStringList, SetValueAddsReplacesAndRemoves)
{
    TExStringList l = Lines({"From: a", "To: b"});
    l.SetValue("Subject", "Hello");
    EXPECT_EQ(l.Text(), "From: a\r\nTo: b\r\nSubject: Hello\r\n");
    l.SetValue("subject", "Again");  // same line, now spelled as passed
    EXPECT_EQ(l.Text(), "From: a\r\nTo: b\r\nsubject: Again\r\n");
    l.SetValue("SUBJECT", "");
    EXPECT_EQ(l.Text(), "From: a\r\nTo: b\r\n");
    l.SetValue("Subject", "");  // nothing to remove
    EXPECT_EQ(l.Count(), 2);
    l.SetValue("a:b", "1");  // a name with a colon is never found, so never replaced
    l.SetValue("a:b", "2");
    EXPECT_EQ(l.Count(), 4);
    EXPECT_EQ(l.IndexOfName("a:b"), -1);
}

TEST(ExStringList, LookupByName)
{
    const TExStringList l = Lines({"no colon here", "Subject: spaced", "X:tight", "x: second", "Тема: текст"});
    struct Case { const char* name; int index; const char* value; };
    const Case cases[] = {
        {"SUBJECT", 1, " spaced"},   // the blank after the colon stays
        {"x", 2, "tight"},           // the first of two lines with that name
        {"no colon here", -1, ""},   // a line without a colon has no name
        {"ТЕМА", 4, " текст"},       // Cyrillic compares without case too
        {"Missing", -1, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(l.IndexOfName(c.name), c.index) << c.name;
        EXPECT_EQ(l.GetValue(c.name), c.value) << c.name;
    }
}

TEST(ExStringList, SortedLookupBisects)
{
    TExStringList l;
    l.SetSorted(true);
    EXPECT_EQ(l.IndexOfName("a"), -1);
    for (const char* s : {"delta: 4", "Alpha: 1", "charlie: 3", "bravo: 2", "plain", "echo: 5"}) l.Add(s);
    // Sorted order: "Alpha: 1", "bravo: 2", "charlie: 3", "delta: 4", "echo: 5", "plain".
    const std::pair<const char*, const char*> cases[] = {
        {"ALPHA", " 1"}, {"Bravo", " 2"}, {"charlie", " 3"}, {"DELTA", " 4"}, {"echo", " 5"}};
    for (const auto& [name, value] : cases) EXPECT_EQ(l.GetValue(name), value) << name;
    EXPECT_EQ(l.IndexOfName("foxtrot"), -1);
    EXPECT_THROW(l.SetValue("bravo", "x"), EStringListError);
}
