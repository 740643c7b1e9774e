#pragma once
#include "actions/action_port.h"

// What a control does when released over, or pressed with Enter / Space / its key.
ActionOutcome activate(HitTarget control, ActionRecords& records);

// "CERRAR SESIÓN" reads "CONFIRMAR CIERRE" for this long after a first press; a second press within
// it posts the logout. The pump disarms it once the time is up.
inline constexpr uint64_t kSignOutConfirmMs = 5000;
bool signOutConfirming(const UiState& ui, uint64_t now);
// In how many milliseconds a pump disarms it: 0 while not armed, at least 1 while armed (a wait already
// over, or a clock that went back, is disarmed by the next pump).
uint64_t signOutDisarmDueMs(const UiState& ui, uint64_t now);

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
