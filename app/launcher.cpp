#include "app/launcher.h"

#include "app/app_state.h"
#include "app/program_paths.h"
#include "app/run_mode.h"
#include "app/screen_dpi.h"
#include "app/window.h"
#include "render/carousel.h"
#include "render/preview.h"
#include "selftest/self_test.h"

#include <shellapi.h>

#include <algorithm>
#include <string>

using namespace Gdiplus;

namespace {

int runBatchMode(RunMode mode) {
    switch (mode) {
    case RunMode::SelfTest:
        return runSelfTest();
    case RunMode::RenderPreview:
        return renderPreviewSeries(programFolder(), gSceneLibrary, gUiState, gConfig, gLinkService.state);
    default:
        return ExitBadCommandLine;
    }
}

// Pictures are kept no larger than the mode draws them: the window by the largest window this
// screen allows, the previews by their own sizes, so their images never depend on the screen.
SceneBound sceneBoundForMode(RunMode mode) {
    if (mode == RunMode::RenderPreview)
        return sceneBoundFor(kLargestPreviewWidth, kLargestPreviewHeight);
    if (!isWindowMode(mode))
        return {};
    // Physical pixels: the window's own declaration, made before anything is measured.
    declareDpiAwareness();
    return sceneBoundFor(std::max(GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CXMAXTRACK)),
                         std::max(GetSystemMetrics(SM_CYVIRTUALSCREEN), GetSystemMetrics(SM_CYMAXTRACK)));
}

} // namespace

int runLauncher(HINSTANCE instance, int showCommand) {
    std::wstring modulePath(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, modulePath.data(), static_cast<DWORD>(modulePath.size()));
    std::wstring folder;
    if (length == 0 || length >= modulePath.size())
        return ExitNoProgramFolder;
    modulePath.resize(length);
    if (!programFolderFromModulePath(modulePath.c_str(), folder))
        return ExitNoProgramFolder;
    setProgramFolder(folder);

    ULONG_PTR gdiplusToken = 0;
    GdiplusStartupInput gdiplusInput;
    if (GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Ok)
        return ExitGdiplusFailed;

    readStartupConfig(configurationPath().c_str(), gConfig);
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const RunMode mode = parseRunMode(argc, argv);
    gSceneLibrary.bound = sceneBoundForMode(mode);
    loadScenes(gSceneLibrary, programFolder().c_str(), gConfig.background);
    const int exitCode = isWindowMode(mode) ? runWindowMode(instance, showCommand, mode) : runBatchMode(mode);

    // Also after a batch mode or a rejected command line, where it has nothing to stop.
    gLinkService.stop();
    if (argv != nullptr)
        LocalFree(argv);
    emptySceneLibrary(gSceneLibrary);
    resetFrameRenderer(gFrameRenderer);
    releaseDrawingCaches();
    GdiplusShutdown(gdiplusToken);
    return exitCode;
}
