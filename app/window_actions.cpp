#include "app/window_actions.h"

#include "actions/activate.h"
#include "app/app_state.h"
#include "app/program_paths.h"

#include <shellapi.h>

#include <string>

namespace {

struct WindowPort final : ActionPort {
    int64_t openUrl(const wchar_t* url) override {
        // No system dialog ever: with no handler registered (no Steam) the player reads our own text.
        const std::wstring folder = programFolder();
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_FLAG_NO_UI;
        info.hwnd = gMainWindow;
        info.lpVerb = L"open";
        info.lpFile = url;
        info.lpDirectory = folder.c_str();
        info.nShow = SW_SHOWNORMAL;
        const bool opened = ShellExecuteExW(&info) != FALSE;
        const int64_t result = static_cast<int64_t>(reinterpret_cast<intptr_t>(info.hInstApp));
        // A failed call whose instance value still reads above 32 is a failure all the same.
        return opened || result <= 32 ? result : 0;
    }
    bool post(uint32_t requestBits) override { return gLinkService.post(requestBits); }
    void requestRefresh() override { gLinkService.requestRefresh(); }
    void diagnose(DiagnosticStage stage) override { writeDiagnosticEvent(stage); }
};

void carryOut(const ActionOutcome& outcome) {
    if (gMainWindow == nullptr)
        return;
    switch (outcome.command) {
    case WindowCommand::Minimise:
        ShowWindow(gMainWindow, SW_MINIMIZE);
        break;
    case WindowCommand::Maximise:
        ShowWindow(gMainWindow, SW_MAXIMIZE);
        break;
    case WindowCommand::Restore:
        ShowWindow(gMainWindow, SW_RESTORE);
        break;
    case WindowCommand::Close:
        SendMessageW(gMainWindow, WM_CLOSE, 0, 0);
        return;
    case WindowCommand::None:
        break;
    }
    if (outcome.repaint)
        InvalidateRect(gMainWindow, nullptr, FALSE);
}

ActionRecords records(ActionPort& port) {
    const bool maximised = gMainWindow != nullptr && IsZoomed(gMainWindow);
    return {gUiState, gLinkService.state, gConfig, gSceneLibrary, GetTickCount64(), maximised, port};
}

} // namespace

void runActivate(HitTarget control) {
    WindowPort port;
    ActionRecords r = records(port);
    carryOut(activate(control, r));
}

void runLinkPump() {
    if (!gUiState.linkingEnabled)
        return;
    LinkPull pull;
    pull.wasReady = gLinkService.state.ready;
    pull.changed = gLinkService.pullSnapshot();
    // Taken out of the service's client: the URL is opened once and not kept.
    pull.browserUrl.swap(gLinkService.browserUrl);
    WindowPort port;
    ActionRecords r = records(port);
    carryOut(pumpLinkService(pull, r));
}

void postSyntheticClickIfDue(float dpiFactor) {
    if (gMainWindow == nullptr || !syntheticClickDue(gUiState, gLinkService.state))
        return;
    // At most one click per run, even when this one is refused.
    gUiState.autoClickDone = true;
    RECT client{};
    GetClientRect(gMainWindow, &client);
    const ClientPoint p =
        syntheticClickPoint(client.right - client.left, client.bottom - client.top, dpiFactor);
    PostMessageW(gMainWindow, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
}

void writeDiagnosticEvent(DiagnosticStage stage) {
    if (!gUiState.diagnoseMode)
        return;
    WindowFacts window;
    if (gMainWindow != nullptr) {
        window.enabled = IsWindowEnabled(gMainWindow) != FALSE;
        window.visible = IsWindowVisible(gMainWindow) != FALSE;
    }
    writeDiagnosticReport(diagnosticReportPath(programFolder()),
                          diagnosticRecord(stage, gUiState, gLinkService.state, window));
}
