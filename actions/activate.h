#pragma once
#include "actions/action_port.h"

// What a control does when released over, or pressed with Enter / Space / its key.
ActionOutcome activate(HitTarget control, ActionRecords& records);

// "Jugar": the linking gate, then the steam:// URL handed to the shell and the result line.
ActionOutcome playGame(ActionRecords& records);

// Per tick, after the window pulled the link service's snapshot: what that pull changed for the
// window, and the authorisation URL it handed over (already taken out of the service).
struct LinkPull {
    bool changed = false;  // pullSnapshot's answer
    bool wasReady = false; // LinkState.ready before the pull
    std::wstring browserUrl;
};
ActionOutcome pumpLinkService(const LinkPull& pull, ActionRecords& records);
