#pragma once
// A main window built for one test: scripted dialogs, settings in a temporary file.
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "app/Main.h"
#include "app/Splash.h"
#include "base/Exception.h"
#include "base/Stream.h"
#include "support/ScriptedDialogs.h"

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SettingsFile = Path("settings.ini");
        setenv("QUILLCAST_SETTINGS", SettingsFile.c_str(), 1);
        Splash = std::make_unique<TSplashform>(Dialogs);
    }
    void TearDown() override
    {
        Form.reset();
        unsetenv("QUILLCAST_SETTINGS");
        EXPECT_TRUE(Dialogs.AllAnswersUsed()) << "some scripted answers were never asked for";
    }

    std::string Path(const std::string& Name) const { return Dir.path().toStdString() + "/" + Name; }
    std::string WriteFile(const std::string& Name, const std::string& Data) const
    {
        SaveFileAtomically(Path(Name), Data);
        return Path(Name);
    }
    std::string ReadFile(const std::string& Name) const { return ReadWholeFile(Path(Name)); }

    Tmainform& Create()
    {
        Form = std::make_unique<Tmainform>(Dialogs, Splash.get());
        Form->show();
        return *Form;
    }

    QTemporaryDir Dir;
    std::string SettingsFile;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TSplashform> Splash;
    std::unique_ptr<Tmainform> Form;
};
