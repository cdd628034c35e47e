#pragma once
// A main window built for one test: scripted dialogs, settings in a temporary file. The
// window's widget classes are included here for every test that drives them.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "app/AddressListModel.h"
#include "app/Main.h"
#include "app/Splash.h"
#include "base/Exception.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUILLCAST_SETTINGS", Dir.File("settings.ini").c_str(), 1);
        Splash = std::make_unique<TSplashform>(Dialogs);
    }
    void TearDown() override
    {
        Form.reset();
        unsetenv("QUILLCAST_SETTINGS");
        EXPECT_TRUE(Dialogs.AllAnswersUsed()) << "some scripted answers were never asked for";
    }

    Tmainform& Create()
    {
        Form = std::make_unique<Tmainform>(Dialogs, Splash.get());
        Form->show();
        return *Form;
    }

    // Picks a language in the selector as the user would.
    void Choose(int Index)
    {
        Form->ComboBox1->setCurrentIndex(Index);
        Form->ComboBox1Change();
    }

    TTempDir Dir;
    TScriptedDialogs Dialogs;
    std::unique_ptr<TSplashform> Splash;
    std::unique_ptr<Tmainform> Form;
};
