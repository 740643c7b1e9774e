#pragma once
#include "app/back_buffer.h"
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "scenes/scene_library.h"

// Process-wide records, owned and touched by the UI thread only.
extern LauncherConfig gConfig;
extern SceneLibrary gSceneLibrary;
extern UiState gUiState;
// The window's copy of the link service's snapshot (default until the service reports).
extern LinkState gLinkState;
extern BackBuffer gBackBuffer;
extern HWND gMainWindow;
