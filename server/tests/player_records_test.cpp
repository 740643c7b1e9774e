// What the admins and game servers read and change of the player records, on a real database: bans, the
// changes feed (also under two writing instances), game-server keys and the Discord role queue.
#include "support/store_fixture.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <thread>

namespace {

constexpr Provider Steam = Provider::Steam;
constexpr Provider Discord = Provider::Discord;

std::vector<PlayerChange> changes(LinkStore& store, std::int64_t cursor, int limit = 100) {
    std::vector<PlayerChange> found;
    EXPECT_EQ(store.changesSince(cursor, limit, found), StoreResult::Ok);
    return found;
}

std::string describe(const PlayerChange& change) {
    return change.steamId + (change.linked ? " linked" : " unlinked") +
           " discord=" + change.discordId.value_or("-") + (change.banned ? " banned" : "");
}

std::vector<std::string> describeAll(const std::vector<PlayerChange>& found) {
    std::vector<std::string> lines;
    for (const PlayerChange& change : found)
        lines.push_back(describe(change));
    return lines;
}

TEST_F(StoreTest, BansNeedNoPairAndOutliveAnUnlink) {
    ASSERT_EQ(store->link(session("token-1"), Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->banPlayer(SteamB.id, "cheating", Now + 1), StoreResult::Ok);
    ASSERT_EQ(store->banPlayer(SteamA.id, "spam", Now + 2), StoreResult::Ok);
    ASSERT_EQ(store->banPlayer(SteamA.id, "spam, again", Now + 3), StoreResult::Ok);
    ASSERT_EQ(store->unlinkPlayer(SteamA.id, Now + 4), StoreResult::Ok);
    EXPECT_EQ(store->unlinkPlayer(SteamB.id, Now), StoreResult::NotFound) << "a ban is not a pair";

    PlayerRecord a, b, none;
    ASSERT_EQ(store->findPlayer(SteamA.id, a), StoreResult::Ok);
    EXPECT_FALSE(a.linked);
    EXPECT_TRUE(a.banned);
    EXPECT_EQ(a.banReason, "spam, again");
    EXPECT_EQ(a.bannedAt, Now + 2);
    ASSERT_EQ(store->findPlayer(SteamB.id, b), StoreResult::Ok);
    EXPECT_EQ(b.steam.displayName, "");
    EXPECT_EQ(b.banReason, "cheating");
    EXPECT_EQ(store->findPlayer("76561198000000009", none), StoreResult::NotFound);

    ASSERT_EQ(store->link(session("token-2"), Steam, SteamB, Now + 5, "launcher"), StoreResult::Banned);
    ASSERT_EQ(store->unbanPlayer(SteamB.id, Now + 6), StoreResult::Ok);
    EXPECT_EQ(store->unbanPlayer(SteamB.id, Now + 6), StoreResult::NotFound);
    EXPECT_EQ(store->findPlayer(SteamB.id, b), StoreResult::NotFound);
    ASSERT_EQ(store->link(view("token-2").id, Steam, SteamB, Now + 7, "launcher"), StoreResult::Ok);

    std::vector<PlayerRecord> players;
    ASSERT_EQ(store->listPlayers(players), StoreResult::Ok);
    ASSERT_EQ(players.size(), 2u);
    EXPECT_EQ(players[0].steam.id, SteamA.id);
    EXPECT_TRUE(players[0].banned && !players[0].linked);
    EXPECT_EQ(players[1].steam.id, SteamB.id);
    EXPECT_TRUE(players[1].linked && !players[1].banned);
}

// Each change lists the account again at the feed's end with its state as it is now.
TEST_F(StoreTest, TheFeedListsEachAccountsCurrentStateInCursorOrder) {
    const std::int64_t first = session("token-1");
    const std::int64_t second = session("token-2");
    ASSERT_EQ(store->link(first, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Steam, SteamB, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Discord, DiscordA, Now, "launcher"), StoreResult::Ok);
    using Lines = std::vector<std::string>;
    EXPECT_EQ(describeAll(changes(*store, 0)),
              (Lines{SteamA.id + " linked discord=-", SteamB.id + " linked discord=" + DiscordA.id}));
    const std::int64_t seen = changes(*store, 0).back().cursor;

    // Nothing a game server sees changes when another session signs in or a name is refreshed.
    ASSERT_EQ(store->link(session("token-3"), Steam, {SteamA.id, "Ana renamed"}, Now, "launcher"),
              StoreResult::Ok);
    EXPECT_TRUE(changes(*store, seen).empty());

    struct Case {
        const char* change;
        std::function<StoreResult()> make;
        Lines after; // the feed after the cursor seen before the change
    };
    const Case cases[] = {
        {"the Discord moves",
         [&] { return store->link(first, Discord, DiscordA, Now, "launcher"); },
         {SteamB.id + " linked discord=-", SteamA.id + " linked discord=" + DiscordA.id}},
        {"a ban",
         [&] { return store->banPlayer(SteamA.id, "cheating", Now); },
         {SteamA.id + " linked discord=" + DiscordA.id + " banned"}},
        {"an unlink",
         [&] { return store->unlinkPlayer(SteamA.id, Now); },
         {SteamA.id + " unlinked discord=- banned"}},
        {"an unban", [&] { return store->unbanPlayer(SteamA.id, Now); }, {SteamA.id + " unlinked discord=-"}},
        {"a ban without a pair",
         [&] { return store->banPlayer("76561198000000009", "alt", Now); },
         {"76561198000000009 unlinked discord=- banned"}},
    };
    std::int64_t cursor = seen;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_EQ(c.make(), StoreResult::Ok);
        const std::vector<PlayerChange> after = changes(*store, cursor);
        EXPECT_EQ(describeAll(after), c.after);
        for (std::size_t i = 1; i < after.size(); ++i)
            EXPECT_LT(after[i - 1].cursor, after[i].cursor);
        if (!after.empty())
            cursor = after.back().cursor;
    }
    // From the start, every account once, in the order of its last change.
    EXPECT_EQ(describeAll(changes(*store, 0)),
              (Lines{SteamB.id + " linked discord=-", SteamA.id + " unlinked discord=-",
                     "76561198000000009 unlinked discord=- banned"}));

    // Paging one at a time walks the same entries; the cursors go on after a restart.
    std::vector<std::string> paged;
    for (std::int64_t at = 0;;) {
        const std::vector<PlayerChange> page = changes(*store, at, 1);
        if (page.empty())
            break;
        ASSERT_EQ(page.size(), 1u);
        paged.push_back(describe(page[0]));
        at = page[0].cursor;
    }
    EXPECT_EQ(paged, describeAll(changes(*store, 0)));
    reopen();
    ASSERT_EQ(store->banPlayer(SteamB.id, "late", Now), StoreResult::Ok);
    EXPECT_EQ(describeAll(changes(*store, cursor)), (Lines{SteamB.id + " linked discord=-" + " banned"}));
    EXPECT_GT(changes(*store, cursor).front().cursor, cursor);
}

// Two instances write at once while a third reads the feed page by page. A cursor handed out to a write
// that commits after a later cursor was read would be passed for good; so each write here is the last of its
// account, and the reader must have seen every account in its final state.
TEST_F(StoreTest, AReaderPagingTheFeedMissesNoWriteOfTwoInstancesAtOnce) {
    const std::unique_ptr<LinkStore> banning = another();
    const std::unique_ptr<LinkStore> linking = another();
    ASSERT_TRUE(banning && linking);
    constexpr int Rounds = 100;
    auto account = [](int i) { return std::to_string(76561198000001000 + i); };
    std::atomic<int> running{2}, failed{0};
    std::thread bans([&] {
        for (int round = 0; round < Rounds; ++round)
            failed += banning->banPlayer(account(round), "x", Now) != StoreResult::Ok;
        --running;
    });
    // Pairs made with a Discord of their own, every other one unlinked again in its own transaction.
    std::thread links([&] {
        for (int round = Rounds; round < 2 * Rounds; ++round) {
            const std::string token = "linker-" + std::to_string(round);
            SessionView linker;
            const bool ok =
                linking->createSession(sha256Hex(token), Now, Now + 3600) == StoreResult::Ok &&
                linking->findSession(sha256Hex(token), Now, linker) == StoreResult::Ok &&
                linking->link(linker.id, Steam, {account(round), "player"}, Now, "launcher") ==
                    StoreResult::Ok &&
                linking->link(linker.id, Discord, {std::to_string(523456789012340000 + round), "p"}, Now,
                              "launcher") == StoreResult::Ok &&
                (round % 2 == 1 || linking->unlinkPlayer(account(round), Now) == StoreResult::Ok);
            failed += !ok;
        }
        --running;
    });
    std::map<std::string, PlayerChange> lastSeen;
    std::int64_t cursor = 0;
    auto readPage = [&] {
        const std::vector<PlayerChange> page = changes(*store, cursor, 3);
        for (const PlayerChange& change : page) {
            EXPECT_GT(change.cursor, cursor);
            cursor = change.cursor;
            lastSeen[change.steamId] = change;
        }
        return !page.empty();
    };
    while (running > 0)
        readPage();
    while (readPage()) {
    }
    bans.join();
    links.join();
    EXPECT_EQ(failed, 0);
    int missed = 0;
    for (int i = 0; i < 2 * Rounds; ++i) {
        const auto seen = lastSeen.find(account(i));
        const bool linked = i >= Rounds && i % 2 == 1;
        missed += seen == lastSeen.end() || seen->second.banned != (i < Rounds) ||
                  seen->second.linked != linked || seen->second.discordId.has_value() != linked;
    }
    EXPECT_EQ(missed, 0) << "accounts whose last change the reader never saw";
    EXPECT_EQ(lastSeen.size(), static_cast<std::size_t>(2 * Rounds));
}

TEST_F(StoreTest, GameServerKeysAreAddedOnceListedAndRevoked) {
    ASSERT_EQ(store->addGameServerKey({"eu-1", sha256Hex("key-1"), Now}), StoreResult::Ok);
    ASSERT_EQ(store->addGameServerKey({"classic.us", sha256Hex("key-2"), Now + 1}), StoreResult::Ok);
    EXPECT_EQ(store->addGameServerKey({"eu-1", sha256Hex("key-3"), Now + 2}), StoreResult::Conflict);
    std::vector<GameServerKey> keys;
    ASSERT_EQ(store->listGameServerKeys(keys), StoreResult::Ok);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].name, "classic.us");
    EXPECT_EQ(keys[0].keyHash, sha256Hex("key-2"));
    EXPECT_EQ(keys[0].createdAt, Now + 1);
    EXPECT_EQ(keys[1].keyHash, sha256Hex("key-1")) << "the refused key replaced the first";

    EXPECT_EQ(store->revokeGameServerKey("eu-1"), StoreResult::Ok);
    EXPECT_EQ(store->revokeGameServerKey("eu-1"), StoreResult::NotFound);
    ASSERT_EQ(store->listGameServerKeys(keys), StoreResult::Ok);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].name, "classic.us");
    EXPECT_EQ(store->addGameServerKey({"eu-1", sha256Hex("key-3"), Now + 3}), StoreResult::Ok);
}

// Every queued task, each finished once taken: "add ID" / "remove ID" in queue order.
std::vector<std::string> drainRoleTasks(LinkStore& store) {
    std::vector<std::string> done;
    for (std::vector<RoleTask> tasks;
         store.takeRoleTasks(Now, Now + 60, 100, tasks) == StoreResult::Ok && !tasks.empty();)
        for (const RoleTask& task : tasks) {
            done.push_back((task.add ? "add " : "remove ") + task.discordId);
            EXPECT_EQ(store.finishRoleTask(task.id), StoreResult::Ok);
        }
    return done;
}

TEST_F(StoreTest, RoleTasksAreQueuedWithTheChangesThatCallForThemOnlyWhenAsked) {
    const std::int64_t a = session("token-a");
    const std::int64_t b = session("token-b");
    ASSERT_EQ(store->link(a, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(a, Discord, DiscordA, Now, "launcher"), StoreResult::Ok);
    EXPECT_TRUE(drainRoleTasks(*store).empty()) << "queued while off";

    store->queueRoleChanges(true);
    const LinkedAccount discordC{"323456789012345678", "cy"};
    using Lines = std::vector<std::string>;
    struct Case {
        const char* change;
        std::function<StoreResult()> make;
        Lines queued;
    };
    const Case cases[] = {
        {"a pair gains a Discord",
         [&] {
             const StoreResult steam = store->link(b, Steam, SteamB, Now, "launcher");
             return steam == StoreResult::Ok ? store->link(b, Discord, DiscordB, Now, "launcher") : steam;
         },
         {"add " + DiscordB.id}},
        {"the same Discord again", [&] { return store->link(b, Discord, DiscordB, Now, "launcher"); }, {}},
        {"a replaced Discord",
         [&] { return store->link(b, Discord, discordC, Now, "launcher"); },
         {"remove " + DiscordB.id, "add " + discordC.id}},
        {"a moved Discord",
         [&] { return store->link(b, Discord, DiscordA, Now, "launcher"); },
         {"remove " + DiscordA.id, "remove " + discordC.id, "add " + DiscordA.id}},
        {"a ban", [&] { return store->banPlayer(SteamB.id, "cheating", Now); }, {"remove " + DiscordA.id}},
        {"an unban", [&] { return store->unbanPlayer(SteamB.id, Now); }, {"add " + DiscordA.id}},
        {"an unlink", [&] { return store->unlinkPlayer(SteamB.id, Now); }, {"remove " + DiscordA.id}},
        {"a ban of a pair without Discord", [&] { return store->banPlayer(SteamA.id, "spam", Now); }, {}},
        {"a Discord before Steam",
         [&] { return store->link(session("token-c"), Discord, discordC, Now, "launcher"); },
         {}},
        {"that Discord joining the new pair",
         [&] {
             return store->link(view("token-c").id, Steam, {"76561198000000003", "Cy"}, Now, "launcher");
         },
         {"add " + discordC.id}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        ASSERT_EQ(c.make(), StoreResult::Ok);
        EXPECT_EQ(drainRoleTasks(*store), c.queued);
    }
    store->queueRoleChanges(false);
    ASSERT_EQ(store->unlinkPlayer("76561198000000003", Now), StoreResult::Ok);
    EXPECT_TRUE(drainRoleTasks(*store).empty());
}

TEST_F(StoreTest, RoleTasksAreLeasedRetriedInOrderPerMemberAndFinished) {
    store->queueRoleChanges(true);
    const std::int64_t a = session("token-a");
    const std::int64_t b = session("token-b");
    ASSERT_EQ(store->link(a, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(a, Discord, DiscordA, Now, "launcher"), StoreResult::Ok); // add A
    ASSERT_EQ(store->link(b, Steam, SteamB, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(b, Discord, DiscordB, Now, "launcher"), StoreResult::Ok); // add B
    ASSERT_EQ(store->banPlayer(SteamA.id, "cheating", Now), StoreResult::Ok);       // remove A

    auto take = [&](std::int64_t at, std::int64_t leaseUntil, int limit) {
        std::vector<RoleTask> tasks;
        EXPECT_EQ(store->takeRoleTasks(at, leaseUntil, limit, tasks), StoreResult::Ok);
        std::vector<std::string> lines;
        for (const RoleTask& task : tasks)
            lines.push_back((task.add ? "add " : "remove ") + task.discordId + " #" +
                            std::to_string(task.attempts));
        return std::make_pair(tasks, lines);
    };
    using Lines = std::vector<std::string>;
    auto [first, firstLines] = take(Now, Now + 30, 1);
    EXPECT_EQ(firstLines, (Lines{"add " + DiscordA.id + " #0"})) << "oldest first";
    auto [second, secondLines] = take(Now, Now + 30, 10);
    EXPECT_EQ(secondLines, (Lines{"add " + DiscordB.id + " #0"})) << "the taken one is leased, and "
                                                                     "removing A waits for adding A";
    EXPECT_TRUE(take(Now + 29, Now + 60, 10).second.empty());

    ASSERT_EQ(store->retryRoleTask(first[0].id, Now + 100), StoreResult::Ok);
    EXPECT_EQ(take(Now + 30, Now + 200, 10).second, (Lines{"add " + DiscordB.id + " #0"}))
        << "its lease ran out";
    EXPECT_TRUE(take(Now + 99, Now + 200, 10).second.empty())
        << "A's retry is not due, nor may its remove pass";
    EXPECT_EQ(take(Now + 100, Now + 130, 10).second, (Lines{"add " + DiscordA.id + " #1"}));
    ASSERT_EQ(store->finishRoleTask(first[0].id), StoreResult::Ok);
    EXPECT_EQ(take(Now + 100, Now + 130, 10).second, (Lines{"remove " + DiscordA.id + " #0"}));
    EXPECT_EQ(store->finishRoleTask(first[0].id), StoreResult::NotFound);
    EXPECT_EQ(store->retryRoleTask(first[0].id, Now), StoreResult::NotFound);

    // Two instances taking at once: each task goes to one of them.
    const std::unique_ptr<LinkStore> other = another();
    ASSERT_TRUE(other);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(store->link(b, Discord, {std::to_string(523456789012345670 + i), "n"}, Now, "launcher"),
                  StoreResult::Ok);
    // Each finishes what it took, which frees the member's next task for either of them.
    constexpr std::size_t Queued = 42; // the two still queued, and each replacement's remove and add
    std::vector<std::int64_t> taken[2];
    std::atomic<std::size_t> total{0};
    auto takeAll = [&](LinkStore& instance, std::vector<std::int64_t>& ids) {
        for (int attempt = 0; attempt < 2000 && total < Queued; ++attempt) {
            std::vector<RoleTask> tasks;
            if (instance.takeRoleTasks(Now + 500, Now + 1000, 1, tasks) != StoreResult::Ok)
                continue;
            for (const RoleTask& task : tasks) {
                ids.push_back(task.id);
                ++total;
                instance.finishRoleTask(task.id);
            }
        }
    };
    std::thread one(takeAll, std::ref(*store), std::ref(taken[0]));
    std::thread two(takeAll, std::ref(*other), std::ref(taken[1]));
    one.join();
    two.join();
    std::vector<std::int64_t> all = taken[0];
    all.insert(all.end(), taken[1].begin(), taken[1].end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a task was handed out twice";
    EXPECT_EQ(all.size(), Queued);
}

} // namespace
