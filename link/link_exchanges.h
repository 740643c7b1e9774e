#pragma once
#include "link/link_worker.h"

#include <cstdint>

// The worker's exchanges with the service, each publishing what it learnt into the shared snapshot.
// Called on the worker thread only; after stop has begun none of them changes the snapshot.

enum LinkProvider : uint8_t { DiscordProvider = 0, SteamProvider = 1 };

// Clears the sticky text of the last failed link attempt, as any new request by the player does.
void clearLinkNotice(LinkServiceState& s);
void beginBusy(LinkServiceState& s);

bool fetchConfig(LinkServiceState& s);
// Loads or creates the session first; a 401 renews it once.
bool pollStatus(LinkServiceState& s);
void startLink(LinkServiceState& s, LinkProvider provider);
// The awaited authorisation was not completed in time.
void timeOutLink(LinkServiceState& s);
// Revokes and forgets the session, then starts a fresh one.
void logout(LinkServiceState& s);
// The worker is leaving although nobody stopped it: the player is told, and requests are refused.
void endUnasked(LinkServiceState& s);
