// What one client can make the service hold or do, each at its bound, one past it, and another player
// still answered meanwhile.
#include "support/service_fixture.h"

namespace {

using Bounds = ServiceFixture;

const std::string Outsider = "198.51.100.66";
const std::string Player = "203.0.113.9";

TEST_F(Bounds, EachAllowanceHoldsAtItsBoundAndNoOtherPlayerPays) {
    struct Case {
        const char* name;
        int bound;
        // The n-th request of the outsider (from 0), and the same request of another player.
        std::function<Response(Bounds&, int n, const std::string& client)> request;
        int refused;
        const char* error;
    };
    ServiceConfig config = fixtureConfig();
    config.linksPerMinute = 20;
    config.callbacksPerMinute = 30;
    config.sessionsPerMinute = 10;
    std::string oneSession, rotating;
    const Case cases[] = {
        {"open states of one session", 5,
         [&](Bounds& f, int, const std::string& client) {
             if (client != Outsider)
                 return f.call("POST", "/link/steam", f.newSession(client), {}, client);
             return f.call("POST", "/link/steam", oneSession, {}, client);
         },
         429, "too_many_states"},
        {"link starts of one address, over several sessions", 20,
         [&](Bounds& f, int n, const std::string& client) {
             // A fresh session every five starts, so the open-states bound is not what stops it.
             if (n % 5 == 0 || client != Outsider)
                 rotating = f.newSession(client);
             return f.call("POST", "/link/steam", rotating, {}, client);
         },
         429, "too_many_requests"},
        {"callbacks of one address", 30,
         [&](Bounds& f, int, const std::string& client) {
             return f.callback("steam", "state=" + std::string(43, 'Q'), client);
         },
         429, "too_many_requests"},
        {"new sessions of one address", 10,
         [&](Bounds& f, int, const std::string& client) {
             return f.call("POST", "/sessions", {}, {}, client);
         },
         429, "too_many_sessions"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startFresh();
        start(config);
        oneSession = newSession(Outsider);
        service.newSessions.buckets.clear();
        for (int n = 0; n < c.bound; ++n)
            ASSERT_NE(c.request(*this, n, Outsider).status, 429) << n;
        const Response refused = c.request(*this, c.bound, Outsider);
        EXPECT_EQ(refused.status, c.refused);
        EXPECT_NE(refused.body.find(c.error), std::string::npos) << refused.body;
        EXPECT_EQ(call("GET", "/config", {}, {}, Outsider).status, 200);
        EXPECT_NE(c.request(*this, 0, Player).status, 429);
    }
}

// One subscriber holds a whole IPv6 /64: its addresses share one allowance, the next /64 has its own.
TEST_F(Bounds, AnIpv6Slash64IsOneClient) {
    ServiceConfig config = fixtureConfig();
    config.sessionsPerMinute = 10;
    start(config);
    for (int i = 1; i <= 10; ++i)
        ASSERT_EQ(call("POST", "/sessions", {}, {}, "2001:db8:1:2::" + std::to_string(i)).status, 201) << i;
    EXPECT_EQ(call("POST", "/sessions", {}, {}, "2001:db8:1:2:ffff::1").status, 429);
    EXPECT_EQ(call("POST", "/sessions", {}, {}, "2001:db8:1:3::1").status, 201);
    EXPECT_EQ(call("POST", "/sessions", {}, {}, "203.0.113.10").status, 201);
}

} // namespace
