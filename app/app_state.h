#pragma once
#include "config/launcher_config.h"
#include "scenes/scene_library.h"

// Process-wide records, owned and touched by the UI thread only.
extern LauncherConfig gConfig;
extern SceneLibrary gSceneLibrary;
