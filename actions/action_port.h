#pragma once
#include "app/diagnostic_stage.h"
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "scenes/scene_library.h"

#include <cstdint>

// What the actions ask of the outside world and need an answer to. The window implements it with the
// shell and its link service; tests fake it.
struct ActionPort {
    // ShellExecuteExW "open" of a URL with SEE_MASK_FLAG_NO_UI (owner: the main window, no parameters,
    // the program folder as working directory, SW_SHOWNORMAL); the instance value as a signed number,
    // success above 32.
    virtual int64_t openUrl(const wchar_t* url) = 0;
    // The link service's post: whether the request bits were queued.
    virtual bool post(uint32_t requestBits) = 0;
    virtual void requestRefresh() = 0;
    // Writes the diagnostic record for this moment (only the diagnostic modes write anything).
    virtual void diagnose(DiagnosticStage stage) = 0;

  protected:
    ~ActionPort() = default;
};

// The records an action decides on and changes. UI thread only.
struct ActionRecords {
    UiState& ui;
    const LinkState& link; // the window's copy of the service's snapshot
    LauncherConfig& config;
    SceneLibrary& scenes;
    uint64_t now;         // GetTickCount64 milliseconds
    bool windowMaximised; // IsZoomed of the main window
    ActionPort& port;
};

// What the window itself must do once an action has decided.
enum class WindowCommand { None, Minimise, Maximise, Restore, Close };
struct ActionOutcome {
    WindowCommand command = WindowCommand::None;
    bool repaint = false; // invalidate the whole client area
};
