#include "link/link_worker.h"

#include "link/link_exchanges.h"

#include <algorithm>
#include <new>

namespace {

constexpr uint64_t kRestIntervalMs = 30000;
constexpr uint64_t kPendingPollIntervalMs = 3000;
constexpr uint64_t kLinkTimeoutMs = 600001;
constexpr DWORD kLongestWaitMs = 30000;

uint32_t takeRequests(LinkServiceState& s) {
    LinkStateLock lock(s);
    const uint32_t taken = s.requests;
    s.requests = 0;
    return taken;
}

bool configLoaded(LinkServiceState& s) {
    LinkStateLock lock(s);
    return s.state.configLoaded;
}

bool linkAwaited(const LinkServiceState& s) {
    return s.steamPending || s.discordPending;
}

// Handles the posted requests; false once the service is stopping.
bool serveRequests(LinkServiceState& s, uint32_t taken, uint64_t& nextConfigAt, uint64_t& nextPollAt) {
    if (taken & (Connect | Retry)) {
        clearLinkNotice(s);
        beginBusy(s);
        if (fetchConfig(s))
            pollStatus(s);
        nextConfigAt = nextPollAt = linkServiceNow(s) + kRestIntervalMs;
    }
    if (isStopping(s))
        return false;
    if (taken & Logout) {
        logout(s);
        nextPollAt = linkServiceNow(s) + kRestIntervalMs;
    }
    if (isStopping(s))
        return false;
    if (taken & LinkSteam)
        startLink(s, SteamProvider);
    if (taken & LinkDiscord)
        startLink(s, DiscordProvider);
    return !isStopping(s);
}

// Nothing the player could see is waiting for an answer: a launcher left behind the game for hours
// then costs nothing, and catches up the moment it is seen again.
bool restingUnseen(LinkServiceState& s) {
    if (linkAwaited(s))
        return false;
    LinkStateLock lock(s);
    return !s.windowSeen;
}

// The scheduled work of one pass: the link time-out, the configuration every 30 s, and the status
// every 30 s or every 3 s while an authorisation is awaited. A status poll waits for a configuration.
// Resting unseen, only an explicit refresh asks anything.
void runSchedule(LinkServiceState& s, bool refresh, uint64_t& nextConfigAt, uint64_t& nextPollAt) {
    const uint64_t now = linkServiceNow(s);
    bool pendingActive = false;
    if (linkAwaited(s)) {
        if (now - s.linkStartedAt >= kLinkTimeoutMs)
            timeOutLink(s);
        else
            pendingActive = true;
    }
    if (!refresh && restingUnseen(s))
        return;
    bool configOk = false;
    if (now >= nextConfigAt) {
        configOk = fetchConfig(s);
        nextConfigAt = linkServiceNow(s) + kRestIntervalMs;
    }
    if (isStopping(s))
        return;
    if (!refresh && now < nextPollAt && !configOk) {
        if (pendingActive)
            nextPollAt = std::min(nextPollAt, now + kPendingPollIntervalMs);
        return;
    }
    if (configLoaded(s))
        pollStatus(s);
    nextPollAt = linkServiceNow(s) + (linkAwaited(s) ? kPendingPollIntervalMs : kRestIntervalMs);
}

// The deadline is measured from after the pass's requests, so a slow request does not stretch the
// next interval; resting unseen there is none, only a request or being seen again wakes the worker.
// False when the service stops, or when the wait itself fails (which would spin).
bool waitForWork(LinkServiceState& s, uint64_t deadline) {
    const uint64_t now = linkServiceNow(s);
    DWORD timeout = INFINITE;
    if (!restingUnseen(s))
        timeout =
            deadline <= now ? 0 : static_cast<DWORD>(std::min<uint64_t>(deadline - now, kLongestWaitMs));
    const HANDLE handles[2] = {s.stopEvent, s.wakeEvent};
    const DWORD woken = s.wait(2, handles, timeout);
    return woken == WAIT_OBJECT_0 + 1 || woken == WAIT_TIMEOUT;
}

void runLoop(LinkServiceState& s) {
    uint64_t nextConfigAt = 0;
    uint64_t nextPollAt = 0;
    while (!isStopping(s)) {
        const uint32_t taken = takeRequests(s);
        if (!serveRequests(s, taken, nextConfigAt, nextPollAt))
            break;
        runSchedule(s, (taken & Refresh) != 0, nextConfigAt, nextPollAt);
        if (isStopping(s) || !waitForWork(s, std::min(nextConfigAt, nextPollAt)))
            break;
    }
}

DWORD realWait(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    return WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
}

uint64_t realClock() {
    return GetTickCount64();
}

} // namespace

LinkServiceState::LinkServiceState() {
    InitializeCriticalSection(&lock);
    wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

LinkServiceState::~LinkServiceState() {
    sessionToken.wipe();
    if (wakeEvent != nullptr)
        CloseHandle(wakeEvent);
    if (stopEvent != nullptr)
        CloseHandle(stopEvent);
    DeleteCriticalSection(&lock);
}

LinkServiceState* createLinkServiceState(const LinkServiceHooks& hooks) {
    auto* shared = new (std::nothrow) LinkServiceState;
    if (shared == nullptr)
        return nullptr;
    shared->transport = hooks.transport != nullptr ? hooks.transport : performRequest;
    shared->clock = hooks.now != nullptr ? hooks.now : realClock;
    shared->wait = hooks.wait != nullptr ? hooks.wait : realWait;
    return shared;
}

void acquireLinkServiceState(LinkServiceState* shared) {
    shared->shares.fetch_add(1);
}

void releaseLinkServiceState(LinkServiceState* shared) {
    if (shared->shares.fetch_sub(1) == 1)
        delete shared;
}

uint64_t linkServiceNow(LinkServiceState& shared) {
    const uint64_t reading = shared.clock();
    uint64_t latest = shared.latestTick.load();
    while (reading > latest && !shared.latestTick.compare_exchange_weak(latest, reading)) {
    }
    return std::max(reading, latest);
}

void notifyWindowOfChange(LinkServiceState& shared) {
    if (shared.notifyWindow == nullptr || shared.notifyPosted)
        return;
    // A message the queue refused is posted again with the next snapshot.
    shared.notifyPosted = PostMessageW(shared.notifyWindow, shared.notifyMessage, 0, 0) != FALSE;
}

DWORD WINAPI runLinkWorker(LPVOID share) {
    auto* shared = static_cast<LinkServiceState*>(share);
    runLoop(*shared);
    if (!isStopping(*shared))
        endUnasked(*shared);
    releaseLinkServiceState(shared);
    return 0;
}
