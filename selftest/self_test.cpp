#include "selftest/self_test.h"

#include "app/app_state.h"
#include "app/program_paths.h"
#include "app/run_mode.h"
#include "config/file_replace.h"
#include "config/launcher_config.h"
#include "selftest/checks.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

std::wstring selfTestPath(const std::wstring& programFolder, const wchar_t* name) {
    std::wstring path(32768, L'\0');
    const int length = std::swprintf(path.data(), path.size(), L"%ls\\%ls", programFolder.c_str(), name);
    if (length <= 0)
        return {};
    path.resize(static_cast<size_t>(length));
    return path;
}

std::string selfTestReportLine(const SelfTestTally& tally, bool sceneResourceLoaded) {
    char line[1024];
    const int length = std::snprintf(
        line, sizeof line,
        "{\"status\":\"%s\",\"checks\":%u,\"failures\":%u,\"gui_started\":false,\"steam_started\":false,"
        "\"game_started\":false,\"server_contacted\":false,\"scene_resource_loaded\":%s,"
        "\"configuration_round_trip_tested\":true,\"atomic_replacement_and_busy_refusal_tested\":true,"
        "\"actual_user_configuration_modified\":false,"
        "\"carousel_autoplay_crossfade_wrap_pause_and_fallback_tested\":true,"
        "\"compact_layout_hit_targets_tested\":true}\n",
        tally.failures == 0 ? "PASS" : "FAIL", static_cast<unsigned>(tally.checks),
        static_cast<unsigned>(tally.failures), sceneResourceLoaded ? "true" : "false");
    return length > 0 && static_cast<size_t>(length) < sizeof line ? std::string(line, length)
                                                                   : std::string();
}

SelfTestTally runSelfTestChecks(const SelfTestInputs& in) {
    SelfTestTally tally;
    checkInputRules(tally);
    checkConfigurationFile(tally, in.programFolder);
    checkHitTargets(tally, in.ui, in.scenes.scenes.size());
    checkCarouselTiming(tally, in.programFolder);
    checkSceneLoading(tally, in.programFolder);
    checkBackBuffer(tally);
    checkFinalFrame(tally, FrameInputs{in.ui, in.link, in.config, in.scenes});
    return tally;
}

int runSelfTestWith(const SelfTestInputs& in) {
    const std::wstring reportPath = selfTestPath(in.programFolder, kReportName);
    const std::wstring pendingPath = reportPath.empty() ? std::wstring() : pendingPathFor(reportPath.c_str());
    // An older report goes first, so that a run whose report cannot be written leaves none rather than
    // a verdict that is not its own; so does the pending file of a run that ended while writing one.
    if (!reportPath.empty()) {
        DeleteFileW(reportPath.c_str());
        DeleteFileW(pendingPath.c_str());
    }
    const SelfTestTally tally = runSelfTestChecks(in);
    const std::string line = selfTestReportLine(tally, !in.scenes.scenes.empty());
    // The exit code is the verdict; a report that cannot be written changes nothing about it.
    if (!reportPath.empty() && !line.empty())
        replaceFile(reportPath.c_str(), pendingPath.c_str(), line.data(), line.size());
    return tally.failures == 0 ? ExitOk : ExitSelfTestFailed;
}

int runSelfTest() {
    return runSelfTestWith(
        SelfTestInputs{programFolder(), gUiState, gSceneLibrary, gLinkService.state, gConfig});
}
