#include "app/diagnostics.h"

#include "render/hit_geometry.h"

#include <cstdio>

namespace {

const char* word(bool value) {
    return value ? "true" : "false";
}

} // namespace

const char* diagnosticStageName(DiagnosticStage stage) {
    switch (stage) {
    case DiagnosticStage::Startup:
        return "startup";
    case DiagnosticStage::WindowOpen:
        return "window_open";
    case DiagnosticStage::MouseUp:
        return "mouse_up";
    case DiagnosticStage::LinkClick:
        return "link_click";
    case DiagnosticStage::ServiceUpdate:
        return "service_update";
    case DiagnosticStage::BrowserOpen:
        return "browser_open";
    }
    return "unknown";
}

std::string diagnosticRecord(DiagnosticStage stage, const UiState& ui, const LinkState& link,
                             WindowFacts window) {
    char line[512];
    const int length = std::snprintf(
        line, sizeof line,
        "{\"stage\":\"%s\",\"clicks\":%u,\"control\":%d,\"queued\":%s,\"configured\":%s,\"loading\":%s,"
        "\"pending\":%s,\"service_error\":%s,\"browser_result\":%lld,\"window_enabled\":%s,"
        "\"window_visible\":%s,\"settings_open\":%s,\"mouse_x\":%d,\"mouse_y\":%d,"
        "\"credentials_logged\":false}\n",
        diagnosticStageName(stage), static_cast<unsigned>(ui.linkClicks), static_cast<int>(ui.lastControl),
        word(ui.lastLinkQueued), word(link.configLoaded), word(link.busy), word(link.linkPending),
        word(!link.message.empty()), static_cast<long long>(ui.lastBrowserResult), word(window.enabled),
        word(window.visible), word(false), static_cast<int>(ui.lastMouseX), static_cast<int>(ui.lastMouseY));
    // Every field is bounded, so the line always fits; a cut line would be worse than none.
    if (length <= 0 || static_cast<size_t>(length) >= sizeof line)
        return std::string();
    return std::string(line, static_cast<size_t>(length));
}

std::wstring diagnosticReportPath(const std::wstring& programFolder) {
    return programFolder + L"\\reports\\link-click.json";
}

bool writeDiagnosticReport(const std::wstring& path, const std::string& record) {
    if (record.empty() || path.size() >= 32768)
        return false;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
    return std::fclose(file) == 0 && written;
}

bool syntheticClickDue(const UiState& ui, const LinkState& link) {
    return ui.testSteamClick && !ui.autoClickDone && link.configLoaded && !link.busy && !link.steamLinked;
}

ClientPoint syntheticClickPoint(int clientWidth, int clientHeight, float dpiFactor) {
    const UiScale ui = computeUiScale(clientWidth, clientHeight, dpiFactor);
    const DesignRect button = hitRect(LinkSteamButton, ui.width, ui.height);
    const double s = ui.scale;
    return {static_cast<int>((button.x + button.w * 0.5) * s),
            static_cast<int>((button.y + button.h * 0.5) * s)};
}
