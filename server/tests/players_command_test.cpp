// The admin's players command over a real database.
#include "admin/players_command.h"
#include "storage/secrets.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct PlayersCommand : ::testing::Test {
    TempFolder folder;
    std::unique_ptr<LinkStore> store;
    std::ostringstream out, err;
    void SetUp() override {
        std::string error;
        store = openLinkStore(freshTestDatabase(folder), error);
        ASSERT_TRUE(store) << error;
        for (const char* token : {"one", "two"})
            ASSERT_EQ(store->createSession(sha256Hex(token), 1'800'000'000, 1'900'000'000), StoreResult::Ok);
        ASSERT_EQ(store->link(1, Provider::Steam, {"76561198000000001", "Ana"}, 1'800'000'000),
                  StoreResult::Ok);
        ASSERT_EQ(store->link(1, Provider::Discord, {"123456789012345678", "ana"}, 1'800'000'000),
                  StoreResult::Ok);
        ASSERT_EQ(store->link(2, Provider::Steam, {"76561198000000002", "Bea"}, 1'800'000'001),
                  StoreResult::Ok);
    }
    int run(std::vector<std::string> arguments) {
        out.str({});
        err.str({});
        return runPlayersCommand(*store, arguments, out, err);
    }
};

TEST_F(PlayersCommand, ListShowAndUnlink) {
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(), "steam_id\tsteam_name\tdiscord_id\tdiscord_name\tlinked_at\n"
                         "76561198000000001\tAna\t123456789012345678\tana\t2027-01-15T08:00:00Z\n"
                         "76561198000000002\tBea\t-\t-\t2027-01-15T08:00:01Z\n");
    ASSERT_EQ(run({"show", "76561198000000001"}), 0);
    EXPECT_NE(out.str().find("discord_id: 123456789012345678\n"), std::string::npos) << out.str();
    ASSERT_EQ(run({"unlink", "76561198000000001"}), 0);
    EXPECT_NE(out.str().find("and the Discord account 123456789012345678"), std::string::npos) << out.str();
    EXPECT_EQ(run({"show", "76561198000000001"}), 1);
    EXPECT_NE(err.str().find("no player"), std::string::npos);
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str().find("76561198000000001"), std::string::npos);
}

TEST_F(PlayersCommand, MisuseIsRefusedWithUsage) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {"delete", "76561198000000001"},
                                                      {"show"},
                                                      {"show", "7656"},
                                                      {"list", "extra"}}) {
        EXPECT_EQ(run(arguments), 2);
        EXPECT_FALSE(err.str().empty());
        EXPECT_TRUE(out.str().empty());
    }
}

} // namespace
