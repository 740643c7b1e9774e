#include "app/program_paths.h"
#include "app/run_mode.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ProgramFolder, IsTheModulePathCutAtItsLastBackslash) {
    struct Case {
        const wchar_t* modulePath;
        bool ok;
        const wchar_t* folder;
    };
    const Case cases[] = {
        {L"C:\\Games\\Orvane\\OrvaneGaming.exe", true, L"C:\\Games\\Orvane"},
        {L"Q:\\OrvaneGaming.exe", true, L"Q:"},
        {L"\\\\server\\share\\OrvaneGaming.exe", true, L"\\\\server\\share"},
        {L"\\\\?\\C:\\very\\long\\OrvaneGaming.exe", true, L"\\\\?\\C:\\very\\long"},
        {L"OrvaneGaming.exe", false, L""},
        {L"", false, L""},
    };
    for (const Case& c : cases) {
        std::wstring folder;
        EXPECT_EQ(programFolderFromModulePath(c.modulePath, folder), c.ok) << c.modulePath;
        if (c.ok) {
            EXPECT_EQ(folder, c.folder);
        }
    }
}

TEST(ProgramFolder, ConfigurationPathOfADriveRootStaysInThatRoot) {
    setProgramFolder(L"Q:");
    EXPECT_EQ(configurationPath(), L"Q:\\OrvaneGaming.ini");
    setProgramFolder(L"C:\\Games\\Orvane");
    EXPECT_EQ(configurationPath(), L"C:\\Games\\Orvane\\OrvaneGaming.ini");
}

TEST(RunMode, OnlyExactSingleSwitchesAreAccepted) {
    struct Case {
        std::vector<const wchar_t*> args;
        RunMode mode;
    };
    const Case cases[] = {
        {{L"x.exe"}, RunMode::Window},
        {{L"x.exe", L"--self-test"}, RunMode::SelfTest},
        {{L"x.exe", L"--render-preview"}, RunMode::RenderPreview},
        {{L"x.exe", L"--diagnose-linking"}, RunMode::DiagnoseLinking},
        {{L"x.exe", L"--test-steam-click"}, RunMode::TestSteamClick},
        {{L"x.exe", L"--SELF-TEST"}, RunMode::Rejected},
        {{L"x.exe", L"-self-test"}, RunMode::Rejected},
        {{L"x.exe", L"--self-test "}, RunMode::Rejected},
        {{L"x.exe", L"--self-test", L"extra"}, RunMode::Rejected},
        {{L"x.exe", L"--unknown"}, RunMode::Rejected},
        {{L"x.exe", L""}, RunMode::Rejected},
        {{}, RunMode::Rejected},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t*> argv;
        for (const wchar_t* a : c.args)
            argv.push_back(const_cast<wchar_t*>(a));
        EXPECT_EQ(parseRunMode(static_cast<int>(argv.size()), argv.data()), c.mode)
            << (c.args.size() > 1 ? c.args[1] : L"(no switch)");
    }
    EXPECT_EQ(parseRunMode(0, nullptr), RunMode::Rejected);
}
