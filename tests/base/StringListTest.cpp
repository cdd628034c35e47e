#include <gtest/gtest.h>

#include <filesystem>

#include "base/Exception.h"
#include "base/StringList.h"
#include "support/MessageOf.h"
#include "support/TempDir.h"

namespace fs = std::filesystem;

TEST(StringListText, EveryLineEndStyleEndsALine)
{
    // clang-format off
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}}, {"a", {"a"}}, {"a\r\nb\r\n", {"a", "b"}}, {"a\nb", {"a", "b"}}, {"a\rb\r", {"a", "b"}},
        {"a\r\rb", {"a", "", "b"}}, {"a\n\rb", {"a", "", "b"}}, {"\r\n", {""}}, {"x\r\n\r\ny", {"x", "", "y"}},
        {"\xEF\xBB\xBF" "a@x\r\nb", {"a@x", "b"}}, {"a\xEF\xBB\xBF", {"a\xEF\xBB\xBF"}}};
    // clang-format on
    for (const auto& [text, lines] : cases) {
        TStringList l;
        l.SetText(text);
        EXPECT_EQ(l.Items(), lines) << "text: " << testing::PrintToString(text);
    }
}

// Sorted: no regard to case (Cyrillic too, Latin first), duplicates kept, loaded text
// sorted whole, no Put; indexes out of bounds raise with the index.
TEST(StringListSorted, OrdersWithoutRegardToCase)
{
    TStringList l;
    l.SetSorted(true);
    for (const char* s : {"b@x", "A@x", "", "a@x", "B@x", "c"}) l.Add(s);
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"", "A@x", "a@x", "b@x", "B@x", "c"}));
    l.SetText("zeta\r\nAlpha\nbeta\r");
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"Alpha", "beta", "zeta"}));
    TStringList unsorted;
    for (const char* s : {"b", "C", "a"}) unsorted.Add(s);
    l.Assign(unsorted);  // an assigned list lands in order too
    EXPECT_EQ(l.Items(), (std::vector<std::string>{"a", "b", "C"}));
    EXPECT_THROW(l.Put(0, "x"), EStringListError);
    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Delete(3); }), "List index out of bounds (3)");
    EXPECT_THROW(l.Strings(-1), EStringListError);
    const std::pair<const char*, const char*> same[] = {{"ABC", "abc"}, {"ПРИВЕТ", "привет"}, {"Ёж", "ёж"}};
    for (const auto& [a, b] : same) EXPECT_EQ(CompareText(a, b), 0) << a;
    const std::pair<const char*, const char*> less[] = {{"abc", "abd"}, {"ab", "abc"}, {"Z", "а"}, {"А", "б"}};
    for (const auto& [a, b] : less) EXPECT_TRUE(CompareText(a, b) < 0 && CompareText(b, a) > 0) << a << " " << b;
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
    EXPECT_EQ(back.Items(), l.Items());
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
    for (const char* bad : {"", "abc", "25x", "2147483648", "-", "1 2"})
        EXPECT_EQ(MessageOf<EConvertError>([&] { StrToInt(bad); }),
                  std::string("'") + bad + "' is not a valid integer value");
}
