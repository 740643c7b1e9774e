// The admin's players command over a real database.
#include "admin/players_command.h"
#include "storage/secrets.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

constexpr std::int64_t Now = 1'800'000'000;
const std::string Ana = "76561198000000001";
const std::string Bea = "76561198000000002";
const std::string Cy = "76561198000000003";

struct PlayersCommand : ::testing::Test {
    TempFolder folder;
    std::unique_ptr<LinkStore> store;
    std::ostringstream out, err;
    void SetUp() override {
        std::string error;
        store = openLinkStore(freshTestDatabase(folder), error);
        ASSERT_TRUE(store) << error;
        for (const char* token : {"one", "two"})
            ASSERT_EQ(store->createSession(sha256Hex(token), Now, Now + 100'000'000), StoreResult::Ok);
        ASSERT_EQ(store->link(1, Provider::Steam, {Ana, "Ana"}, Now, "launcher"), StoreResult::Ok);
        ASSERT_EQ(store->link(1, Provider::Discord, {"123456789012345678", "ana"}, Now, "launcher"),
                  StoreResult::Ok);
        ASSERT_EQ(store->link(2, Provider::Steam, {Bea, "Bea"}, Now + 1, "confirmed"), StoreResult::Ok);
    }
    int run(std::vector<std::string> arguments, std::int64_t at = Now + 10) {
        out.str({});
        err.str({});
        return runPlayersCommand(*store, arguments, at, out, err);
    }
};

TEST_F(PlayersCommand, ListShowAndUnlink) {
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(), "steam_id\tsteam_name\tdiscord_id\tdiscord_name\tlinked_at\tbanned\n" + Ana +
                             "\tAna\t123456789012345678\tana\t2027-01-15T08:00:00Z\tno\n" + Bea +
                             "\tBea\t-\t-\t2027-01-15T08:00:01Z\tno\n");
    ASSERT_EQ(run({"show", Ana}), 0);
    EXPECT_EQ(out.str(),
              "steam_id: " + Ana +
                  "\nsteam_name: Ana\ndiscord_id: 123456789012345678\ndiscord_name: ana\nlinked: yes\n"
                  "linked_at: 2027-01-15T08:00:00Z\ndiscord_linked_at: 2027-01-15T08:00:00Z\n"
                  "how: launcher\nbanned: no\n");
    ASSERT_EQ(run({"unlink", Ana}), 0);
    EXPECT_NE(out.str().find("and the Discord account 123456789012345678"), std::string::npos) << out.str();
    SessionView session;
    ASSERT_EQ(store->findSession(sha256Hex("one"), Now, session), StoreResult::Ok);
    EXPECT_FALSE(session.steam) << "the launcher goes back to linking";
    EXPECT_EQ(run({"show", Ana}), 1);
    EXPECT_NE(err.str().find("no pair or ban"), std::string::npos) << err.str();
    EXPECT_EQ(run({"unlink", Ana}), 1);
    EXPECT_NE(err.str().find("has no pair"), std::string::npos) << err.str();
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str().find(Ana), std::string::npos);
}

TEST_F(PlayersCommand, BanAndUnbanWithOrWithoutAPair) {
    ASSERT_EQ(run({"ban", Bea, "--reason", "wall hacks on eu-1"}), 0);
    EXPECT_NE(out.str().find("banned the Steam account " + Bea), std::string::npos) << out.str();
    ASSERT_EQ(run({"ban", Cy, "--reason", "alt of a banned player"}, Now + 20), 0);
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_NE(out.str().find(Bea + "\tBea\t-\t-\t2027-01-15T08:00:01Z\tyes\n"), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find(Cy + "\t-\t-\t-\t-\tyes\n"), std::string::npos) << out.str();
    ASSERT_EQ(run({"show", Cy}), 0);
    EXPECT_NE(out.str().find("linked: no\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("ban_reason: alt of a banned player\nbanned_at: 2027-01-15T08:00:20Z\n"),
              std::string::npos)
        << out.str();

    ASSERT_EQ(run({"unban", Cy}), 0);
    EXPECT_EQ(run({"unban", Cy}), 1);
    EXPECT_NE(err.str().find("is not banned"), std::string::npos) << err.str();
    EXPECT_EQ(run({"show", Cy}), 1);
    ASSERT_EQ(run({"unban", Bea}), 0);
    ASSERT_EQ(run({"show", Bea}), 0);
    EXPECT_NE(out.str().find("banned: no\n"), std::string::npos) << out.str();
}

TEST_F(PlayersCommand, MisuseIsRefusedWithUsageAndChangesNothing) {
    const std::string tooLong(201, 'x');
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {"delete", Ana},
                                                      {"show"},
                                                      {"show", "7656"},
                                                      {"unlink", "7656119800000000a"},
                                                      {"list", "extra"},
                                                      {"ban", Ana},
                                                      {"ban", Ana, "cheating"},
                                                      {"ban", Ana, "--reason"},
                                                      {"ban", Ana, "--reason", ""},
                                                      {"ban", Ana, "--reason", tooLong},
                                                      {"ban", Ana, "--reason", "line\nbreak"},
                                                      {"ban", Ana, "--reason", "bad \xff byte"},
                                                      {"ban", Ana, "--why", "cheating"},
                                                      {"unban", Ana, "extra"}}) {
        SCOPED_TRACE(arguments.empty() ? "" : arguments.back());
        EXPECT_EQ(run(arguments), 2);
        EXPECT_FALSE(err.str().empty());
        EXPECT_TRUE(out.str().empty());
    }
    PlayerRecord player;
    ASSERT_EQ(store->findPlayer(Ana, player), StoreResult::Ok);
    EXPECT_FALSE(player.banned);
    EXPECT_EQ(run({"ban", Ana, "--reason", std::string(200, 'x')}), 0) << "200 bytes are allowed";
}

} // namespace
