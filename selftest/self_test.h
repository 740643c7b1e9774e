#pragma once
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "scenes/scene_library.h"

#include <cstdint>
#include <string>

// The --self-test mode: checks the program's own rules and files, writes reports\self-test.json, and
// returns the process exit code (0 when every check passed, 1 otherwise). Reads the process-wide records.
int runSelfTest();

// What the checks read. The program's own library is only read; ui is changed by the linking-screen
// checks and restored right after.
struct SelfTestInputs {
    std::wstring programFolder;
    UiState& ui;
    const SceneLibrary& scenes;
    const LinkState& link;
    const LauncherConfig& config;
};

struct SelfTestTally {
    uint32_t checks = 0;
    uint32_t failures = 0;
};

// Every check, in order; writes nothing but the checks' own test files.
SelfTestTally runSelfTestChecks(const SelfTestInputs& in);

// The mode with explicit records: the checks, then the report. Returns the exit code.
int runSelfTestWith(const SelfTestInputs& in);

// The report's one line, newline included.
std::string selfTestReportLine(const SelfTestTally& tally, bool sceneResourceLoaded);
