// The settings store: text values of one key, what counts as absent, and failures.
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

#include "base/Stream.h"
#include "platform/SettingsStore.h"

namespace {

const char* const Key = "Software\\Veskor\\Quillcast V1.2\\1.2";

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        File = Dir.path().toStdString() + "/s.ini";
        setenv("QUILLCAST_SETTINGS", File.c_str(), 1);
    }
    void TearDown() override { unsetenv("QUILLCAST_SETTINGS"); }
    QTemporaryDir Dir;
    std::string File;
};

}  // namespace

TEST_F(SettingsStoreTest, WrittenValuesReadBackInANewStore)
{
    {
        TSettingsStore reg;
        ASSERT_TRUE(reg.OpenKey(Key, true));
        reg.WriteString("Name", "Анна, Smith; \"quoted\" = x");
        reg.WriteString("Host", "");
        reg.WriteString("Port", "25");
    }
    TSettingsStore reg;
    ASSERT_TRUE(reg.OpenKey(Key, false));
    EXPECT_EQ(reg.ReadString("Name"), "Анна, Smith; \"quoted\" = x");
    EXPECT_TRUE(reg.ValueExists("Host"));
    EXPECT_EQ(reg.ReadString("Host"), "");
    EXPECT_EQ(reg.ReadString("Port"), "25");
    EXPECT_FALSE(reg.ValueExists("Login"));
    EXPECT_EQ(reg.ReadString("Login"), "");
    EXPECT_NE(ReadWholeFile(File).find("[1.2]"), std::string::npos) << "the version is the group";
}

TEST_F(SettingsStoreTest, ValuesOfOtherTypesAreInvalidData)
{
    SaveFileAtomically(File, "[1.2]\nA=@ByteArray(xyz)\nB=one, two\nC=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nD=plain\n");
    TSettingsStore reg;
    ASSERT_TRUE(reg.OpenKey(Key, true));
    for (const char* name : {"A", "B", "C"}) {
        try {
            reg.ReadString(name);
            ADD_FAILURE() << name << " read as text";
        } catch (const ESettingsError& e) {
            EXPECT_EQ(e.Message(), std::string("Invalid data type for '") + name + "'");
        }
    }
    EXPECT_EQ(reg.ReadString("D"), "plain");
}

TEST_F(SettingsStoreTest, AFailedWriteNamesTheValueAndKeepsTheOldFile)
{
    SaveFileAtomically(File, "[1.2]\nPort=2525\n");
    TSettingsStore reg;
    ASSERT_TRUE(reg.OpenKey(Key, true));
    // The file's folder turns into a plain file, so nothing can be written beside it.
    const std::string blocked = Dir.path().toStdString() + "/blocked";
    SaveFileAtomically(blocked, "x");
    setenv("QUILLCAST_SETTINGS", (blocked + "/s.ini").c_str(), 1);
    TSettingsStore other;
    other.OpenKey(Key, true);
    try {
        other.WriteString("Login", "me");
        ADD_FAILURE() << "the write did not fail";
    } catch (const ESettingsError& e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'Login'");
    }
    EXPECT_EQ(ReadWholeFile(File), "[1.2]\nPort=2525\n");
}

TEST(SettingsStoreFileTest, DefaultsToTheUsersConfigurationFolder)
{
    unsetenv("QUILLCAST_SETTINGS");
    const std::string file = TSettingsStore::FileNameFor("Software\\Veskor\\Quillcast V1.2\\1.2");
    EXPECT_NE(file.find("/Veskor/Quillcast V1.2.ini"), std::string::npos) << file;
}
