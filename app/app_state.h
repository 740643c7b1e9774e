#pragma once
#include "app/back_buffer.h"
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_service.h"
#include "render/frame_renderer.h"
#include "scenes/scene_library.h"

// Process-wide records, owned and touched by the UI thread only.
extern LauncherConfig gConfig;
extern SceneLibrary gSceneLibrary;
extern UiState gUiState;
// The one link-service client; its `state` is the window's copy of the service's snapshot.
extern LinkService gLinkService;
extern BackBuffer gBackBuffer;
// What the back buffer shows, and the caches that keep it cheap to update.
extern FrameRenderer gFrameRenderer;
extern HWND gMainWindow;
