// The store on a real database (SQLite, or PostgreSQL under with-postgres.sh): sessions and their expiry,
// single-use states and confirmations, pairs that outlive sessions, Discord accounts that move between
// pairs, and two instances writing at once.
#include "support/store_fixture.h"

#include <map>
#include <mutex>
#include <thread>

namespace {

constexpr Provider Steam = Provider::Steam;
constexpr Provider Discord = Provider::Discord;

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
        {"fresh", id, Steam, Now + 600, Steam, Now + 599, StoreResult::Ok},
        {"expired", id, Steam, Now + 600, Steam, Now + 600, StoreResult::NotFound},
        {"other provider", id, Discord, Now + 600, Steam, Now, StoreResult::NotFound},
        {"other session", other, Discord, Now + 600, Discord, Now, StoreResult::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        const StateRecord made{
            c.sessionId, c.issuedFor, "203.0.113.0/24",
            Now - 5,     c.expiresAt, c.issuedFor == Discord ? "verifier-of-" + std::string(c.state) : ""};
        ASSERT_EQ(store->createState(sha256Hex(c.state), made), StoreResult::Ok);
        StateRecord consumed;
        EXPECT_EQ(store->consumeState(sha256Hex(c.state), c.askedFor, c.at, consumed), c.expected);
        if (c.expected == StoreResult::Ok) {
            EXPECT_EQ(consumed.sessionId, made.sessionId);
            EXPECT_EQ(consumed.provider, made.provider);
            EXPECT_EQ(consumed.network, made.network);
            EXPECT_EQ(consumed.createdAt, made.createdAt);
            EXPECT_EQ(consumed.expiresAt, made.expiresAt);
            EXPECT_EQ(consumed.verifier, made.verifier);
        }
        // Used or refused, it never works again, not even for the right provider in time.
        EXPECT_EQ(store->consumeState(sha256Hex(c.state), c.issuedFor, Now, consumed), StoreResult::NotFound);
    }
    ASSERT_EQ(store->createState(sha256Hex("orphan"), {other, Steam, "", Now, Now + 600, ""}),
              StoreResult::Ok);
    ASSERT_EQ(store->revokeSession(other), StoreResult::Ok);
    StateRecord consumed;
    EXPECT_EQ(store->consumeState(sha256Hex("orphan"), Steam, Now, consumed), StoreResult::NotFound);
}

TEST_F(StoreTest, ConfirmationsAreSingleUseAndLastNoLongerThanTheirStateAndSession) {
    const std::int64_t id = session("token-1");
    const std::int64_t leaving = session("token-2");
    struct Case {
        const char* token;
        std::int64_t sessionId;
        std::int64_t at;
        StoreResult expected;
    };
    const Case cases[] = {
        {"in time", id, Now + 299, StoreResult::Ok},
        {"expired", id, Now + 300, StoreResult::NotFound},
        {"signed out", leaving, Now, StoreResult::NotFound},
    };
    for (const Case& c : cases)
        ASSERT_EQ(store->createConfirmation(sha256Hex(c.token),
                                            {c.sessionId, Discord, DiscordA, Now - 20, Now + 300}),
                  StoreResult::Ok);
    ASSERT_EQ(store->revokeSession(leaving), StoreResult::Ok);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.token);
        PendingLink pending;
        EXPECT_EQ(store->consumeConfirmation(sha256Hex(c.token), c.at, pending), c.expected);
        if (c.expected == StoreResult::Ok) {
            EXPECT_EQ(pending.sessionId, id);
            EXPECT_EQ(pending.provider, Discord);
            EXPECT_EQ(pending.account.id, DiscordA.id);
            EXPECT_EQ(pending.account.displayName, DiscordA.displayName);
            EXPECT_EQ(pending.requestedAt, Now - 20);
            EXPECT_EQ(pending.expiresAt, Now + 300);
        }
        EXPECT_EQ(store->consumeConfirmation(sha256Hex(c.token), Now, pending), StoreResult::NotFound);
    }
}

// Signing out and expiry forget a session, never its pair; the next session proving the Steam account
// finds the pair as it was.
TEST_F(StoreTest, PairsOutliveSignOutAndExpiryAndANewSessionAdoptsThem) {
    const std::int64_t first = session("token-1");
    const std::int64_t second = session("token-2", Now + 10);
    ASSERT_EQ(store->link(first, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(first, Discord, DiscordA, Now + 2, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Steam, SteamB, Now + 1, "confirmed"), StoreResult::Ok);
    ASSERT_EQ(store->revokeSession(first), StoreResult::Ok);
    ASSERT_EQ(store->removeExpired(Now + 10), StoreResult::Ok);
    EXPECT_EQ(view("token-1").id, 0);
    EXPECT_EQ(view("token-2", Now + 5).id, 0);

    PlayerRecord a, b;
    ASSERT_EQ(store->findPlayer(SteamA.id, a), StoreResult::Ok);
    EXPECT_TRUE(a.linked);
    EXPECT_EQ(a.steam.displayName, SteamA.displayName);
    ASSERT_TRUE(a.discord);
    EXPECT_EQ(a.discord->displayName, DiscordA.displayName);
    EXPECT_EQ(a.linkedAt, Now);
    EXPECT_EQ(a.discordLinkedAt, Now + 2);
    EXPECT_EQ(a.how, "launcher");
    ASSERT_EQ(store->findPlayer(SteamB.id, b), StoreResult::Ok);
    EXPECT_EQ(b.how, "confirmed");
    EXPECT_FALSE(b.discord);
    EXPECT_EQ(b.discordLinkedAt, 0);

    const std::int64_t third = session("token-3");
    ASSERT_EQ(store->link(third, Steam, SteamA, Now + 50, "confirmed"), StoreResult::Ok);
    const SessionView adopted = view("token-3");
    ASSERT_TRUE(adopted.steam);
    EXPECT_EQ(adopted.steam->id, SteamA.id);
    ASSERT_TRUE(adopted.discord);
    EXPECT_EQ(adopted.discord->id, DiscordA.id);
    EXPECT_FALSE(adopted.banned);
    ASSERT_EQ(store->findPlayer(SteamA.id, a), StoreResult::Ok);
    EXPECT_EQ(a.linkedAt, Now) << "the pair was made again";
    EXPECT_EQ(a.how, "launcher");

    StoreCounts counts;
    ASSERT_EQ(store->count(Now + 20, counts), StoreResult::Ok);
    EXPECT_EQ(counts.sessions, 1);
    EXPECT_EQ(counts.links, 2);
}

TEST_F(StoreTest, SeveralSessionsSignInToOnePairAndShareItsDiscord) {
    const char* const tokens[] = {"pc-1", "pc-2", "pc-3"};
    for (const char* token : tokens)
        ASSERT_EQ(store->link(session(token), Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(view("pc-2").id, Discord, DiscordA, Now, "launcher"), StoreResult::Ok);
    for (const char* token : tokens)
        EXPECT_EQ(discordOf(token), DiscordA.id) << token;
    ASSERT_EQ(store->link(view("pc-3").id, Discord, DiscordB, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(view("pc-1").id, Steam, {SteamA.id, "Ana renamed"}, Now, "launcher"),
              StoreResult::Ok);
    for (const char* token : tokens) {
        EXPECT_EQ(discordOf(token), DiscordB.id) << token;
        EXPECT_EQ(view(token).steam->displayName, "Ana renamed") << token;
    }
    std::vector<PlayerRecord> players;
    ASSERT_EQ(store->listPlayers(players), StoreResult::Ok);
    EXPECT_EQ(players.size(), 1u);
}

struct Step {
    const char* token;
    Provider provider;
    LinkedAccount account;
};

// Where each Discord account ends: one holder at most, a pair's proof winning over a mere claim.
TEST_F(StoreTest, DiscordAccountsMoveToThePairThatProvesThem) {
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::map<std::string, std::string> pairDiscords;    // Steam id -> Discord id, "-" for none
        std::map<std::string, std::string> sessionDiscords; // token -> what the session shows
    };
    const Case cases[] = {
        {"another pair takes it",
         {{"1", Steam, SteamA}, {"1", Discord, DiscordA}, {"2", Steam, SteamB}, {"2", Discord, DiscordA}},
         {{SteamA.id, "-"}, {SteamB.id, DiscordA.id}},
         {{"1", "-"}, {"2", DiscordA.id}}},
        {"a new one replaces the pair's",
         {{"1", Steam, SteamA}, {"1", Discord, DiscordA}, {"1", Discord, DiscordB}},
         {{SteamA.id, DiscordB.id}},
         {{"1", DiscordB.id}}},
        {"proven before Steam, it joins the new pair",
         {{"1", Discord, DiscordA}, {"1", Steam, SteamA}},
         {{SteamA.id, DiscordA.id}},
         {{"1", DiscordA.id}}},
        {"proven before Steam, it joins an existing pair without one",
         {{"1", Steam, SteamA}, {"2", Discord, DiscordA}, {"2", Steam, SteamA}},
         {{SteamA.id, DiscordA.id}},
         {{"1", DiscordA.id}, {"2", DiscordA.id}}},
        {"the pair keeps its own over a claim",
         {{"1", Steam, SteamA}, {"1", Discord, DiscordA}, {"2", Discord, DiscordB}, {"2", Steam, SteamA}},
         {{SteamA.id, DiscordA.id}},
         {{"2", DiscordA.id}}},
        {"a claim moves to the session proving it last",
         {{"1", Discord, DiscordA}, {"2", Discord, DiscordA}},
         {},
         {{"1", "-"}, {"2", DiscordA.id}}},
        {"a pair's proof drops another session's claim",
         {{"1", Discord, DiscordA}, {"2", Steam, SteamB}, {"2", Discord, DiscordA}, {"1", Steam, SteamA}},
         {{SteamA.id, "-"}, {SteamB.id, DiscordA.id}},
         {{"1", "-"}, {"2", DiscordA.id}}},
        {"a claim leaves the pairs alone until Steam is proven",
         {{"1", Steam, SteamA}, {"1", Discord, DiscordA}, {"2", Discord, DiscordA}},
         {{SteamA.id, DiscordA.id}},
         {{"1", DiscordA.id}, {"2", DiscordA.id}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startOver();
        for (const Step& step : c.steps) {
            if (view(step.token).id == 0)
                session(step.token);
            ASSERT_EQ(store->link(view(step.token).id, step.provider, step.account, Now, "launcher"),
                      StoreResult::Ok);
        }
        for (const auto& [steamId, discordId] : c.pairDiscords)
            EXPECT_EQ(pairDiscord(steamId), discordId) << steamId;
        for (const auto& [token, discordId] : c.sessionDiscords)
            EXPECT_EQ(discordOf(token), discordId) << token;
    }
}

// A refused link changes nothing: not the session, not the pairs.
TEST_F(StoreTest, ConflictsAndBansRefuseALinkWithNothingChanged) {
    struct Case {
        const char* name;
        std::vector<Step> before;
        const char* banned; // Steam id banned before the last step, or empty
        Step last;
        StoreResult expected;
        const char* steamAfter; // what the session shows afterwards
        const char* discordAfter;
    };
    const Case cases[] = {
        {"another Steam account",
         {{"1", Steam, SteamA}},
         "",
         {"1", Steam, SteamB},
         StoreResult::Conflict,
         SteamA.id.c_str(),
         "-"},
        {"a banned Steam account",
         {},
         SteamA.id.c_str(),
         {"1", Steam, SteamA},
         StoreResult::Banned,
         "-",
         "-"},
        {"a banned Steam account after a Discord",
         {{"1", Discord, DiscordA}},
         SteamA.id.c_str(),
         {"1", Steam, SteamA},
         StoreResult::Banned,
         "-",
         DiscordA.id.c_str()},
        {"a Discord for a banned pair",
         {{"1", Steam, SteamA}},
         SteamA.id.c_str(),
         {"1", Discord, DiscordA},
         StoreResult::Banned,
         SteamA.id.c_str(),
         "-"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startOver();
        const std::int64_t id = session(c.last.token);
        for (const Step& step : c.before)
            ASSERT_EQ(store->link(id, step.provider, step.account, Now, "launcher"), StoreResult::Ok);
        if (*c.banned) {
            ASSERT_EQ(store->banPlayer(c.banned, "cheating", Now), StoreResult::Ok);
        }
        EXPECT_EQ(store->link(id, c.last.provider, c.last.account, Now, "launcher"), c.expected);
        EXPECT_EQ(steamOf(c.last.token), c.steamAfter);
        EXPECT_EQ(discordOf(c.last.token), c.discordAfter);
        if (c.last.provider == Steam && c.last.account.id != c.steamAfter) {
            EXPECT_EQ(pairDiscord(c.last.account.id), "none") << "a pair was made";
        }
    }
    EXPECT_EQ(store->link(9999, Steam, SteamB, Now, "launcher"), StoreResult::NotFound);
    EXPECT_EQ(store->link(9999, Discord, DiscordB, Now, "launcher"), StoreResult::NotFound);
}

TEST_F(StoreTest, ASessionShowsTheBanOfItsPair) {
    const std::int64_t id = session("token-1");
    ASSERT_EQ(store->link(id, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    EXPECT_FALSE(view("token-1").banned);
    ASSERT_EQ(store->banPlayer(SteamA.id, "cheating", Now), StoreResult::Ok);
    EXPECT_TRUE(view("token-1").banned);
    ASSERT_EQ(store->unbanPlayer(SteamA.id, Now), StoreResult::Ok);
    EXPECT_FALSE(view("token-1").banned);
}

TEST_F(StoreTest, WouldMoveTellsWhetherALinkTakesAnAccountFromSomeoneElse) {
    const std::int64_t paired = session("paired");
    const std::int64_t claiming = session("claiming");
    const std::int64_t fresh = session("fresh");
    const std::int64_t leaving = session("leaving", Now + 10);
    const std::int64_t other = session("other");
    ASSERT_EQ(store->link(paired, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(paired, Discord, DiscordA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(claiming, Discord, DiscordB, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(leaving, Discord, {"323456789012345678", "cy"}, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(other, Steam, SteamB, Now, "launcher"), StoreResult::Ok);
    struct Case {
        const char* name;
        std::int64_t sessionId;
        Provider provider;
        std::string accountId;
        std::int64_t at;
        bool moves;
    };
    const Case cases[] = {
        {"a Steam account another session is signed in to", fresh, Steam, SteamA.id, Now, true},
        {"the session's own Steam account", paired, Steam, SteamA.id, Now, false},
        {"a Steam account without a pair", fresh, Steam, "76561198000000009", Now, false},
        {"a Discord of another pair", other, Discord, DiscordA.id, Now, true},
        {"a Discord of another pair, before Steam", fresh, Discord, DiscordA.id, Now, true},
        {"the pair's own Discord", paired, Discord, DiscordA.id, Now, false},
        {"a Discord another session claims", fresh, Discord, DiscordB.id, Now, true},
        {"the session's own claim", claiming, Discord, DiscordB.id, Now, false},
        {"a claim of a live session", fresh, Discord, "323456789012345678", Now + 9, true},
        {"a claim of an expired session", fresh, Discord, "323456789012345678", Now + 10, false},
    };
    for (const Case& c : cases) {
        bool moves = !c.moves;
        EXPECT_EQ(store->wouldMove(c.sessionId, c.provider, c.accountId, c.at, moves), StoreResult::Ok)
            << c.name;
        EXPECT_EQ(moves, c.moves) << c.name;
    }
}

TEST_F(StoreTest, UnlinkingAPairSendsItsSessionsBackToLinking) {
    const std::int64_t first = session("pc-1");
    const std::int64_t second = session("pc-2");
    ASSERT_EQ(store->link(first, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(first, Discord, DiscordA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->link(second, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->unlinkPlayer(SteamA.id, Now + 1), StoreResult::Ok);
    EXPECT_EQ(store->unlinkPlayer(SteamA.id, Now + 1), StoreResult::NotFound);
    for (const char* token : {"pc-1", "pc-2"}) {
        EXPECT_NE(view(token).id, 0) << token;
        EXPECT_EQ(steamOf(token), "-") << token;
        EXPECT_EQ(discordOf(token), "-") << token;
    }
    PlayerRecord player;
    EXPECT_EQ(store->findPlayer(SteamA.id, player), StoreResult::NotFound);
    // Proving it again makes a new pair, and the Discord is free for anyone.
    ASSERT_EQ(store->link(second, Steam, SteamA, Now + 5, "confirmed"), StoreResult::Ok);
    ASSERT_EQ(store->findPlayer(SteamA.id, player), StoreResult::Ok);
    EXPECT_EQ(player.linkedAt, Now + 5);
    EXPECT_FALSE(player.discord);
    bool moves = true;
    ASSERT_EQ(store->wouldMove(first, Discord, DiscordA.id, Now, moves), StoreResult::Ok);
    EXPECT_FALSE(moves);
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

TEST_F(StoreTest, ARestartKeepsSessionsPairsStatesConfirmationsAndNonces) {
    const std::int64_t id = session("token-1");
    ASSERT_EQ(store->link(id, Steam, SteamA, Now, "launcher"), StoreResult::Ok);
    ASSERT_EQ(store->createState(sha256Hex("state"), {id, Discord, "", Now, Now + 600, "verifier"}),
              StoreResult::Ok);
    ASSERT_EQ(store->createConfirmation(sha256Hex("confirm"), {id, Discord, DiscordA, Now, Now + 600}),
              StoreResult::Ok);
    ASSERT_TRUE(store->remember("nonce", Now + 300));
    reopen();
    EXPECT_EQ(steamOf("token-1"), SteamA.id);
    StateRecord state;
    EXPECT_EQ(store->consumeState(sha256Hex("state"), Discord, Now, state), StoreResult::Ok);
    EXPECT_EQ(state.verifier, "verifier");
    PendingLink pending;
    EXPECT_EQ(store->consumeConfirmation(sha256Hex("confirm"), Now, pending), StoreResult::Ok);
    EXPECT_FALSE(store->remember("nonce", Now + 300));
}

// Two instances share one database: what one spends, the other cannot spend again, even at once.
TEST_F(StoreTest, AnotherInstanceSeesTheSessionsAndCannotReuseAStateOrNonce) {
    const std::unique_ptr<LinkStore> other = another();
    ASSERT_TRUE(other);
    const std::int64_t id = session("token-1");
    SessionView seen;
    ASSERT_EQ(other->findSession(sha256Hex("token-1"), Now, seen), StoreResult::Ok);
    EXPECT_EQ(seen.id, id);
    EXPECT_TRUE(store->remember("nonce-1", Now + 300));
    EXPECT_FALSE(other->remember("nonce-1", Now + 300));

    constexpr int States = 40;
    for (int i = 0; i < States; ++i)
        ASSERT_EQ(
            store->createState(sha256Hex("state-" + std::to_string(i)), {id, Steam, "", Now, Now + 600, ""}),
            StoreResult::Ok);
    int spent[2] = {0, 0};
    auto spendAll = [&](LinkStore& instance, int& count) {
        for (int i = 0; i < States; ++i) {
            StateRecord state;
            if (instance.consumeState(sha256Hex("state-" + std::to_string(i)), Steam, Now, state) ==
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

// Players proving the same accounts on two instances at once: no proof fails, every session ends signed in
// to the one pair of its Steam account, and the Discord account ends in exactly one pair.
TEST_F(StoreTest, AccountsProvedOnTwoInstancesAtOnceEndInOnePair) {
    const std::unique_ptr<LinkStore> other = another();
    ASSERT_TRUE(other);
    constexpr int Rounds = 30;
    std::vector<std::int64_t> sessions;
    for (int i = 0; i < 4; ++i)
        sessions.push_back(session("token-" + std::to_string(i)));
    int failed = 0;
    std::mutex lock;
    auto prove = [&](LinkStore& instance, int first) {
        for (int round = 0; round < Rounds; ++round) {
            const std::size_t which = (first + round) % sessions.size();
            const StoreResult steam =
                instance.link(sessions[which], Steam, which < 2 ? SteamA : SteamB, Now + round, "launcher");
            const StoreResult discord =
                instance.link(sessions[which], Discord, DiscordA, Now + round, "launcher");
            std::lock_guard guard(lock);
            failed += (steam != StoreResult::Ok) + (discord != StoreResult::Ok);
        }
    };
    std::thread a(prove, std::ref(*store), 0);
    std::thread b(prove, std::ref(*other), 1);
    a.join();
    b.join();
    EXPECT_EQ(failed, 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(steamOf("token-" + std::to_string(i)), (i < 2 ? SteamA : SteamB).id);
    EXPECT_NE(pairDiscord(SteamA.id) == DiscordA.id, pairDiscord(SteamB.id) == DiscordA.id);
    std::vector<PlayerRecord> players;
    ASSERT_EQ(store->listPlayers(players), StoreResult::Ok);
    EXPECT_EQ(players.size(), 2u);
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
