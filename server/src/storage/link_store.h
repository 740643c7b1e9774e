#pragma once
// Sessions, authorisation states, links and Steam's response nonces, behind one narrow interface.
// Secrets arrive here already hashed (storage/secrets.h): a stolen database holds no usable token.
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
    std::optional<LinkedAccount> steam;
    std::optional<LinkedAccount> discord;
};

// A player as the game server's admins see one: a Steam account and the Discord account of its session.
struct PlayerRecord {
    LinkedAccount steam;
    std::optional<LinkedAccount> discord;
    std::int64_t linkedAt = 0;
};

enum class StoreResult { Ok, NotFound, Conflict, Failed };

// What the metrics show of the store.
struct StoreCounts {
    std::int64_t sessions = 0; // not expired
    std::int64_t links = 0;    // of those sessions, each provider's account counted once
};

class LinkStore : public NonceLedger {
  public:
    virtual StoreResult createSession(const std::string& tokenHash, std::int64_t now,
                                      std::int64_t expiresAt) = 0;
    // Only a session that has not expired by now is found.
    virtual StoreResult findSession(const std::string& tokenHash, std::int64_t now, SessionView& session) = 0;
    virtual StoreResult renewSession(std::int64_t sessionId, std::int64_t expiresAt) = 0;
    // Forgets the session with its links and open states.
    virtual StoreResult revokeSession(std::int64_t sessionId) = 0;

    virtual StoreResult createState(const std::string& stateHash, std::int64_t sessionId, Provider provider,
                                    std::int64_t expiresAt) = 0;
    // Single use: whatever the answer, the state is gone afterwards. NotFound when it is unknown, expired,
    // issued for the other provider or its session is no longer live.
    virtual StoreResult consumeState(const std::string& stateHash, Provider provider, std::int64_t now,
                                     std::int64_t& sessionId) = 0;

    // Links the account to the session, taking it from any other session that held it. Conflict, with
    // nothing changed, when this session already holds another account of the provider.
    virtual StoreResult link(std::int64_t sessionId, Provider provider, const LinkedAccount& account,
                             std::int64_t now) = 0;

    virtual StoreResult findPlayer(const std::string& steamId, PlayerRecord& player) = 0;
    virtual StoreResult listPlayers(std::vector<PlayerRecord>& players) = 0;
    // Releases both links of the session that holds the Steam account; the session itself goes on.
    virtual StoreResult unlinkPlayer(const std::string& steamId) = 0;

    // Drops expired sessions (with their links), states and nonces.
    virtual StoreResult removeExpired(std::int64_t now) = 0;

    virtual StoreResult count(std::int64_t now, StoreCounts& counts) = 0;
};

// A postgresql:// connection string (storage/sql_connection.h), or else the path of a SQLite file in WAL
// mode, created when missing. The schema is brought up to date first. Null, with the reason, when the
// database cannot be reached or is newer than this program.
std::unique_ptr<LinkStore> openLinkStore(const std::string& database, std::string& error);
