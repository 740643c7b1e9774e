#pragma once
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "render/toolkit.h"
#include "scenes/scene_library.h"

// Everything one frame shows; the window and the previews fill it from their own records.
struct FrameInputs {
    const UiState& ui;
    const LinkState& link; // the window's copy; the linking card prefers ui.previewLinkState
    const LauncherConfig& config;
    const SceneLibrary& scenes;
};

// Draws one complete frame for a client of pixelWidth x pixelHeight (nothing when either is < 1).
void paintScreen(DrawContext& ctx, int pixelWidth, int pixelHeight, const FrameInputs& in);

// The account-linking card, drawn as the content of the linking screen.
void paintLinkingCard(DrawContext& ctx, int W, int H, const LinkState& link, const UiState& ui);
