#pragma once
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "scenes/scene_library.h"

#include <windows.h>

#include <cstdint>
#include <string>

// The largest image of the series; its pictures need be no larger than this.
inline constexpr int kLargestPreviewWidth = 1420;
inline constexpr int kLargestPreviewHeight = 890;

// The --render-preview mode: draws the fixed series of screens off-screen into PNG files in
// "<program folder>\reports" and returns the exit code (0 when every file was written, else 3).
// Start-up passes the process-wide records and keeps factor 1, so the images never depend on the
// screen; a DPI factor draws them as a window on such a screen would show them (sizes times it).
int renderPreviewSeries(const std::wstring& programFolder, SceneLibrary& scenes, UiState& ui,
                        const LauncherConfig& config, const LinkState& link, float dpiFactor = 1.0f);

// Index of the installed image encoder for a MIME type (exact match), or -1.
int findEncoder(const wchar_t* mime, CLSID& encoder);

// A small render of the carousel, hashed: changes when the picture, fade or zoom changes.
uint64_t carouselFingerprint(const SceneLibrary& scenes);
