// The link store over SQL connections: one for a SQLite file, a few for PostgreSQL so that several
// requests (and several instances) reach the database at once.
#include "storage/link_store.h"
#include "storage/migrations.h"
#include "storage/secrets.h"

#include <condition_variable>
#include <mutex>

namespace {

constexpr int PostgresConnections = 4;
constexpr int LinkAttempts = 5;

const char* providerName(Provider provider) {
    return provider == Provider::Steam ? "steam" : "discord";
}

// Ok when a row came (or, with anyRows, once the query ran); NotFound when none did.
StoreResult query(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values,
                  const OnSqlRow& onRow, bool anyRows = false) {
    bool any = false;
    if (!db.run(sql, values, [&](const SqlRow& row) {
            any = true;
            onRow(row);
        }))
        return StoreResult::Failed;
    return any || anyRows ? StoreResult::Ok : StoreResult::NotFound;
}

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

    StoreResult findSession(const std::string& tokenHash, std::int64_t now, SessionView& session) override {
        Lease db(*this);
        session = SessionView{};
        const StoreResult result =
            query(*db, "SELECT id, expires_at FROM sessions WHERE token_hash = $1 AND expires_at > $2",
                  {tokenHash, now}, [&](const SqlRow& row) {
                      session.id = row.integer(0);
                      session.expiresAt = row.integer(1);
                  });
        if (result != StoreResult::Ok)
            return result;
        return query(
            *db, "SELECT provider, account_id, display_name FROM links WHERE session_id = $1", {session.id},
            [&](const SqlRow& row) {
                (row.text(0) == "steam" ? session.steam : session.discord) =
                    LinkedAccount{row.text(1), row.text(2)};
            },
            true);
    }

    StoreResult renewSession(std::int64_t sessionId, std::int64_t expiresAt) override {
        Lease db(*this);
        return write(*db, "UPDATE sessions SET expires_at = $1 WHERE id = $2", {expiresAt, sessionId});
    }

    StoreResult revokeSession(std::int64_t sessionId) override {
        Lease db(*this);
        return write(*db, "DELETE FROM sessions WHERE id = $1", {sessionId});
    }

    StoreResult createState(const std::string& stateHash, std::int64_t sessionId, Provider provider,
                            std::int64_t expiresAt) override {
        Lease db(*this);
        return write(
            *db, "INSERT INTO states (state_hash, session_id, provider, expires_at) VALUES ($1, $2, $3, $4)",
            {stateHash, sessionId, std::string(providerName(provider)), expiresAt});
    }

    StoreResult consumeState(const std::string& stateHash, Provider provider, std::int64_t now,
                             std::int64_t& sessionId) override {
        Lease db(*this);
        std::string issuedFor;
        std::int64_t expiresAt = 0;
        // One statement: of two instances given the same state at once, only one gets its row.
        const StoreResult result =
            query(*db, "DELETE FROM states WHERE state_hash = $1 RETURNING session_id, provider, expires_at",
                  {stateHash}, [&](const SqlRow& row) {
                      sessionId = row.integer(0);
                      issuedFor = row.text(1);
                      expiresAt = row.integer(2);
                  });
        if (result != StoreResult::Ok)
            return result;
        if (issuedFor != providerName(provider) || expiresAt <= now)
            return StoreResult::NotFound;
        return query(*db, "SELECT 1 FROM sessions WHERE id = $1 AND expires_at > $2", {sessionId, now},
                     [](const SqlRow&) {});
    }

    StoreResult link(std::int64_t sessionId, Provider provider, const LinkedAccount& account,
                     std::int64_t now) override {
        Lease db(*this);
        StoreResult result = StoreResult::Failed;
        for (int attempt = 0; attempt < LinkAttempts && result == StoreResult::Failed; ++attempt)
            result = linkOnce(*db, sessionId, provider, account, now);
        return result;
    }

    StoreResult findPlayer(const std::string& steamId, PlayerRecord& player) override {
        Lease db(*this);
        std::vector<PlayerRecord> players;
        const StoreResult result = players_(*db, true, {steamId}, players);
        if (result == StoreResult::Ok)
            player = players.front();
        return result;
    }

    StoreResult listPlayers(std::vector<PlayerRecord>& players) override {
        Lease db(*this);
        return players_(*db, false, {}, players);
    }

    StoreResult unlinkPlayer(const std::string& steamId) override {
        Lease db(*this);
        std::int64_t changed = 0;
        if (!db->run("DELETE FROM links WHERE session_id IN (SELECT session_id FROM links WHERE provider = "
                     "'steam' AND account_id = $1)",
                     {steamId}, nullptr, &changed))
            return StoreResult::Failed;
        return changed > 0 ? StoreResult::Ok : StoreResult::NotFound;
    }

    StoreResult removeExpired(std::int64_t now) override {
        Lease db(*this);
        for (const char* sql :
             {"DELETE FROM sessions WHERE expires_at <= $1", "DELETE FROM states WHERE expires_at <= $1",
              "DELETE FROM nonces WHERE expires_at <= $1"})
            if (write(*db, sql, {now}) != StoreResult::Ok)
                return StoreResult::Failed;
        return StoreResult::Ok;
    }

    StoreResult count(std::int64_t now, StoreCounts& counts) override {
        Lease db(*this);
        return query(
            *db,
            "SELECT (SELECT count(*) FROM sessions WHERE expires_at > $1), (SELECT count(*) FROM links "
            "l JOIN sessions s ON s.id = l.session_id WHERE s.expires_at > $1)",
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
    // Under PostgreSQL's read committed, another instance linking an account of the same provider to the
    // same session at the same moment makes this one's write collide; a new attempt sees its row.
    static StoreResult linkOnce(SqlConnection& db, std::int64_t sessionId, Provider provider,
                                const LinkedAccount& account, std::int64_t now) {
        const std::string name = providerName(provider);
        if (!db.run(db.beginWrite(), {}, nullptr))
            return StoreResult::Failed;
        std::string held;
        StoreResult result = query(db, "SELECT account_id FROM links WHERE session_id = $1 AND provider = $2",
                                   {sessionId, name}, [&](const SqlRow& row) { held = row.text(0); });
        if (result == StoreResult::Ok && held != account.id)
            result = StoreResult::Conflict;
        else if (result == StoreResult::Ok || result == StoreResult::NotFound)
            // One statement takes the account from whichever session held it: two instances moving it at
            // once queue on its row instead of colliding.
            result = write(db,
                           "INSERT INTO links (provider, account_id, display_name, session_id, linked_at) "
                           "VALUES ($1, $2, $3, $4, $5) ON CONFLICT (provider, account_id) DO UPDATE SET "
                           "display_name = excluded.display_name, session_id = excluded.session_id, "
                           "linked_at = excluded.linked_at",
                           {name, account.id, account.displayName, sessionId, now});
        if (result == StoreResult::Ok)
            return db.run("COMMIT", {}, nullptr) ? StoreResult::Ok : StoreResult::Failed;
        db.run("ROLLBACK", {}, nullptr);
        return result;
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

    static StoreResult write(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values) {
        return db.run(sql, values, nullptr) ? StoreResult::Ok : StoreResult::Failed;
    }

    static StoreResult players_(SqlConnection& db, bool one, const std::vector<SqlValue>& values,
                                std::vector<PlayerRecord>& players) {
        static const std::string base = "SELECT s.account_id, s.display_name, s.linked_at, d.account_id, "
                                        "d.display_name FROM links s LEFT JOIN links d ON d.session_id = "
                                        "s.session_id AND d.provider = 'discord' WHERE s.provider = 'steam' ";
        static const std::string all = base + "ORDER BY s.linked_at, s.account_id";
        static const std::string single = base + "AND s.account_id = $1";
        return query(
            db, (one ? single : all).c_str(), values,
            [&](const SqlRow& row) {
                PlayerRecord player;
                player.steam = {row.text(0), row.text(1)};
                player.linkedAt = row.integer(2);
                if (!row.isNull(3))
                    player.discord = LinkedAccount{row.text(3), row.text(4)};
                players.push_back(player);
            },
            !one);
    }

    std::vector<std::unique_ptr<SqlConnection>> connections_;
    std::mutex lock_;
    std::condition_variable returned_;
    std::vector<SqlConnection*> idle_;
};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

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
