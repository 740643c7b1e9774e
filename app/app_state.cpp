#include "app/app_state.h"

// Defined in this order so that teardown at exit runs in the reverse one.
SceneLibrary gSceneLibrary;
LauncherConfig gConfig;
UiState gUiState;
LinkService gLinkService;
BackBuffer gBackBuffer;
FrameRenderer gFrameRenderer;
HWND gMainWindow = nullptr;
