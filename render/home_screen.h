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
    float dpiFactor = 1.0f; // the window's screen; off-screen images keep 1 (computeUiScale)
};

// Layers of a frame, bottom to top: the picture and scrims, the interface, then what changes with
// the carousel or every frame (scene bars and labels, the turning emblem, the hold progress), which
// nothing else overlaps, so each can be redrawn alone over the layers below.
enum PaintParts : unsigned {
    PaintBackdrop = 1,
    PaintInterface = 2,
    PaintSceneBars = 4,   // the position bars
    PaintSceneLabels = 8, // the scene's caption and the "01 / 03" counter
    PaintEmblem = 16,
    PaintProgress = 32,
    PaintAll = 63,
};

// Draws a frame (or only some of its parts) for a client of pixelWidth x pixelHeight (nothing when
// either is < 1).
void paintScreen(DrawContext& ctx, int pixelWidth, int pixelHeight, const FrameInputs& in,
                 unsigned parts = PaintAll);

// The account-linking card, drawn as the content of the linking screen.
void paintLinkingCard(DrawContext& ctx, int W, int H, const LinkState& link, const UiState& ui);
