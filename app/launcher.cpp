#include "app/launcher.h"

#include "app/app_state.h"
#include "app/program_paths.h"
#include "app/run_mode.h"
#include "app/window.h"
#include "render/preview.h"
#include "selftest/self_test.h"

#include <shellapi.h>

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
    loadScenes(gSceneLibrary, programFolder().c_str(), gConfig.background);

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const RunMode mode = parseRunMode(argc, argv);
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
