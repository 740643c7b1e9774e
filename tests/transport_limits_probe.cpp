// Figures, not a test: how the transport fares against a service that floods the header block or
// trickles a body, and what its abandoned requests leave behind (CPU after the call returned, when the
// service's side of the connection ended). Run by hand:
//   bash tools/with-link-service.sh --host HOST tools/wine-run build/tests/transport_limits_probe.exe CASE
#include "link/https_transport.h"
#include "link/service_hosts.h"
#include "link/url_policy.h"
#include "link_service_control.h"

#include <cstdio>
#include <string>

namespace {

constexpr int kCpuWindowSeconds = 30;
constexpr int kCpuWindows = 4;

double processCpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// Seconds from now until the service logs the response to a request made since `since` (it does
// once its writes end, by completing or because the client went), or -1 within `limitSeconds`.
int secondsUntilServiceLetGo(long long since, int limitSeconds) {
    for (int s = 0; s <= limitSeconds; ++s) {
        for (const nlohmann::json& event : linkservice::eventsSince(since))
            if (event.value("event", "") == "response")
                return s;
        Sleep(1000);
    }
    return -1;
}

void abandoned(const UrlParts& endpoint, HANDLE cancel, const char* what, const nlohmann::json& how,
               int watchSeconds) {
    linkservice::answer("GET", "/config", how);
    const long long since = linkservice::nextEvent();
    const ULONGLONG start = GetTickCount64();
    HttpResult result;
    performRequest(result, endpoint, L"GET", L"/config", {}, cancel);
    const double returned = static_cast<double>(GetTickCount64() - start) / 1000.0;
    std::printf("%s: returned after %.1f s, error %u, status %u; CPU after the return, per %d s:", what,
                returned, result.error, result.status, kCpuWindowSeconds);
    for (int window = 0; window < kCpuWindows; ++window) {
        const double before = processCpuSeconds();
        Sleep(kCpuWindowSeconds * 1000);
        std::printf(" %.1f s", processCpuSeconds() - before);
        std::fflush(stdout);
    }
    const int letGo = secondsUntilServiceLetGo(since, watchSeconds);
    const int waited = kCpuWindows * kCpuWindowSeconds;
    const char* when = letGo < 0 ? "had not ended" : letGo == 0 ? "had ended by" : "ended";
    std::printf("; service's writes %s %d s after the return\n", when,
                (letGo < 0 ? watchSeconds : letGo) + waited);
    std::fflush(stdout);
}

// Whether this WinHTTP knows the two size limits, on a session and on a request handle.
void optionSupport() {
    HINTERNET session = WinHttpOpen(L"probe", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    HINTERNET connection = WinHttpConnect(session, kServiceHost, kServicePort, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", L"/", nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    const struct {
        const char* name;
        DWORD option;
    } options[] = {{"MAX_RESPONSE_HEADER_SIZE", WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE},
                   {"MAX_RESPONSE_DRAIN_SIZE", WINHTTP_OPTION_MAX_RESPONSE_DRAIN_SIZE}};
    for (const auto& o : options)
        for (HINTERNET handle : {session, request}) {
            DWORD value = 131072;
            const BOOL set = WinHttpSetOption(handle, o.option, &value, sizeof value);
            std::printf("%s on the %s handle: %s (error %lu)\n", o.name,
                        handle == session ? "session" : "request", set ? "set" : "refused",
                        set ? 0ul : GetLastError());
        }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    std::fflush(stdout);
}

void connectionsPerRequest(const UrlParts& endpoint, HANDLE cancel) {
    linkservice::call(L"POST", L"/connections", {{"keep_alive", true}});
    const long long since = linkservice::nextEvent();
    for (int i = 0; i < 5; ++i) {
        HttpResult result;
        performRequest(result, endpoint, L"GET", L"/config", {}, cancel);
    }
    int connections = 0, requests = 0;
    for (const nlohmann::json& event : linkservice::eventsSince(since)) {
        connections += event.value("event", "") == "connection";
        requests += event.value("event", "") == "request";
    }
    std::printf("service keeping connections open: %d requests on %d connections\n", requests, connections);
    std::fflush(stdout);
    linkservice::reset();
}

} // namespace

// One case per process, so CPU left behind by one cannot count for the next:
//   transport_limits_probe options | connections | headers | trickle
int wmain(int argc, wchar_t** argv) {
    const std::wstring what = argc == 2 ? argv[1] : L"";
    UrlParts endpoint;
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!validateBaseUrl(kServiceBaseUrl, endpoint) || cancel == nullptr || !linkservice::reset()) {
        std::printf("no link service: run through tools/with-link-service.sh\n");
        return 1;
    }
    if (what == L"options")
        optionSupport();
    else if (what == L"connections")
        connectionsPerRequest(endpoint, cancel);
    else if (what == L"headers")
        abandoned(endpoint, cancel, "100,000 header lines", {{"header_lines", 100000}}, 120);
    else if (what == L"trickle")
        abandoned(endpoint, cancel, "a 120-byte body, one byte a second",
                  {{"body", "{\"pad\":\"" + std::string(110, 'a') + "\"}"}, {"trickle_ms", 1000}}, 150);
    else
        std::printf("usage: transport_limits_probe options|connections|headers|trickle\n");
    linkservice::reset();
    CloseHandle(cancel);
    return 0;
}
