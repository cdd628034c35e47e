#include <gtest/gtest.h>

#include "mime/ExStringList.h"

// Lookup compares names without case (Cyrillic too) and takes the first of two lines;
// a line without a colon has no name; the blank after the colon stays in the value.
// SetValue replaces in place, spelled as passed, appends, or removes on an empty value.
TEST(ExStringList, LookupAndSetValue)
{
    TExStringList l;
    for (const char* s : {"no colon here", "Subject: spaced", "X:tight", "x: second", "Тема: текст"}) l.Add(s);
    const std::tuple<const char*, int, const char*> cases[] = {{"SUBJECT", 1, " spaced"},
                                                               {"x", 2, "tight"},
                                                               {"no colon here", -1, ""},
                                                               {"ТЕМА", 4, " текст"},
                                                               {"Missing", -1, ""}};
    for (const auto& [name, index, value] : cases) {
        EXPECT_EQ(l.IndexOfName(name), index) << name;
        EXPECT_EQ(l.GetValue(name), value) << name;
    }
    l.SetValue("subject", "Again");
    l.SetValue("Date", "D");
    EXPECT_EQ(l.Text(), "no colon here\r\nsubject: Again\r\nX:tight\r\nx: second\r\nТема: текст\r\nDate: D\r\n");
    l.SetValue("SUBJECT", "");
    l.SetValue("Missing", "");  // nothing to remove
    l.SetValue("a:b", "1");     // a name with a colon is never found, so never replaced
    l.SetValue("a:b", "2");
    EXPECT_EQ(l.Text(), "no colon here\r\nX:tight\r\nx: second\r\nТема: текст\r\nDate: D\r\na:b: 1\r\na:b: 2\r\n");
}

// A sorted list finds by bisection and stays sorted when a value is added or replaced.
TEST(ExStringList, SortedListSetValue)
{
    TExStringList l;
    l.SetSorted(true);
    for (const char* s : {"b: 2", "d: 4", "a: 1"}) l.Add(s);
    EXPECT_EQ(l.GetValue("D"), " 4");
    l.SetValue("c", "3");
    l.SetValue("A", "one");
    EXPECT_EQ(l.Text(), "A: one\r\nb: 2\r\nc: 3\r\nd: 4\r\n");
}
