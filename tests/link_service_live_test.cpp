// The link service's worker with its real transport, clock and wait, against the project's own link
// service (tools/with-link-service.sh), polled as the window's timer polls it.
#include "link/link_service.h"
#include "link/service_hosts.h"
#include "link/session_store.h"
#include "link_service_control.h"
#include "link_service_polling.h"
#include "test_support.h"

#include <gtest/gtest.h>

using nlohmann::json;
using testsupport::TempFolder;

TEST(LiveLinkService, LinksSteamRenewsAnExpiredSessionAndStopsMidRequest) {
    ASSERT_EQ(linkservice::environment(L"ORVANE_LINK_SERVICE_HOST"), std::wstring(kServiceHost));
    ASSERT_TRUE(linkservice::reset());
    TempFolder folder;
    const std::wstring sessionFile = folder / L"launcher-session.dat";
    LinkService service;
    ASSERT_TRUE(service.start(folder.path.c_str(), kServiceBaseUrl));
    ASSERT_TRUE(pollUntil(service, [](const LinkState& s) { return s.configLoaded && !s.busy; }));
    EXPECT_EQ(service.state.message, L"");
    const SessionToken first = loadSessionToken(sessionFile.c_str());
    ASSERT_FALSE(first.empty());

    ASSERT_TRUE(service.post(LinkSteam));
    ASSERT_TRUE(pollUntil(service, [](const LinkState& s) { return s.linkPending; }));
    EXPECT_EQ(service.browserUrl.rfind(L"https://steamcommunity.com/openid/login?", 0), 0u);
    // The player accepts in the browser; coming back to the window asks for a poll.
    ASSERT_EQ(linkservice::call(L"POST", L"/link", {{"provider", "steam"}}).status, 200u);
    service.requestRefresh();
    ASSERT_TRUE(pollUntil(service, [](const LinkState& s) { return s.steamLinked && !s.linkPending; }));
    EXPECT_FALSE(service.state.steamName.empty());

    // An expired session is replaced at the next connect, with the Steam link left behind on it.
    ASSERT_EQ(linkservice::call(L"POST", L"/expire", json::object()).status, 200u);
    ASSERT_TRUE(service.post(Retry));
    ASSERT_TRUE(pollUntil(service, [](const LinkState& s) { return !s.busy && !s.steamLinked; }));
    EXPECT_EQ(service.state.message, L"");
    const SessionToken second = loadSessionToken(sessionFile.c_str());
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second.view(), first.view());

    // A slow answer in flight: stop still returns at once, and the cancel ends the request.
    ASSERT_TRUE(linkservice::answer("GET", "/config", {{"delay_ms", 3000}}));
    ASSERT_TRUE(service.post(Retry));
    ASSERT_TRUE(pollUntil(service, [](const LinkState& s) { return s.busy; }));
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), service.thread, GetCurrentProcess(), &worker,
                                SYNCHRONIZE, FALSE, 0));
    const ULONGLONG began = GetTickCount64();
    service.stop();
    EXPECT_LT(GetTickCount64() - began, 250u);
    EXPECT_EQ(WaitForSingleObject(worker, 2000), WAIT_OBJECT_0);
    CloseHandle(worker);
    linkservice::reset();
}
