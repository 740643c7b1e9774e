// The link store over SQL connections: one for a SQLite file, a few for PostgreSQL so that several
// requests (and several instances) reach the database at once.
#include "storage/migrations.h"
#include "storage/secrets.h"
#include "storage/store_sql.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

using namespace sqlstore;

namespace {

constexpr int PostgresConnections = 4;

class SqlStore final : public LinkStore {
  public:
    explicit SqlStore(std::vector<std::unique_ptr<SqlConnection>> connections)
        : connections_(std::move(connections)) {
        for (const auto& connection : connections_)
            idle_.push_back(connection.get());
    }

    StoreResult createSession(const std::string& tokenHash, std::int64_t now,
                              std::int64_t expiresAt) override {
        Lease db(*this);
        return write(*db, "INSERT INTO sessions (token_hash, created_at, expires_at) VALUES ($1, $2, $3)",
                     {tokenHash, now, expiresAt});
    }

    // The pair's Discord when signed in to one, else the session's own unpaired claim.
    StoreResult findSession(const std::string& tokenHash, std::int64_t now, SessionView& session) override {
        Lease db(*this);
        session = SessionView{};
        return query(
            *db,
            "SELECT s.id, s.expires_at, p.steam_id, p.steam_name, CASE WHEN p.steam_id IS NULL THEN "
            "s.discord_id ELSE p.discord_id END, CASE WHEN p.steam_id IS NULL THEN s.discord_name ELSE "
            "p.discord_name END, CASE WHEN b.steam_id IS NULL THEN 0 ELSE 1 END FROM sessions s LEFT "
            "JOIN pairs p ON p.steam_id = s.steam_id LEFT JOIN bans b ON b.steam_id = p.steam_id "
            "WHERE s.token_hash = $1 AND s.expires_at > $2",
            {tokenHash, now}, [&](const SqlRow& row) {
                session.id = row.integer(0);
                session.expiresAt = row.integer(1);
                if (!row.isNull(2))
                    session.steam = LinkedAccount{row.text(2), row.text(3)};
                if (!row.isNull(4))
                    session.discord = LinkedAccount{row.text(4), row.text(5)};
                session.banned = row.integer(6) == 1;
            });
    }

    StoreResult renewSession(std::int64_t sessionId, std::int64_t expiresAt) override {
        Lease db(*this);
        return write(*db, "UPDATE sessions SET expires_at = $1 WHERE id = $2", {expiresAt, sessionId});
    }

    // Its states and confirmations go with it (ON DELETE CASCADE); its pair stays.
    StoreResult revokeSession(std::int64_t sessionId) override {
        Lease db(*this);
        return write(*db, "DELETE FROM sessions WHERE id = $1", {sessionId});
    }

    StoreResult createState(const std::string& stateHash, const StateRecord& state) override {
        Lease db(*this);
        std::vector<SqlValue> values{
            stateHash,     state.sessionId, std::string(providerName(state.provider)),
            state.network, state.createdAt, state.expiresAt,
            state.verifier};
        const StoreResult result =
            write(*db,
                  "INSERT INTO states (state_hash, session_id, provider, network, "
                  "created_at, expires_at, verifier) VALUES ($1, $2, $3, $4, $5, $6, $7)",
                  values);
        wipe(std::get<std::string>(values.back()));
        return result;
    }

    StoreResult consumeState(const std::string& stateHash, Provider provider, std::int64_t now,
                             StateRecord& state) override {
        Lease db(*this);
        StateRecord found;
        std::string issuedFor;
        // One statement: of two instances given the same state at once, only one gets its row.
        StoreResult result = query(*db,
                                   "DELETE FROM states WHERE state_hash = $1 RETURNING session_id, provider, "
                                   "network, created_at, expires_at, verifier",
                                   {stateHash}, [&](const SqlRow& row) {
                                       found.sessionId = row.integer(0);
                                       issuedFor = row.text(1);
                                       found.provider = providerOf(issuedFor);
                                       found.network = row.text(2);
                                       found.createdAt = row.integer(3);
                                       found.expiresAt = row.integer(4);
                                       found.verifier = row.text(5);
                                   });
        if (result == StoreResult::Ok && (issuedFor != providerName(provider) || found.expiresAt <= now))
            result = StoreResult::NotFound;
        if (result == StoreResult::Ok)
            result = sessionLive(*db, found.sessionId, now);
        if (result == StoreResult::Ok) {
            wipe(state.verifier);
            state = std::move(found);
        }
        wipe(found.verifier);
        return result;
    }

    StoreResult wouldMove(std::int64_t sessionId, Provider provider, const std::string& accountId,
                          std::int64_t now, bool& moves) override {
        Lease db(*this);
        return readWouldMove(*db, sessionId, provider, accountId, now, moves);
    }

    StoreResult link(std::int64_t sessionId, Provider provider, const LinkedAccount& account,
                     std::int64_t now, const std::string& how) override {
        Lease db(*this);
        const PairWrite w{*db, now, queueRoles_};
        return pairTransaction(*db, [&] {
            return provider == Provider::Steam ? linkSteam(w, sessionId, account, how)
                                               : linkDiscord(w, sessionId, account);
        });
    }

    StoreResult createConfirmation(const std::string& tokenHash, const PendingLink& pending) override {
        Lease db(*this);
        return write(*db,
                     "INSERT INTO confirmations (token_hash, session_id, provider, account_id, display_name, "
                     "requested_at, expires_at) VALUES ($1, $2, $3, $4, $5, $6, $7)",
                     {tokenHash, pending.sessionId, std::string(providerName(pending.provider)),
                      pending.account.id, pending.account.displayName, pending.requestedAt,
                      pending.expiresAt});
    }

    StoreResult consumeConfirmation(const std::string& tokenHash, std::int64_t now,
                                    PendingLink& pending) override {
        Lease db(*this);
        PendingLink found;
        StoreResult result = query(*db,
                                   "DELETE FROM confirmations WHERE token_hash = $1 RETURNING session_id, "
                                   "provider, account_id, display_name, requested_at, expires_at",
                                   {tokenHash}, [&](const SqlRow& row) {
                                       found.sessionId = row.integer(0);
                                       found.provider = providerOf(row.text(1));
                                       found.account = {row.text(2), row.text(3)};
                                       found.requestedAt = row.integer(4);
                                       found.expiresAt = row.integer(5);
                                   });
        if (result == StoreResult::Ok && found.expiresAt <= now)
            result = StoreResult::NotFound;
        if (result == StoreResult::Ok && (result = sessionLive(*db, found.sessionId, now)) == StoreResult::Ok)
            pending = std::move(found);
        return result;
    }

    StoreResult findPlayer(const std::string& steamId, PlayerRecord& player) override {
        Lease db(*this);
        std::vector<PlayerRecord> players;
        const StoreResult result = readPlayers(*db, &steamId, players);
        if (result == StoreResult::Ok)
            player = players.front();
        return result;
    }

    StoreResult listPlayers(std::vector<PlayerRecord>& players) override {
        Lease db(*this);
        return readPlayers(*db, nullptr, players);
    }

    StoreResult unlinkPlayer(const std::string& steamId, std::int64_t now) override {
        Lease db(*this);
        const PairWrite w{*db, now, queueRoles_};
        return pairTransaction(*db, [&] { return unlinkPair(w, steamId); });
    }

    StoreResult banPlayer(const std::string& steamId, const std::string& reason, std::int64_t now) override {
        Lease db(*this);
        const PairWrite w{*db, now, queueRoles_};
        return pairTransaction(*db, [&] { return banAccount(w, steamId, reason); });
    }

    StoreResult unbanPlayer(const std::string& steamId, std::int64_t now) override {
        Lease db(*this);
        const PairWrite w{*db, now, queueRoles_};
        return pairTransaction(*db, [&] { return unbanAccount(w, steamId); });
    }

    StoreResult changesSince(std::int64_t cursor, int limit, std::vector<PlayerChange>& changes) override {
        Lease db(*this);
        return readChanges(*db, cursor, limit, changes);
    }

    StoreResult addGameServerKey(const GameServerKey& key) override {
        Lease db(*this);
        std::int64_t changed = 0;
        const StoreResult result =
            write(*db,
                  "INSERT INTO gameserver_keys (name, key_hash, created_at) VALUES ($1, $2, "
                  "$3) ON CONFLICT DO NOTHING",
                  {key.name, key.keyHash, key.createdAt}, &changed);
        return result == StoreResult::Ok && changed == 0 ? StoreResult::Conflict : result;
    }

    StoreResult revokeGameServerKey(const std::string& name) override {
        Lease db(*this);
        return writeOne(*db, "DELETE FROM gameserver_keys WHERE name = $1", {name});
    }

    StoreResult listGameServerKeys(std::vector<GameServerKey>& keys) override {
        Lease db(*this);
        keys.clear();
        return query(
            *db, "SELECT name, key_hash, created_at FROM gameserver_keys ORDER BY name", {},
            [&](const SqlRow& row) {
                keys.push_back({row.text(0), row.text(1), row.integer(2)});
            },
            true);
    }

    void queueRoleChanges(bool on) override { queueRoles_ = on; }

    // A task waits while an older one for the same member is still queued, so a member's role changes
    // are made in the order they were asked for, retries included. The lease is checked again on the row
    // itself so that, of two instances taking at once, only one gets a task.
    StoreResult takeRoleTasks(std::int64_t now, std::int64_t leaseUntil, int limit,
                              std::vector<RoleTask>& tasks) override {
        Lease db(*this);
        tasks.clear();
        const StoreResult result = query(
            *db,
            "UPDATE role_tasks SET leased_until = $2 WHERE leased_until <= $1 AND id IN (SELECT t.id FROM "
            "role_tasks t WHERE t.due_at <= $1 AND t.leased_until <= $1 AND NOT EXISTS (SELECT 1 FROM "
            "role_tasks "
            "o WHERE o.discord_id = t.discord_id AND o.id < t.id) ORDER BY t.id LIMIT $3) RETURNING id, "
            "discord_id, action, attempts",
            {now, leaseUntil, std::int64_t{limit < 0 ? 0 : limit}},
            [&](const SqlRow& row) {
                tasks.push_back({row.integer(0), row.text(1), row.text(2) == "add", row.integer(3)});
            },
            true);
        std::sort(tasks.begin(), tasks.end(),
                  [](const RoleTask& a, const RoleTask& b) { return a.id < b.id; });
        return result;
    }

    StoreResult finishRoleTask(std::int64_t id) override {
        Lease db(*this);
        return writeOne(*db, "DELETE FROM role_tasks WHERE id = $1", {id});
    }

    StoreResult retryRoleTask(std::int64_t id, std::int64_t dueAt) override {
        Lease db(*this);
        return writeOne(
            *db, "UPDATE role_tasks SET due_at = $2, attempts = attempts + 1, leased_until = 0 WHERE id = $1",
            {id, dueAt});
    }

    StoreResult removeExpired(std::int64_t now) override {
        Lease db(*this);
        for (const char* sql :
             {"DELETE FROM sessions WHERE expires_at <= $1", "DELETE FROM states WHERE expires_at <= $1",
              "DELETE FROM confirmations WHERE expires_at <= $1",
              "DELETE FROM nonces WHERE expires_at <= $1"})
            if (write(*db, sql, {now}) != StoreResult::Ok)
                return StoreResult::Failed;
        return StoreResult::Ok;
    }

    StoreResult count(std::int64_t now, StoreCounts& counts) override {
        Lease db(*this);
        return query(
            *db, "SELECT (SELECT count(*) FROM sessions WHERE expires_at > $1), (SELECT count(*) FROM pairs)",
            {now}, [&](const SqlRow& row) {
                counts.sessions = row.integer(0);
                counts.links = row.integer(1);
            });
    }

    bool remember(const std::string& nonce, std::int64_t expiresAtUnix) override {
        Lease db(*this);
        std::int64_t changed = 0;
        return db->run("INSERT INTO nonces (nonce_hash, expires_at) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                       {sha256Hex(nonce), expiresAtUnix}, nullptr, &changed) &&
               changed == 1;
    }

  private:
    static StoreResult sessionLive(SqlConnection& db, std::int64_t sessionId, std::int64_t now) {
        return query(db, "SELECT 1 FROM sessions WHERE id = $1 AND expires_at > $2", {sessionId, now},
                     [](const SqlRow&) {});
    }

    // NotFound when the statement touched no row.
    static StoreResult writeOne(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values) {
        std::int64_t changed = 0;
        const StoreResult result = write(db, sql, values, &changed);
        return result == StoreResult::Ok && changed == 0 ? StoreResult::NotFound : result;
    }

    // A connection of the pool for the length of one store call.
    class Lease {
      public:
        explicit Lease(SqlStore& store) : store_(store) {
            std::unique_lock guard(store_.lock_);
            store_.returned_.wait(guard, [&] { return !store_.idle_.empty(); });
            connection_ = store_.idle_.back();
            store_.idle_.pop_back();
        }
        ~Lease() {
            {
                std::lock_guard guard(store_.lock_);
                store_.idle_.push_back(connection_);
            }
            store_.returned_.notify_one();
        }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        SqlConnection* operator->() const { return connection_; }
        SqlConnection& operator*() const { return *connection_; }

      private:
        SqlStore& store_;
        SqlConnection* connection_ = nullptr;
    };

    std::vector<std::unique_ptr<SqlConnection>> connections_;
    std::mutex lock_;
    std::condition_variable returned_;
    std::vector<SqlConnection*> idle_;
    std::atomic<bool> queueRoles_{false};
};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

namespace sqlstore {

StoreResult query(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values,
                  const OnSqlRow& onRow, bool anyRows) {
    bool any = false;
    if (!db.run(sql, values, [&](const SqlRow& row) {
            any = true;
            onRow(row);
        }))
        return StoreResult::Failed;
    return any || anyRows ? StoreResult::Ok : StoreResult::NotFound;
}

StoreResult write(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values,
                  std::int64_t* changed) {
    return db.run(sql, values, nullptr, changed) ? StoreResult::Ok : StoreResult::Failed;
}

const char* providerName(Provider provider) {
    return provider == Provider::Steam ? "steam" : "discord";
}

Provider providerOf(const std::string& name) {
    return name == "steam" ? Provider::Steam : Provider::Discord;
}

} // namespace sqlstore

std::unique_ptr<LinkStore> openLinkStore(const std::string& database, std::string& error) {
    const int count = isPostgresDatabase(database) ? PostgresConnections : 1;
    std::vector<std::unique_ptr<SqlConnection>> connections;
    for (int i = 0; i < count; ++i) {
        connections.push_back(connectDatabase(database, error));
        if (!connections.back()) {
            error = trimmed(error);
            return nullptr;
        }
    }
    if (!migrateSchema(*connections.front(), error)) {
        error = trimmed(error);
        return nullptr;
    }
    return std::make_unique<SqlStore>(std::move(connections));
}
