// The menu's editor command falls back to $VISUAL, $EDITOR, then xdg-open.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/actions/EditorLauncher.h"

namespace fs = std::filesystem;

namespace vorlix {
namespace {

class EditorFallback : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = temp_.Path();
        SaveVariable("VISUAL", visual_);
        SaveVariable("EDITOR", editor_);
    }
    void TearDown() override
    {
        RestoreVariable("VISUAL", visual_);
        RestoreVariable("EDITOR", editor_);
    }
    static void SaveVariable(const char* name, std::optional<std::string>& slot)
    {
        if (const char* value = std::getenv(name); value != nullptr) {
            slot = value;
        }
    }
    static void RestoreVariable(const char* name, const std::optional<std::string>& slot)
    {
        if (slot) {
            setenv(name, slot->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    // A program that records the file it was asked to open.
    std::string Recorder(const std::string& name)
    {
        const fs::path script = dir_ / name;
        std::ofstream(script) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.opened\"\n";
        fs::permissions(script, fs::perms::owner_all);
        return script.string();
    }
    static std::string Opened(const std::string& script)
    {
        // printf writes the name in one go once the file exists: wait for the bytes.
        const std::string file = script + ".opened";
        std::string text;
        kestrel::test::WaitUntil([&] {
            text = kestrel::test::ReadFile(file);
            return !text.empty();
        });
        return text;
    }

    kestrel::test::TempDir temp_{"editor_test"};
    fs::path dir_;
    std::optional<std::string> visual_;
    std::optional<std::string> editor_;
};

TEST_F(EditorFallback, ConfiguredEditorFirst)
{
    const std::string mine = Recorder("mine");
    setenv("VISUAL", Recorder("visual").c_str(), 1);
    const std::string settings = (dir_ / "Vorlix 2.ini").string();  // a blank in the name
    EXPECT_EQ(OpenSettingsEditor(mine, settings), mine);
    EXPECT_EQ(Opened(mine), settings);
}

TEST_F(EditorFallback, MissingEditorFallsBackInOrder)
{
    const std::string visual = Recorder("visual");
    const std::string editor = Recorder("editor");
    setenv("VISUAL", visual.c_str(), 1);
    setenv("EDITOR", editor.c_str(), 1);
    const std::string settings = (dir_ / "Vorlix.ini").string();
    EXPECT_EQ(OpenSettingsEditor("notepad", settings), visual);
    EXPECT_EQ(Opened(visual), settings);
    unsetenv("VISUAL");
    EXPECT_EQ(OpenSettingsEditor("notepad", settings), editor);
    EXPECT_EQ(Opened(editor), settings);
}

}  // namespace
}  // namespace vorlix
