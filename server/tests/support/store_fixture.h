#pragma once
// A link store on a fresh test database (support/test_database.h), with the accounts the storage tests use.
#include "storage/link_store.h"
#include "storage/secrets.h"
#include "support/test_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

constexpr std::int64_t Now = 1'800'000'000;
const LinkedAccount SteamA{"76561198000000001", "Ana"};
const LinkedAccount SteamB{"76561198000000002", "Bea"};
const LinkedAccount DiscordA{"123456789012345678", "ana#1"};
const LinkedAccount DiscordB{"223456789012345678", "bea#1"};

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
        store = another();
        ASSERT_TRUE(store);
    }
    // An empty database again, for the next case of a table.
    void startOver() {
        store.reset();
        if (!testsUsePostgres())
            for (const char* suffix : {"", "-wal", "-shm"})
                std::filesystem::remove(database + suffix);
        database = freshTestDatabase(folder);
        reopen();
    }
    // Another instance on the same database.
    std::unique_ptr<LinkStore> another() {
        std::string error;
        std::unique_ptr<LinkStore> opened = openLinkStore(database, error);
        EXPECT_TRUE(opened) << error;
        return opened;
    }
    std::int64_t session(const std::string& token, std::int64_t expiresAt = Now + 3600) {
        EXPECT_EQ(store->createSession(sha256Hex(token), Now, expiresAt), StoreResult::Ok);
        return view(token).id;
    }
    // Id 0 when the session is not found.
    SessionView view(const std::string& token, std::int64_t at = Now) {
        SessionView found;
        store->findSession(sha256Hex(token), at, found);
        return found;
    }
    std::string steamOf(const std::string& token) {
        const SessionView found = view(token);
        return found.steam ? found.steam->id : "-";
    }
    std::string discordOf(const std::string& token) {
        const SessionView found = view(token);
        return found.discord ? found.discord->id : "-";
    }
    // "-" when the pair has none; "none" when there is no record at all.
    std::string pairDiscord(const std::string& steamId) {
        PlayerRecord player;
        if (store->findPlayer(steamId, player) != StoreResult::Ok || !player.linked)
            return "none";
        return player.discord ? player.discord->id : "-";
    }
};
