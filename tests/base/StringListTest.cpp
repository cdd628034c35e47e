#include <gtest/gtest.h>

#include <filesystem>

#include "base/Exception.h"
#include "base/Stream.h"
#include "base/StringList.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {
std::vector<std::string> Lines(const TStringList& l) { return l.Items(); }
}

TEST(StringListText, EveryLineEndStyleEndsALine)
{
    struct Case { std::string text; std::vector<std::string> lines; };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},          // LF then CR: two line ends
        {"\r\n", {""}},
        {"x\r\n\r\ny", {"x", "", "y"}},
    };
    for (const auto& c : cases) {
        TStringList l;
        l.SetText(c.text);
        EXPECT_EQ(Lines(l), c.lines) << "text: " << testing::PrintToString(c.text);
    }
}

// Sorted: no regard to case, duplicates kept, loaded text sorted whole, no Put.
TEST(StringListSorted, OrdersWithoutRegardToCase)
{
    TStringList l;
    l.SetSorted(true);
    for (const char* s : {"b@x", "A@x", "", "a@x", "B@x", "c"}) l.Add(s);
    EXPECT_EQ(Lines(l), (std::vector<std::string>{"", "A@x", "a@x", "b@x", "B@x", "c"}));
    l.SetText("zeta\r\nAlpha\nbeta\r");
    EXPECT_EQ(Lines(l), (std::vector<std::string>{"Alpha", "beta", "zeta"}));
    EXPECT_THROW(l.Put(0, "x"), EStringListError);
}

TEST(CompareTextTest, FoldsAsciiAndCyrillic)
{
    EXPECT_EQ(CompareText("ABC", "abc"), 0);
    EXPECT_EQ(CompareText("ПРИВЕТ", "привет"), 0);
    EXPECT_EQ(CompareText("Ёж", "ёж"), 0);
    EXPECT_LT(CompareText("abc", "abd"), 0);
    EXPECT_LT(CompareText("ab", "abc"), 0);
    EXPECT_LT(CompareText("Z", "а"), 0);  // Latin before Cyrillic
    EXPECT_GT(CompareText("б", "А"), 0);
}

TEST(StringListIndex, OutOfBoundsRaisesWithTheIndex)
{
    TStringList l;
    l.Add("one");
    try {
        l.Delete(3);
        FAIL();
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (3)");
    }
    EXPECT_THROW(l.Strings(-1), EStringListError);
}

// Saving ends every line, the last and empty ones too, with CR LF; a failed save keeps
// the file it was replacing.
TEST(StringListFile, SaveThenLoadAndAFailedSave)
{
    TTempDir dir;
    const std::string file = dir.File("list.txt");
    TStringList l;
    for (const char* s : {"first", "", "Второй <b@x>"}) l.Add(s);
    l.SaveToFile(file);
    EXPECT_EQ(dir.Read("list.txt"), "first\r\n\r\nВторой <b@x>\r\n");
    TStringList back;
    back.LoadFromFile(file);
    EXPECT_EQ(Lines(back), Lines(l));

    fs::create_directories(file + ".tmp~");  // the temporary file cannot be created
    back.Add("new");
    EXPECT_THROW(back.SaveToFile(file), EStreamError);
    EXPECT_EQ(dir.Read("list.txt"), "first\r\n\r\nВторой <b@x>\r\n");
}

TEST(StrToIntTest, AcceptsOnlyDecimalIntegers)
{
    EXPECT_EQ(StrToInt("25"), 25);
    EXPECT_EQ(StrToInt(" -7 "), -7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    for (const char* bad : {"", "abc", "25x", "2147483648", "-", "1 2"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}
