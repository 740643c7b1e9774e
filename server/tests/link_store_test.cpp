// The store on a real database (SQLite, or PostgreSQL under with-postgres.sh): sessions and their expiry,
// single-use states, accounts that move between sessions, logout, and what survives a restart.
#include "storage/link_store.h"
#include "storage/secrets.h"
#include "storage/migrations.h"
#include "storage/sql_connection.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr std::int64_t Now = 1'800'000'000;
const LinkedAccount SteamA{"76561198000000001", "Ana"};
const LinkedAccount SteamB{"76561198000000002", "Bea"};
const LinkedAccount DiscordA{"123456789012345678", "ana#1"};

struct StoreTest : ::testing::Test {
    TempFolder folder;
    std::string database;
    std::unique_ptr<LinkStore> store;
    void SetUp() override {
        database = freshTestDatabase(folder);
        reopen();
    }
    void reopen() {
        store.reset();
        std::string error;
        store = openLinkStore(database, error);
        ASSERT_TRUE(store) << error;
    }
    std::int64_t session(const std::string& token, std::int64_t expiresAt = Now + 3600) {
        EXPECT_EQ(store->createSession(sha256Hex(token), Now, expiresAt), StoreResult::Ok);
        SessionView view;
        EXPECT_EQ(store->findSession(sha256Hex(token), Now, view), StoreResult::Ok);
        return view.id;
    }
    SessionView view(const std::string& token, std::int64_t at = Now) {
        SessionView found;
        store->findSession(sha256Hex(token), at, found);
        return found;
    }
};

TEST_F(StoreTest, SessionsLiveUntilTheirExpiryAndRenewalMovesIt) {
    const std::int64_t id = session("token-1", Now + 100);
    SessionView found;
    EXPECT_EQ(store->findSession(sha256Hex("token-1"), Now + 99, found), StoreResult::Ok);
    EXPECT_EQ(found.expiresAt, Now + 100);
    EXPECT_EQ(store->findSession(sha256Hex("token-1"), Now + 100, found), StoreResult::NotFound);
    EXPECT_EQ(store->findSession(sha256Hex("token-2"), Now, found), StoreResult::NotFound);
    EXPECT_EQ(store->renewSession(id, Now + 500), StoreResult::Ok);
    EXPECT_EQ(store->findSession(sha256Hex("token-1"), Now + 400, found), StoreResult::Ok);
    // The same hash twice would make two players share one session.
    EXPECT_EQ(store->createSession(sha256Hex("token-1"), Now, Now + 100), StoreResult::Failed);
}

TEST_F(StoreTest, StatesAreSingleUseBoundToSessionAndProviderAndExpire) {
    const std::int64_t id = session("token-1");
    const std::int64_t other = session("token-2");
    struct Case {
        const char* state;
        std::int64_t sessionId;
        Provider issuedFor;
        std::int64_t expiresAt;
        Provider askedFor;
        std::int64_t at;
        StoreResult expected;
    };
    const Case cases[] = {
        {"fresh", id, Provider::Steam, Now + 600, Provider::Steam, Now + 599, StoreResult::Ok},
        {"expired", id, Provider::Steam, Now + 600, Provider::Steam, Now + 600, StoreResult::NotFound},
        {"other provider", id, Provider::Discord, Now + 600, Provider::Steam, Now, StoreResult::NotFound},
        {"other session", other, Provider::Discord, Now + 600, Provider::Discord, Now, StoreResult::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        ASSERT_EQ(store->createState(sha256Hex(c.state), c.sessionId, c.issuedFor, c.expiresAt),
                  StoreResult::Ok);
        std::int64_t owner = 0;
        EXPECT_EQ(store->consumeState(sha256Hex(c.state), c.askedFor, c.at, owner), c.expected);
        if (c.expected == StoreResult::Ok) {
            EXPECT_EQ(owner, c.sessionId);
        }
        // Used or refused, it never works again, not even for the right provider in time.
        EXPECT_EQ(store->consumeState(sha256Hex(c.state), c.issuedFor, Now, owner), StoreResult::NotFound);
    }
    ASSERT_EQ(store->createState(sha256Hex("orphan"), other, Provider::Steam, Now + 600), StoreResult::Ok);
    ASSERT_EQ(store->revokeSession(other), StoreResult::Ok);
    std::int64_t owner = 0;
    EXPECT_EQ(store->consumeState(sha256Hex("orphan"), Provider::Steam, Now, owner), StoreResult::NotFound);
}

TEST_F(StoreTest, AnAccountBelongsToOneSessionAndMovesWhenProvedAgain) {
    const std::int64_t first = session("token-1");
    const std::int64_t second = session("token-2");
    ASSERT_EQ(store->link(first, Provider::Steam, SteamA, Now), StoreResult::Ok);
    ASSERT_EQ(store->link(first, Provider::Discord, DiscordA, Now), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Provider::Steam, SteamA, Now + 1), StoreResult::Ok);
    EXPECT_FALSE(view("token-1").steam);
    ASSERT_TRUE(view("token-2").steam);
    EXPECT_EQ(view("token-2").steam->id, SteamA.id);
    // The Discord account stays where it was proved.
    ASSERT_TRUE(view("token-1").discord);
    EXPECT_EQ(view("token-1").discord->id, DiscordA.id);

    // Another Steam account for a session that holds one is refused with nothing changed; the same one
    // again only refreshes its name.
    EXPECT_EQ(store->link(second, Provider::Steam, SteamB, Now), StoreResult::Conflict);
    EXPECT_EQ(view("token-2").steam->id, SteamA.id);
    ASSERT_EQ(store->link(second, Provider::Steam, {SteamA.id, "Ana renamed"}, Now), StoreResult::Ok);
    EXPECT_EQ(view("token-2").steam->displayName, "Ana renamed");
    ASSERT_EQ(store->link(first, Provider::Steam, SteamB, Now), StoreResult::Ok);
    EXPECT_EQ(view("token-1").steam->id, SteamB.id);
}

TEST_F(StoreTest, LogoutAndExpiryReleaseTheLinks) {
    const std::int64_t first = session("token-1");
    const std::int64_t second = session("token-2", Now + 10);
    ASSERT_EQ(store->link(first, Provider::Steam, SteamA, Now), StoreResult::Ok);
    ASSERT_EQ(store->link(first, Provider::Discord, DiscordA, Now), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Provider::Steam, SteamB, Now), StoreResult::Ok);
    PlayerRecord player;
    ASSERT_EQ(store->findPlayer(SteamA.id, player), StoreResult::Ok);
    ASSERT_TRUE(player.discord);
    EXPECT_EQ(player.discord->id, DiscordA.id);

    ASSERT_EQ(store->revokeSession(first), StoreResult::Ok);
    EXPECT_EQ(store->findPlayer(SteamA.id, player), StoreResult::NotFound);
    EXPECT_EQ(view("token-1").id, 0);
    // The account is free again: a new session takes it without a conflict.
    const std::int64_t third = session("token-3");
    EXPECT_EQ(store->link(third, Provider::Discord, DiscordA, Now), StoreResult::Ok);

    ASSERT_EQ(store->removeExpired(Now + 10), StoreResult::Ok);
    EXPECT_EQ(store->findPlayer(SteamB.id, player), StoreResult::NotFound);
    EXPECT_EQ(view("token-3").discord->id, DiscordA.id);
}

TEST_F(StoreTest, AdminUnlinkReleasesBothAccountsAndKeepsTheSession) {
    const std::int64_t id = session("token-1");
    ASSERT_EQ(store->link(id, Provider::Steam, SteamA, Now), StoreResult::Ok);
    ASSERT_EQ(store->link(id, Provider::Discord, DiscordA, Now), StoreResult::Ok);
    std::vector<PlayerRecord> players;
    ASSERT_EQ(store->listPlayers(players), StoreResult::Ok);
    ASSERT_EQ(players.size(), 1u);
    EXPECT_EQ(players[0].steam.displayName, SteamA.displayName);
    EXPECT_EQ(store->unlinkPlayer(SteamA.id), StoreResult::Ok);
    EXPECT_EQ(store->unlinkPlayer(SteamA.id), StoreResult::NotFound);
    const SessionView after = view("token-1");
    EXPECT_EQ(after.id, id);
    EXPECT_FALSE(after.steam);
    EXPECT_FALSE(after.discord);
}

TEST_F(StoreTest, NoncesAreRememberedUntilTheirExpiry) {
    EXPECT_TRUE(store->remember("2026-12-10T20:00:00Zabc", Now + 300));
    EXPECT_FALSE(store->remember("2026-12-10T20:00:00Zabc", Now + 300));
    EXPECT_TRUE(store->remember("2026-12-10T20:00:00Zabd", Now + 300));
    ASSERT_EQ(store->removeExpired(Now + 299), StoreResult::Ok);
    EXPECT_FALSE(store->remember("2026-12-10T20:00:00Zabc", Now + 300));
    ASSERT_EQ(store->removeExpired(Now + 300), StoreResult::Ok);
    EXPECT_TRUE(store->remember("2026-12-10T20:00:00Zabc", Now + 300));
}

TEST_F(StoreTest, ARestartKeepsSessionsLinksStatesAndNonces) {
    const std::int64_t id = session("token-1");
    ASSERT_EQ(store->link(id, Provider::Steam, SteamA, Now), StoreResult::Ok);
    ASSERT_EQ(store->createState(sha256Hex("state"), id, Provider::Discord, Now + 600), StoreResult::Ok);
    ASSERT_TRUE(store->remember("nonce", Now + 300));
    reopen();
    ASSERT_TRUE(view("token-1").steam);
    EXPECT_EQ(view("token-1").steam->id, SteamA.id);
    std::int64_t owner = 0;
    EXPECT_EQ(store->consumeState(sha256Hex("state"), Provider::Discord, Now, owner), StoreResult::Ok);
    EXPECT_FALSE(store->remember("nonce", Now + 300));
}

TEST_F(StoreTest, TheSchemaIsMigratedOnceAndANewerOneIsRefused) {
    const std::int64_t id = session("token-1");
    ASSERT_EQ(store->link(id, Provider::Steam, SteamA, Now), StoreResult::Ok);
    reopen(); // the migrations find nothing left to do and keep the rows
    EXPECT_EQ(view("token-1").steam->id, SteamA.id);

    store.reset();
    ASSERT_TRUE(runRawSql(database, "INSERT INTO schema_migrations (version, applied_at) VALUES (" +
                                        std::to_string(latestSchemaVersion() + 1) + ", 0)"));
    std::string error;
    EXPECT_FALSE(openLinkStore(database, error));
    EXPECT_NE(error.find("newer than this program"), std::string::npos) << error;
    ASSERT_TRUE(runRawSql(database, "DELETE FROM schema_migrations WHERE version > " +
                                        std::to_string(latestSchemaVersion())));
    reopen();
    EXPECT_EQ(view("token-1").steam->id, SteamA.id);
}

// Instances started together on an empty database: one applies the migrations, the others wait for it.
TEST_F(StoreTest, InstancesStartingTogetherOnAnEmptyDatabaseAllOpenIt) {
    store.reset();
    database = freshTestDatabase(folder);
    if (!testsUsePostgres())
        std::remove(database.c_str()); // SetUp made it already
    constexpr int Instances = 4;
    std::unique_ptr<LinkStore> opened[Instances];
    std::string errors[Instances];
    std::vector<std::thread> starts;
    for (int i = 0; i < Instances; ++i)
        starts.emplace_back([&, i] { opened[i] = openLinkStore(database, errors[i]); });
    for (std::thread& start : starts)
        start.join();
    for (int i = 0; i < Instances; ++i)
        EXPECT_TRUE(opened[i]) << errors[i];
    reopen();
    EXPECT_NE(session("token-1"), 0);
}

// A SQLite file made before the schema had numbered migrations: its rows are kept and it is brought up
// to date in place.
TEST_F(StoreTest, AFileFromBeforeTheMigrationsIsTakenOver) {
    if (testsUsePostgres())
        GTEST_SKIP() << "PostgreSQL came with the migrations";
    store.reset();
    const std::string old = folder.file("old.sqlite3");
    ASSERT_TRUE(
        runRawSql(old, "CREATE TABLE sessions (id INTEGER PRIMARY KEY, token_hash TEXT NOT NULL UNIQUE, "
                       "created_at INTEGER NOT NULL, expires_at INTEGER NOT NULL);"
                       "CREATE TABLE links (provider TEXT NOT NULL, account_id TEXT NOT NULL, "
                       "display_name TEXT NOT NULL, session_id INTEGER NOT NULL REFERENCES sessions (id) "
                       "ON DELETE CASCADE, linked_at INTEGER NOT NULL, PRIMARY KEY (provider, account_id), "
                       "UNIQUE (session_id, provider));"
                       "INSERT INTO sessions VALUES (7, '" +
                           sha256Hex("token-1") + "', 1, " + std::to_string(Now + 3600) +
                           ");"
                           "INSERT INTO links VALUES ('steam', '" +
                           SteamA.id + "', 'Ana', 7, 1)"));
    database = old;
    reopen();
    EXPECT_EQ(view("token-1").id, 7);
    ASSERT_TRUE(view("token-1").steam);
    EXPECT_EQ(view("token-1").steam->id, SteamA.id);
    EXPECT_TRUE(store->remember("nonce", Now + 300));
    std::int64_t version = 0;
    std::string error;
    connectSqlite(old, error)->run("SELECT MAX(version) FROM schema_migrations", {}, [&](const SqlRow& row) {
        version = row.integer(0);
    });
    EXPECT_EQ(version, latestSchemaVersion());
}

// Two instances share one database: what one spends, the other cannot spend again, even at once.
TEST_F(StoreTest, AnotherInstanceSeesTheSessionsAndCannotReuseAStateOrNonce) {
    std::string error;
    const std::unique_ptr<LinkStore> other = openLinkStore(database, error);
    ASSERT_TRUE(other) << error;
    const std::int64_t id = session("token-1");
    SessionView seen;
    ASSERT_EQ(other->findSession(sha256Hex("token-1"), Now, seen), StoreResult::Ok);
    EXPECT_EQ(seen.id, id);
    EXPECT_TRUE(store->remember("nonce-1", Now + 300));
    EXPECT_FALSE(other->remember("nonce-1", Now + 300));

    constexpr int States = 40;
    for (int i = 0; i < States; ++i)
        ASSERT_EQ(store->createState(sha256Hex("state-" + std::to_string(i)), id, Provider::Steam, Now + 600),
                  StoreResult::Ok);
    int spent[2] = {0, 0};
    auto spendAll = [&](LinkStore& instance, int& count) {
        for (int i = 0; i < States; ++i) {
            std::int64_t owner = 0;
            if (instance.consumeState(sha256Hex("state-" + std::to_string(i)), Provider::Steam, Now, owner) ==
                StoreResult::Ok)
                ++count;
        }
    };
    std::thread first(spendAll, std::ref(*store), std::ref(spent[0]));
    std::thread second(spendAll, std::ref(*other), std::ref(spent[1]));
    first.join();
    second.join();
    EXPECT_EQ(spent[0] + spent[1], States);
}

// Players proving the same account on two instances at once: each proof moves it, none fails, and it
// ends in exactly one session.
TEST_F(StoreTest, AnAccountProvedOnTwoInstancesAtOnceEndsInOneSession) {
    std::string error;
    const std::unique_ptr<LinkStore> other = openLinkStore(database, error);
    ASSERT_TRUE(other) << error;
    constexpr int Rounds = 30;
    std::vector<std::int64_t> sessions;
    for (int i = 0; i < 4; ++i)
        sessions.push_back(session("token-" + std::to_string(i)));
    int failed = 0;
    std::mutex lock;
    auto prove = [&](LinkStore& instance, int first) {
        for (int round = 0; round < Rounds; ++round) {
            const StoreResult result = instance.link(sessions[(first + round) % sessions.size()],
                                                     Provider::Steam, SteamA, Now + round);
            std::lock_guard guard(lock);
            failed += result != StoreResult::Ok;
        }
    };
    std::thread a(prove, std::ref(*store), 0);
    std::thread b(prove, std::ref(*other), 1);
    a.join();
    b.join();
    EXPECT_EQ(failed, 0);
    int holders = 0;
    for (int i = 0; i < 4; ++i)
        holders += view("token-" + std::to_string(i)).steam.has_value();
    EXPECT_EQ(holders, 1);
}

TEST(Secrets, TokensAreFreshUrlSafeAndHashesAreNotTheToken) {
    std::string a, b;
    ASSERT_TRUE(newRandomToken(a));
    ASSERT_TRUE(newRandomToken(b));
    EXPECT_NE(a, b);
    EXPECT_EQ(a.size(), 43u);
    EXPECT_EQ(a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos);
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_TRUE(sameSecret("same", "same"));
    EXPECT_FALSE(sameSecret("same", "samE"));
    EXPECT_FALSE(sameSecret("same", "same "));
}

} // namespace
