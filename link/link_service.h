#pragma once
#include "link/https_transport.h"
#include "link/link_state.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Requests the window posts to the link service's worker.
enum LinkRequest : uint32_t {
    Connect = 1,
    Refresh = 2,
    Retry = 4,
    LinkSteam = 8,
    LinkDiscord = 16,
    Logout = 32,
};

// The worker's clock and its one wait, replaceable so that tests drive the cadence and the link
// time-out without waiting. now() is milliseconds that never run backwards; wait() waits for any of
// the handles and answers as WaitForMultipleObjects does.
struct LinkServiceHooks {
    HttpTransport transport = performRequest;
    uint64_t (*now)() = nullptr;                                                  // null: GetTickCount64
    DWORD (*wait)(DWORD count, const HANDLE* handles, DWORD timeoutMs) = nullptr; // null: the real wait
};

struct LinkServiceState;

// The UI thread's side of the link service. One instance, owned by the window module; the worker
// thread does every request and every session-file operation.
struct LinkService {
    LinkServiceState* shared = nullptr;
    HANDLE thread = nullptr;
    uint64_t lastSeenVersion = 0;
    bool windowSeen = true;
    LinkState state;
    std::wstring browserUrl;

    LinkService() = default;
    LinkService(const LinkService&) = delete;
    LinkService& operator=(const LinkService&) = delete;
    ~LinkService();

    // Starts the worker for the launcher folder and base URL. False with state.message set when the
    // URL is not the service's, the folder is missing, or the worker could not start.
    bool start(const wchar_t* folder, const wchar_t* baseUrl, const LinkServiceHooks& hooks = {});
    // Returns within about 200 ms even with a request in flight; nothing is published after it.
    void stop();
    // True when the service's snapshot changed; state (and browserUrl, when one waits) then hold it.
    bool pullSnapshot();
    // From now on the worker posts `message` to `window` when a new snapshot (or a browser URL) waits, so
    // the window need not look for one on a timer. At most one is outstanding: the next is posted only
    // after pullSnapshot. A null window stops it.
    void notifyOnChange(HWND window, UINT message);
    // Whether the player can see the window. While they cannot and no authorisation is awaited, the
    // worker fetches nothing on its own; what fell due meanwhile is fetched as soon as they can again.
    void setWindowSeen(bool seen);
    // At most one status poll per second is queued.
    void requestRefresh();
    // False when not running, stopping, or a link request the current state refuses.
    bool post(uint32_t bits);
};

// What the player reads while the service has Discord switched off.
extern const wchar_t kDiscordNotConfiguredText[];
// What the player reads when the worker could not start, or ended without being stopped.
extern const wchar_t kLinkServiceStoppedText[];

// The Spanish text the player sees for a failed exchange.
std::wstring messageForFailure(const HttpResult& result, bool discordContext);
