#pragma once
#include "app/diagnostics.h"
#include "app/ui_state.h"

#include <windows.h>

// The window's edge of the actions: it reads the process-wide records, answers the actions' questions
// with the shell and the link service, and carries out what they decided. UI thread only.

void runActivate(HitTarget control);

// First thing in each tick: pulls the link service's snapshot and follows it; repaints only when the
// snapshot changed or an authorisation page was opened.
void runLinkPump();

// --test-steam-click: once the service is ready for it, posts one release over the Steam button, where
// the window draws it at its DPI factor.
void postSyntheticClickIfDue(float dpiFactor);

// Rewrites reports\link-click.json in the diagnostic modes; nothing otherwise.
void writeDiagnosticEvent(DiagnosticStage stage);
