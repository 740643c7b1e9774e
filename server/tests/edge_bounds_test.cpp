// The edge's bounds: whose connections count together, how many the descriptors allow, and how refused
// and cut connections reach the log (the real program under the caps: edge_bounds_test.py).
#include "support/edge_fixture.h"

#include <chrono>
#include <thread>

namespace {

TEST(AddressKey, AnIpv4AddressCountsAloneAndAnIpv6AddressWithItsSlash64) {
    struct Case {
        const char* a;
        const char* b;
        bool together;
    };
    const Case cases[] = {
        {"203.0.113.5", "203.0.113.5", true},
        {"203.0.113.5", "203.0.113.6", false}, // a household's neighbours are not its connections
        {"2001:db8:1:2::5", "2001:db8:1:2:ffff:ffff:ffff:ffff", true},
        {"2001:db8:1:2::5", "2001:db8:1:3::5", false},
        {"::1", "::2", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " " + c.b);
        EXPECT_EQ(addressKey(c.a) == addressKey(c.b), c.together);
    }
}

TEST(ConnectionsAllowed, SizedFromTheDescriptorsAndNeverPastThem) {
    struct Case {
        std::int64_t descriptors;
        int configured;
        int allowed;
    };
    const Case cases[] = {
        {1024, 0, 960},                      // a unit without LimitNOFILE
        {65536, 0, 50000},                   // the unit's LimitNOFILE: the default's ceiling
        {65536, 60000, 60000},               // an admin may go past the default's ceiling
        {1024, 5000, 960},                   // but not past the descriptors
        {1024, 100, 100},      {100, 0, 50}, // a tiny limit still leaves half to connections
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.descriptors) + " " + std::to_string(c.configured));
        EXPECT_EQ(connectionsAllowed(c.descriptors, c.configured), c.allowed);
    }
}

std::vector<nlohmann::json> events(const std::vector<std::string>& lines, const std::string& event) {
    std::vector<nlohmann::json> found;
    for (const std::string& line : lines) {
        nlohmann::json entry = nlohmann::json::parse(line);
        if (entry.value("event", "") == event)
            found.push_back(entry);
    }
    return found;
}

std::int64_t sum(const std::vector<nlohmann::json>& lines, const char* field) {
    std::int64_t total = 0;
    for (const nlohmann::json& line : lines)
        total += line[field].get<std::int64_t>();
    return total;
}

// A flood past the per-address cap and silent connections cut at the handshake deadline leave one summary
// line per interval, never one line per connection, while the players are answered.
TEST_F(EdgeTest, RefusedAndCutConnectionsAreSummedUpNotLoggedOneByOne) {
    EdgeOptions options;
    options.certificateFile = certificate.certificate;
    options.privateKeyFile = certificate.privateKey;
    options.maxConnectionsPerAddress = 3;
    options.handshakeSeconds = 1;
    options.summarySeconds = 1;
    startEdgeWith(options);
    std::vector<std::unique_ptr<TestClient>> silent;
    for (int i = 0; i < 40; ++i)
        silent.push_back(std::make_unique<TestClient>(edgePort(*edge), ""));
    // Waits on the summaries until they count every refusal and every cut.
    std::vector<nlohmann::json> summaries;
    for (int i = 0; i < 500; ++i) {
        summaries = events(log(), "connections");
        if (sum(summaries, "refused_per_address") == 37 && sum(summaries, "handshake_timeouts") == 3)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(sum(summaries, "refused_per_address"), 37);
    EXPECT_EQ(sum(summaries, "handshake_timeouts"), 3);
    EXPECT_EQ(sum(summaries, "refused_max_connections"), 0);
    EXPECT_LE(summaries.size(), 3u);
    // The held ones were cut, so a player is served again from the same address.
    EXPECT_EQ(client()->request("GET", BasePath + "/config").status, 200);
    const EdgeCounts counts = edgeCounts(*edge);
    EXPECT_EQ(counts.refusedPerAddress, 37);
    EXPECT_EQ(counts.handshakeTimeouts, 3);
    const auto lines = log();
    EXPECT_EQ(lines.size(), summaries.size() + 1) << "one line for the player's request, none per connection";
}

} // namespace
