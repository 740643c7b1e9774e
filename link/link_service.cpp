#include "link/link_service.h"

#include "link/link_worker.h"

#include <string>
#include <vector>

namespace {

constexpr DWORD kStopWaitMs = 200;
constexpr uint64_t kRefreshThrottleMs = 999;
constexpr DWORD kFullPathCapacity = 32768;
constexpr uint32_t kKnownRequests = Connect | Refresh | Retry | LinkSteam | LinkDiscord | Logout;
constexpr uint32_t kPlayerRequests = Retry | LinkSteam | LinkDiscord | Logout;

const wchar_t kServiceNotAllowed[] = L"La dirección del servicio no está autorizada.";
const wchar_t kFolderMissing[] = L"No se encuentra la carpeta del launcher.";
const wchar_t kSessionFileName[] = L"launcher-session.dat";

// The launcher folder as a full path, only when it names an existing directory.
bool resolveFolder(const wchar_t* folder, std::wstring& full) {
    if (folder == nullptr)
        return false;
    std::vector<wchar_t> buffer(kFullPathCapacity, L'\0');
    const DWORD length = GetFullPathNameW(folder, kFullPathCapacity, buffer.data(), nullptr);
    if (length < 1 || length >= kFullPathCapacity)
        return false;
    const DWORD attributes = GetFileAttributesW(buffer.data());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    full.assign(buffer.data(), length);
    return true;
}

std::wstring sessionPathIn(const std::wstring& folder) {
    const wchar_t last = folder.back();
    return folder + (last == L'\\' || last == L'/' ? L"" : L"\\") + kSessionFileName;
}

// A request for a link the snapshot already rules out is refused at once, so the window can say so.
bool linkRequestAllowed(const LinkState& state, uint32_t bits) {
    if (!(bits & (LinkSteam | LinkDiscord)))
        return true;
    if (state.busy || !state.configLoaded)
        return false;
    if ((bits & LinkSteam) && state.steamLinked)
        return false;
    if ((bits & LinkDiscord) && !(state.steamLinked && state.discordEnabled && !state.discordLinked))
        return false;
    return true;
}

} // namespace

LinkService::~LinkService() {
    stop();
}

bool LinkService::start(const wchar_t* folder, const wchar_t* baseUrl, const LinkServiceHooks& hooks) {
    stop();
    state = LinkState();
    browserUrl.clear();
    lastSeenVersion = 0;
    state.busy = true;
    const auto refuse = [this](const wchar_t* text) {
        state.busy = false;
        state.message = text;
        return false;
    };

    UrlParts endpoint;
    if (baseUrl == nullptr || !validateBaseUrl(baseUrl, endpoint))
        return refuse(kServiceNotAllowed);
    std::wstring fullFolder;
    if (!resolveFolder(folder, fullFolder))
        return refuse(kFolderMissing);

    LinkServiceState* created = createLinkServiceState(hooks);
    if (created == nullptr)
        return refuse(kLinkServiceStoppedText);
    created->endpoint = std::move(endpoint);
    created->state = state;
    created->sessionPath = sessionPathIn(fullFolder);
    created->windowSeen = windowSeen;
    if (created->wakeEvent == nullptr || created->stopEvent == nullptr) {
        releaseLinkServiceState(created);
        return refuse(kLinkServiceStoppedText);
    }
    acquireLinkServiceState(created);
    thread = CreateThread(nullptr, 0, runLinkWorker, created, 0, nullptr);
    if (thread == nullptr) {
        releaseLinkServiceState(created);
        releaseLinkServiceState(created);
        return refuse(kLinkServiceStoppedText);
    }
    shared = created;
    return true;
}

void LinkService::stop() {
    if (shared != nullptr) {
        {
            // Under the lock, so no change the worker is making lands after this point.
            LinkStateLock lock(*shared);
            shared->stopFlag.exchange(1);
        }
        SetEvent(shared->stopEvent);
        SetEvent(shared->wakeEvent);
    }
    if (thread != nullptr) {
        WaitForSingleObject(thread, kStopWaitMs);
        CloseHandle(thread);
        thread = nullptr;
    }
    if (shared != nullptr) {
        releaseLinkServiceState(shared);
        shared = nullptr;
    }
    browserUrl.clear();
}

bool LinkService::pullSnapshot() {
    if (shared == nullptr)
        return false;
    LinkStateLock lock(*shared);
    shared->notifyPosted = false;
    if (shared->version == lastSeenVersion)
        return false;
    lastSeenVersion = shared->version;
    state = shared->state;
    if (!shared->browserUrl.empty()) {
        browserUrl = std::move(shared->browserUrl);
        shared->browserUrl.clear();
    }
    return true;
}

void LinkService::notifyOnChange(HWND window, UINT message) {
    if (shared == nullptr)
        return;
    LinkStateLock lock(*shared);
    shared->notifyWindow = window;
    shared->notifyMessage = message;
    shared->notifyPosted = false;
    // What was published before the window asked is waiting already.
    if (shared->version != lastSeenVersion)
        notifyWindowOfChange(*shared);
}

void LinkService::setWindowSeen(bool seen) {
    if (seen == windowSeen)
        return;
    windowSeen = seen;
    if (shared == nullptr)
        return;
    {
        LinkStateLock lock(*shared);
        shared->windowSeen = seen;
    }
    // Hidden, the worker's next pass finds out by itself; seen again, what is overdue is fetched now.
    if (seen)
        SetEvent(shared->wakeEvent);
}

void LinkService::requestRefresh() {
    if (shared == nullptr)
        return;
    const uint64_t now = linkServiceNow(*shared);
    {
        LinkStateLock lock(*shared);
        if (now - shared->lastRefreshAt <= kRefreshThrottleMs)
            return;
        shared->lastRefreshAt = now;
        if (isStopping(*shared) || shared->ended)
            return;
        shared->requests |= Refresh;
    }
    SetEvent(shared->wakeEvent);
}

bool LinkService::post(uint32_t bits) {
    bits &= kKnownRequests;
    if (shared == nullptr || bits == 0)
        return false;
    {
        LinkStateLock lock(*shared);
        if (isStopping(*shared) || shared->ended || !linkRequestAllowed(shared->state, bits))
            return false;
        if (bits & kPlayerRequests) {
            shared->linkNotice.clear();
            shared->state.message.clear();
            ++shared->version;
            notifyWindowOfChange(*shared);
        }
        shared->requests |= bits;
    }
    SetEvent(shared->wakeEvent);
    return true;
}
