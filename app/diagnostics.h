#pragma once
#include "app/ui_state.h"
#include "link/link_state.h"

#include <string>

// The diagnostic modes' record of the account-link path, and their self-click on the Steam button.
// Everything here decides from the records it is given; the window reads its own state and writes.

enum class DiagnosticStage { Startup, WindowOpen, MouseUp, LinkClick, ServiceUpdate, BrowserOpen };
const char* diagnosticStageName(DiagnosticStage stage);

// What only the window can tell about itself; both false while there is no window.
struct WindowFacts {
    bool enabled = false;
    bool visible = false;
};

// The one JSON line of reports\link-click.json, line feed included. It carries flags and counters
// only: never the token, account names, URLs or message texts.
std::string diagnosticRecord(DiagnosticStage stage, const UiState& ui, const LinkState& link,
                             WindowFacts window);

// "<program folder>\reports\link-click.json".
std::wstring diagnosticReportPath(const std::wstring& programFolder);

// Replaces the report with one record. False, silently, when the reports folder is missing or the
// file cannot be written; the program never creates that folder.
bool writeDiagnosticReport(const std::wstring& path, const std::string& record);

// Whether --test-steam-click posts its one click on this tick.
bool syntheticClickDue(const UiState& ui, const LinkState& link);

// The Steam "VINCULAR" button's centre, in client pixels, for a client of width x height on a screen
// of that DPI factor.
struct ClientPoint {
    int x, y;
};
ClientPoint syntheticClickPoint(int clientWidth, int clientHeight, float dpiFactor = 1.0f);
