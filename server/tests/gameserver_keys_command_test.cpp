// The admin's gameserver-keys command over a real database.
#include "admin/gameserver_keys_command.h"
#include "storage/secrets.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

constexpr std::int64_t Now = 1'800'000'000;

struct GameServerKeysCommand : ::testing::Test {
    TempFolder folder;
    std::string database;
    std::unique_ptr<LinkStore> store;
    std::ostringstream out, err;
    void SetUp() override {
        std::string error;
        database = freshTestDatabase(folder);
        store = openLinkStore(database, error);
        ASSERT_TRUE(store) << error;
    }
    int run(std::vector<std::string> arguments, std::int64_t at = Now) {
        out.str({});
        err.str({});
        return runGameServerKeysCommand(*store, arguments, at, out, err);
    }
};

// The key is printed once, on its own line, and only its hash is kept.
TEST_F(GameServerKeysCommand, AKeyIsShownOnceAndOnlyItsHashIsStored) {
    ASSERT_EQ(run({"add", "eu-1"}), 0) << err.str();
    std::istringstream lines(out.str());
    std::string heading, key, note;
    std::getline(lines, heading);
    std::getline(lines, key);
    std::getline(lines, note);
    EXPECT_EQ(key.size(), 43u) << out.str();
    EXPECT_NE(note.find("shown only now"), std::string::npos) << out.str();
    std::vector<GameServerKey> keys;
    ASSERT_EQ(store->listGameServerKeys(keys), StoreResult::Ok);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].keyHash, sha256Hex(key));

    ASSERT_EQ(run({"add", "classic.us_2"}, Now + 60), 0);
    const std::string second = out.str();
    EXPECT_EQ(second.find(key), std::string::npos) << "a key shown again";
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(),
              "name\tcreated_at\nclassic.us_2\t2027-01-15T08:01:00Z\neu-1\t2027-01-15T08:00:00Z\n");

    store.reset();
    const std::string contents = databaseContents(database);
    EXPECT_EQ(contents.find(key), std::string::npos) << "the key itself was stored";
    EXPECT_NE(contents.find(sha256Hex(key)), std::string::npos);
}

TEST_F(GameServerKeysCommand, ANameIsTakenOnceAndRevokingFreesIt) {
    ASSERT_EQ(run({"add", "eu-1"}), 0);
    EXPECT_EQ(run({"add", "eu-1"}), 1);
    EXPECT_NE(err.str().find("already named eu-1"), std::string::npos) << err.str();
    EXPECT_TRUE(out.str().empty()) << "a refused key was shown";
    ASSERT_EQ(run({"revoke", "eu-1"}), 0);
    EXPECT_EQ(run({"revoke", "eu-1"}), 1);
    EXPECT_NE(err.str().find("no game-server key is named eu-1"), std::string::npos) << err.str();
    ASSERT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(), "name\tcreated_at\n");
    EXPECT_EQ(run({"add", "eu-1"}), 0);
}

TEST_F(GameServerKeysCommand, MisuseIsRefusedWithUsage) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {"add"},
                                                      {"add", ""},
                                                      {"add", "EU-1"},
                                                      {"add", "eu 1"},
                                                      {"add", "eu/1"},
                                                      {"add", std::string(65, 'a')},
                                                      {"revoke", "Eu"},
                                                      {"list", "extra"},
                                                      {"rotate", "eu-1"}}) {
        SCOPED_TRACE(arguments.empty() ? "" : arguments.back());
        EXPECT_EQ(run(arguments), 2);
        EXPECT_FALSE(err.str().empty());
        EXPECT_TRUE(out.str().empty());
    }
    EXPECT_EQ(run({"add", std::string(64, 'a')}), 0) << "64 characters are allowed";
}

} // namespace
