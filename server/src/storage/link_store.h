#pragma once
// Sessions, authorisation states, the durable player records and what the game servers read of them,
// behind one narrow interface. Secrets arrive here already hashed (storage/secrets.h): a stolen database
// holds no usable token, state or key.
//
// A player record ("pair") is a Steam account and the Discord account linked to it. It outlives launcher
// sessions: a session only signs in to a pair (by proving its Steam account), and signing out or
// expiring forgets the session, never the pair. Several sessions (several PCs) may sign in to one pair.
// A Discord account belongs to at most one pair; proving it for another pair moves it there.
#include "providers/provider_flows.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class Provider { Steam, Discord };

struct LinkedAccount {
    std::string id;
    std::string displayName;
};

struct SessionView {
    std::int64_t id = 0;
    std::int64_t expiresAt = 0;
    std::optional<LinkedAccount> steam;   // the pair the session signed in to
    std::optional<LinkedAccount> discord; // that pair's Discord; before Steam, one the session proved
    bool banned = false;                  // the pair's Steam account is banned
};

// A player as the community's admins and game servers see one: a pair, a ban, or both.
struct PlayerRecord {
    LinkedAccount steam; // displayName empty when the account was banned without ever linking
    std::optional<LinkedAccount> discord;
    bool linked = false;              // a pair exists
    std::int64_t linkedAt = 0;        // when the pair was made (its Steam account first proven)
    std::int64_t discordLinkedAt = 0; // 0 without Discord
    std::string how;                  // how the pair was made: "launcher", "confirmed" or "migrated"
    bool banned = false;
    std::string banReason;
    std::int64_t bannedAt = 0;
};

// One entry of the game servers' changes feed: the current state of one Steam account, listed again
// (with a higher cursor) each time its pair or ban changes. An unlinked account stays, with linked false.
struct PlayerChange {
    std::int64_t cursor = 0;
    std::string steamId;
    std::optional<std::string> discordId;
    bool linked = false;
    bool banned = false;
};

// An authorisation state, as POST /link/... made it.
struct StateRecord {
    std::int64_t sessionId = 0;
    Provider provider = Provider::Steam;
    std::string network; // the launcher's client network when the state was made (see contract/network.h)
    std::int64_t createdAt = 0;
    std::int64_t expiresAt = 0;
    std::string verifier; // Discord's PKCE code verifier; empty for Steam
};

// A proven account waiting for the player's press on the confirmation page.
struct PendingLink {
    std::int64_t sessionId = 0;
    Provider provider = Provider::Steam;
    LinkedAccount account;
    std::int64_t requestedAt = 0; // when the launcher asked for the link (the state's creation)
    std::int64_t expiresAt = 0;   // the state's own expiry: confirming cannot stretch it
};

struct GameServerKey {
    std::string name;
    std::string keyHash; // sha256Hex of the key
    std::int64_t createdAt = 0;
};

// A Discord role change to make, queued with the change that calls for it.
struct RoleTask {
    std::int64_t id = 0;
    std::string discordId;
    bool add = true;
    std::int64_t attempts = 0;
};

enum class StoreResult { Ok, NotFound, Conflict, Banned, Failed };

// What the metrics show of the store.
struct StoreCounts {
    std::int64_t sessions = 0; // not expired
    std::int64_t links = 0;    // pairs
};

class LinkStore : public NonceLedger {
  public:
    virtual StoreResult createSession(const std::string& tokenHash, std::int64_t now,
                                      std::int64_t expiresAt) = 0;
    // Only a session that has not expired by now is found.
    virtual StoreResult findSession(const std::string& tokenHash, std::int64_t now, SessionView& session) = 0;
    virtual StoreResult renewSession(std::int64_t sessionId, std::int64_t expiresAt) = 0;
    // Forgets the session and its open states; its pair stays.
    virtual StoreResult revokeSession(std::int64_t sessionId) = 0;

    // Conflict, with nothing stored, when maxOpen (above 0) states of the session are still open at the
    // state's creation: one session cannot fill the table or queue provider calls with states.
    virtual StoreResult createState(const std::string& stateHash, const StateRecord& state,
                                    int maxOpen = 0) = 0;
    // Single use: whatever the answer, the state is gone afterwards. NotFound when it is unknown, expired,
    // issued for the other provider or its session is no longer live.
    virtual StoreResult consumeState(const std::string& stateHash, Provider provider, std::int64_t now,
                                     StateRecord& state) = 0;

    // Whether linking the account to the session would take it from someone else: for Steam, another
    // live session is signed in to that account's pair; for Discord, the account belongs to another pair
    // (or, unpaired, was proven by another live session).
    virtual StoreResult wouldMove(std::int64_t sessionId, Provider provider, const std::string& accountId,
                                  std::int64_t now, bool& moves) = 0;
    // Steam: signs the session in to the account's pair, made now when there is none (a Discord the
    // session proved before joins it when the pair has none). Conflict, with nothing changed, when the
    // session is signed in to another Steam account. Discord: the session's pair takes the account (from
    // whichever pair held it), replacing the Discord it had. Banned, with nothing changed, when the Steam
    // account concerned is banned. `how` is recorded on a pair made now.
    virtual StoreResult link(std::int64_t sessionId, Provider provider, const LinkedAccount& account,
                             std::int64_t now, const std::string& how) = 0;

    virtual StoreResult createConfirmation(const std::string& tokenHash, const PendingLink& pending) = 0;
    // Single use, like a state; NotFound when unknown, expired or its session is no longer live.
    virtual StoreResult consumeConfirmation(const std::string& tokenHash, std::int64_t now,
                                            PendingLink& pending) = 0;

    // NotFound when the account has neither a pair nor a ban.
    virtual StoreResult findPlayer(const std::string& steamId, PlayerRecord& player) = 0;
    // Every pair and every ban, by when the pair was made.
    virtual StoreResult listPlayers(std::vector<PlayerRecord>& players) = 0;
    // Forgets the pair; the sessions signed in to it go back to linking. NotFound when there is none.
    virtual StoreResult unlinkPlayer(const std::string& steamId, std::int64_t now) = 0;
    // A ban needs no pair, and outlives an unlink. Banning again replaces the reason.
    virtual StoreResult banPlayer(const std::string& steamId, const std::string& reason,
                                  std::int64_t now) = 0;
    // NotFound when the account was not banned.
    virtual StoreResult unbanPlayer(const std::string& steamId, std::int64_t now) = 0;

    // The feed after `cursor` (0: from the start), at most `limit` entries in cursor order.
    virtual StoreResult changesSince(std::int64_t cursor, int limit, std::vector<PlayerChange>& changes) = 0;

    // Conflict when the name is taken.
    virtual StoreResult addGameServerKey(const GameServerKey& key) = 0;
    // NotFound when no key has that name.
    virtual StoreResult revokeGameServerKey(const std::string& name) = 0;
    virtual StoreResult listGameServerKeys(std::vector<GameServerKey>& keys) = 0;

    // While on, every pair's Discord that appears, moves away or is unlinked or banned queues a RoleTask
    // in the same transaction. Off (the default) queues nothing.
    virtual void queueRoleChanges(bool on) = 0;
    // At most `limit` tasks due by now, oldest first; each is handed out again only after `leaseUntil`.
    virtual StoreResult takeRoleTasks(std::int64_t now, std::int64_t leaseUntil, int limit,
                                      std::vector<RoleTask>& tasks) = 0;
    virtual StoreResult finishRoleTask(std::int64_t id) = 0;
    virtual StoreResult retryRoleTask(std::int64_t id, std::int64_t dueAt) = 0;

    // Drops expired sessions, states, confirmations and nonces. Pairs, bans and keys never expire.
    virtual StoreResult removeExpired(std::int64_t now) = 0;

    virtual StoreResult count(std::int64_t now, StoreCounts& counts) = 0;
};

// A postgresql:// connection string (storage/sql_connection.h), or else the path of a SQLite file in WAL
// mode, created when missing. The schema is brought up to date first. Null, with the reason, when the
// database cannot be reached or is newer than this program.
std::unique_ptr<LinkStore> openLinkStore(const std::string& database, std::string& error);
