#pragma once

enum class RunMode { Window, SelfTest, RenderPreview, DiagnoseLinking, TestSteamClick, Rejected };

// argc counts the program name; argv may be null when splitting the command line failed.
RunMode parseRunMode(int argc, wchar_t** argv);

inline bool isWindowMode(RunMode mode) {
    return mode == RunMode::Window || mode == RunMode::DiagnoseLinking || mode == RunMode::TestSteamClick;
}

enum ExitCode : int {
    ExitOk = 0,
    ExitNoProgramFolder = 1,
    ExitSelfTestFailed = 1,
    ExitGdiplusFailed = 2,
    ExitPreviewFailed = 3,
    ExitWindowFailed = 4,
    ExitBadCommandLine = 64,
};
