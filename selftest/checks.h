#pragma once
// The self-test's groups (private to the module). Each adds its checks to the tally, in the order
// runSelfTestChecks calls them.
#include "render/hit_geometry.h"
#include "render/home_screen.h"
#include "selftest/self_test.h"

#include <cstddef>
#include <string>

// One check worth `counted` checks (pass or fail) that fails at most once.
inline void check(SelfTestTally& tally, bool passed, uint32_t counted = 1) {
    tally.checks += counted;
    if (!passed)
        ++tally.failures;
}

// The self-test's files, "%ls\%ls" from the program folder; empty when the path would not fit.
inline constexpr wchar_t kTestConfigurationName[] = L"reports\\self-test-configuration.ini";
inline constexpr wchar_t kNoImagesFolderName[] = L"reports\\self-test-no-images";
inline constexpr wchar_t kReportName[] = L"reports\\self-test.json";
std::wstring selfTestPath(const std::wstring& programFolder, const wchar_t* name);

void checkInputRules(SelfTestTally& tally);
void checkConfigurationFile(SelfTestTally& tally, const std::wstring& programFolder);
// Home-screen layouts at 20 sizes, the scaled Play button, and the linking screen's controls.
void checkHitTargets(SelfTestTally& tally, UiState& ui, size_t sceneCount);
void checkCarouselTiming(SelfTestTally& tally, const std::wstring& programFolder);
void checkSceneLoading(SelfTestTally& tally, const std::wstring& programFolder);
void checkBackBuffer(SelfTestTally& tally);
void checkFinalFrame(SelfTestTally& tally, const FrameInputs& in);
