#pragma once
#include "link/https_transport.h"
#include "link/link_service.h"
#include "link/link_state.h"
#include "link/session_token.h"
#include "link/url_policy.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

// The state the UI's LinkService and the worker thread share. Fields marked (L) are read and written
// only under `lock`, which is never held across a network request or a file operation. The worker's
// private fields are touched by the worker alone once it runs.
struct LinkServiceState {
    std::atomic<long> shares{1};
    CRITICAL_SECTION lock;

    LinkState state;             // (L)
    uint64_t version = 1;        // (L)
    uint32_t requests = Connect; // (L)
    std::wstring browserUrl;     // (L)
    std::wstring linkNotice;     // (L)
    uint8_t linkProvider = 1;    // (L) 1 Steam, 0 Discord
    uint64_t lastRefreshAt = 0;  // (L)
    bool ended = false;          // (L) the worker left without being stopped
    HWND notifyWindow = nullptr; // (L) told of each new snapshot, see LinkService::notifyOnChange
    UINT notifyMessage = 0;      // (L)
    bool notifyPosted = false;   // (L) a message is on its way and the snapshot not yet pulled
    bool windowSeen = true;      // (L) see LinkService::setWindowSeen

    HANDLE wakeEvent = nullptr; // auto-reset
    HANDLE stopEvent = nullptr; // manual-reset; also cancels the request in flight
    std::atomic<long> stopFlag{0};

    std::wstring sessionPath;
    UrlParts endpoint;
    HttpTransport transport = performRequest;
    uint64_t (*clock)() = nullptr;
    DWORD (*wait)(DWORD count, const HANDLE* handles, DWORD timeoutMs) = nullptr;
    std::atomic<uint64_t> latestTick{0};

    // Worker-private.
    SessionToken sessionToken;
    bool steamPending = false;
    bool discordPending = false;
    bool sessionLoaded = false;
    // The player signed out: no session is made again until they start a link.
    bool signedOut = false;
    uint64_t linkStartedAt = 0;

    LinkServiceState();
    ~LinkServiceState();
    LinkServiceState(const LinkServiceState&) = delete;
    LinkServiceState& operator=(const LinkServiceState&) = delete;
};

// A state with one share and the hooks in place (null ones mean the real clock and wait); null when
// memory ran out. Its events may still be missing: the caller checks them.
LinkServiceState* createLinkServiceState(const LinkServiceHooks& hooks);
void acquireLinkServiceState(LinkServiceState* shared);
// The last share wipes the token, closes the events and frees the state.
void releaseLinkServiceState(LinkServiceState* shared);

// The hooked clock, held so it never runs backwards whichever thread reads it.
uint64_t linkServiceNow(LinkServiceState& shared);

// A new snapshot waits: tells the window, unless it was told already and has not pulled since. Called
// with the lock held.
void notifyWindowOfChange(LinkServiceState& shared);

// The worker thread; its parameter is a share of the state, released when the loop ends.
DWORD WINAPI runLinkWorker(LPVOID share);

// Set by stop; once it is, the worker publishes nothing and leaves at the next step.
inline bool isStopping(const LinkServiceState& shared) {
    return shared.stopFlag.load() != 0;
}

struct LinkStateLock {
    LinkServiceState& shared;
    explicit LinkStateLock(LinkServiceState& s) : shared(s) { EnterCriticalSection(&shared.lock); }
    ~LinkStateLock() { LeaveCriticalSection(&shared.lock); }
    LinkStateLock(const LinkStateLock&) = delete;
    LinkStateLock& operator=(const LinkStateLock&) = delete;
};
