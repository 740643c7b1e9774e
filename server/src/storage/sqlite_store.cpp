#include "storage/link_store.h"
#include "storage/secrets.h"

#include <sqlite3.h>

#include <map>
#include <mutex>
#include <variant>

namespace {

constexpr int BusyTimeoutMs = 5000;

const char* const Schema = R"sql(
CREATE TABLE IF NOT EXISTS sessions (
    id INTEGER PRIMARY KEY,
    token_hash TEXT NOT NULL UNIQUE,
    created_at INTEGER NOT NULL,
    expires_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_by_expiry ON sessions (expires_at);
CREATE TABLE IF NOT EXISTS links (
    provider TEXT NOT NULL,
    account_id TEXT NOT NULL,
    display_name TEXT NOT NULL,
    session_id INTEGER NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,
    linked_at INTEGER NOT NULL,
    PRIMARY KEY (provider, account_id),
    UNIQUE (session_id, provider));
CREATE TABLE IF NOT EXISTS states (
    state_hash TEXT PRIMARY KEY,
    session_id INTEGER NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,
    provider TEXT NOT NULL,
    expires_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS states_by_session ON states (session_id);
CREATE TABLE IF NOT EXISTS nonces (
    nonce_hash TEXT PRIMARY KEY,
    expires_at INTEGER NOT NULL);
)sql";

const char* providerName(Provider provider) {
    return provider == Provider::Steam ? "steam" : "discord";
}

using Value = std::variant<std::int64_t, std::string>;

class SqliteStore final : public LinkStore {
  public:
    explicit SqliteStore(sqlite3* db) : db_(db) {}
    ~SqliteStore() override {
        for (auto& [sql, statement] : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    StoreResult createSession(const std::string& tokenHash, std::int64_t now,
                              std::int64_t expiresAt) override {
        std::lock_guard guard(lock_);
        return run("INSERT INTO sessions (token_hash, created_at, expires_at) VALUES (?, ?, ?)",
                   {tokenHash, now, expiresAt});
    }

    StoreResult findSession(const std::string& tokenHash, std::int64_t now, SessionView& session) override {
        std::lock_guard guard(lock_);
        session = SessionView{};
        StoreResult result =
            query("SELECT id, expires_at FROM sessions WHERE token_hash = ? AND expires_at > ?",
                  {tokenHash, now}, [&](sqlite3_stmt* row) {
                      session.id = sqlite3_column_int64(row, 0);
                      session.expiresAt = sqlite3_column_int64(row, 1);
                  });
        if (result != StoreResult::Ok)
            return result;
        return query(
            "SELECT provider, account_id, display_name FROM links WHERE session_id = ?", {session.id},
            [&](sqlite3_stmt* row) {
                LinkedAccount account{text(row, 1), text(row, 2)};
                (text(row, 0) == "steam" ? session.steam : session.discord) = account;
            },
            true);
    }

    StoreResult renewSession(std::int64_t sessionId, std::int64_t expiresAt) override {
        std::lock_guard guard(lock_);
        return run("UPDATE sessions SET expires_at = ? WHERE id = ?", {expiresAt, sessionId});
    }

    StoreResult revokeSession(std::int64_t sessionId) override {
        std::lock_guard guard(lock_);
        return run("DELETE FROM sessions WHERE id = ?", {sessionId});
    }

    StoreResult createState(const std::string& stateHash, std::int64_t sessionId, Provider provider,
                            std::int64_t expiresAt) override {
        std::lock_guard guard(lock_);
        return run("INSERT INTO states (state_hash, session_id, provider, expires_at) VALUES (?, ?, ?, ?)",
                   {stateHash, sessionId, std::string(providerName(provider)), expiresAt});
    }

    StoreResult consumeState(const std::string& stateHash, Provider provider, std::int64_t now,
                             std::int64_t& sessionId) override {
        std::lock_guard guard(lock_);
        std::string issuedFor;
        std::int64_t expiresAt = 0;
        StoreResult result =
            query("DELETE FROM states WHERE state_hash = ? RETURNING session_id, provider, expires_at",
                  {stateHash}, [&](sqlite3_stmt* row) {
                      sessionId = sqlite3_column_int64(row, 0);
                      issuedFor = text(row, 1);
                      expiresAt = sqlite3_column_int64(row, 2);
                  });
        if (result != StoreResult::Ok)
            return result;
        if (issuedFor != providerName(provider) || expiresAt <= now)
            return StoreResult::NotFound;
        return query("SELECT 1 FROM sessions WHERE id = ? AND expires_at > ?", {sessionId, now},
                     [](sqlite3_stmt*) {});
    }

    StoreResult link(std::int64_t sessionId, Provider provider, const LinkedAccount& account,
                     std::int64_t now) override {
        std::lock_guard guard(lock_);
        const std::string name = providerName(provider);
        if (run("BEGIN IMMEDIATE", {}) != StoreResult::Ok)
            return StoreResult::Failed;
        std::string held;
        StoreResult result = query("SELECT account_id FROM links WHERE session_id = ? AND provider = ?",
                                   {sessionId, name}, [&](sqlite3_stmt* row) { held = text(row, 0); });
        if (result == StoreResult::Ok && held != account.id)
            result = StoreResult::Conflict;
        else if (result == StoreResult::Ok || result == StoreResult::NotFound)
            result = run("DELETE FROM links WHERE provider = ? AND account_id = ?", {name, account.id});
        if (result == StoreResult::Ok)
            result = run("INSERT INTO links (provider, account_id, display_name, session_id, linked_at) "
                         "VALUES (?, ?, ?, ?, ?)",
                         {name, account.id, account.displayName, sessionId, now});
        run(result == StoreResult::Ok ? "COMMIT" : "ROLLBACK", {});
        return result;
    }

    StoreResult findPlayer(const std::string& steamId, PlayerRecord& player) override {
        std::lock_guard guard(lock_);
        std::vector<PlayerRecord> players;
        const StoreResult result = players_(true, {steamId}, players);
        if (result == StoreResult::Ok)
            player = players.front();
        return result;
    }

    StoreResult listPlayers(std::vector<PlayerRecord>& players) override {
        std::lock_guard guard(lock_);
        return players_(false, {}, players);
    }

    StoreResult unlinkPlayer(const std::string& steamId) override {
        std::lock_guard guard(lock_);
        std::int64_t sessionId = 0;
        const StoreResult result =
            query("SELECT session_id FROM links WHERE provider = 'steam' AND account_id = ?", {steamId},
                  [&](sqlite3_stmt* row) { sessionId = sqlite3_column_int64(row, 0); });
        if (result != StoreResult::Ok)
            return result;
        return run("DELETE FROM links WHERE session_id = ?", {sessionId});
    }

    StoreResult removeExpired(std::int64_t now) override {
        std::lock_guard guard(lock_);
        for (const char* sql :
             {"DELETE FROM sessions WHERE expires_at <= ?", "DELETE FROM states WHERE expires_at <= ?",
              "DELETE FROM nonces WHERE expires_at <= ?"})
            if (run(sql, {now}) != StoreResult::Ok)
                return StoreResult::Failed;
        return StoreResult::Ok;
    }

    StoreResult count(std::int64_t now, StoreCounts& counts) override {
        std::lock_guard guard(lock_);
        return query(
            "SELECT (SELECT count(*) FROM sessions WHERE expires_at > ?1), (SELECT count(*) FROM links "
            "l JOIN sessions s ON s.id = l.session_id WHERE s.expires_at > ?1)",
            {now}, [&](sqlite3_stmt* row) {
                counts.sessions = sqlite3_column_int64(row, 0);
                counts.links = sqlite3_column_int64(row, 1);
            });
    }

    bool remember(const std::string& nonce, std::int64_t expiresAtUnix) override {
        std::lock_guard guard(lock_);
        if (run("INSERT OR IGNORE INTO nonces (nonce_hash, expires_at) VALUES (?, ?)",
                {sha256Hex(nonce), expiresAtUnix}) != StoreResult::Ok)
            return false;
        return sqlite3_changes(db_) == 1;
    }

  private:
    StoreResult players_(bool one, const std::vector<Value>& values, std::vector<PlayerRecord>& players) {
        static const std::string base = "SELECT s.account_id, s.display_name, s.linked_at, d.account_id, "
                                        "d.display_name FROM links s LEFT JOIN links d ON d.session_id = "
                                        "s.session_id AND d.provider = 'discord' WHERE s.provider = 'steam' ";
        static const std::string all = base + "ORDER BY s.linked_at, s.account_id";
        static const std::string single = base + "AND s.account_id = ?";
        return query((one ? single : all).c_str(), values,
                     [&](sqlite3_stmt* row) {
                         PlayerRecord player;
                         player.steam = {text(row, 0), text(row, 1)};
                         player.linkedAt = sqlite3_column_int64(row, 2);
                         if (sqlite3_column_type(row, 3) != SQLITE_NULL)
                             player.discord = LinkedAccount{text(row, 3), text(row, 4)};
                         players.push_back(player);
                     },
                     !one);
    }

    static std::string text(sqlite3_stmt* row, int column) {
        const auto* bytes = sqlite3_column_text(row, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                                   static_cast<std::size_t>(sqlite3_column_bytes(row, column)))
                     : std::string();
    }

    sqlite3_stmt* prepare(const char* sql, const std::vector<Value>& values) {
        sqlite3_stmt*& statement = statements_[sql];
        if (!statement &&
            sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            return nullptr;
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        int index = 1;
        for (const Value& value : values) {
            if (const auto* number = std::get_if<std::int64_t>(&value))
                sqlite3_bind_int64(statement, index++, *number);
            else
                sqlite3_bind_text(statement, index++, std::get<std::string>(value).data(),
                                  static_cast<int>(std::get<std::string>(value).size()), SQLITE_TRANSIENT);
        }
        return statement;
    }

    StoreResult run(const char* sql, const std::vector<Value>& values) {
        sqlite3_stmt* statement = prepare(sql, values);
        if (!statement)
            return StoreResult::Failed;
        int step = SQLITE_ROW;
        while (step == SQLITE_ROW)
            step = sqlite3_step(statement);
        sqlite3_reset(statement);
        return step == SQLITE_DONE ? StoreResult::Ok : StoreResult::Failed;
    }

    // Ok when at least one row came (or, with anyRows, always once the query ran); NotFound when none.
    template <typename OnRow>
    StoreResult query(const char* sql, const std::vector<Value>& values, OnRow onRow, bool anyRows = false) {
        sqlite3_stmt* statement = prepare(sql, values);
        if (!statement)
            return StoreResult::Failed;
        int step = SQLITE_ROW;
        bool found = false;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            onRow(statement);
            found = true;
        }
        sqlite3_reset(statement);
        if (step != SQLITE_DONE)
            return StoreResult::Failed;
        return found || anyRows ? StoreResult::Ok : StoreResult::NotFound;
    }

    sqlite3* db_;
    std::mutex lock_;
    std::map<const char*, sqlite3_stmt*> statements_;
};

} // namespace

std::unique_ptr<LinkStore> openSqliteStore(const std::string& path, std::string& error) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    char* message = nullptr;
    const std::string setup = std::string("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; "
                                          "PRAGMA foreign_keys = ON; ") +
                              Schema;
    if (sqlite3_exec(db, setup.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        sqlite3_close(db);
        return nullptr;
    }
    return std::make_unique<SqliteStore>(db);
}
