#include "storage/migrations.h"

#include <ctime>
#include <iterator>

namespace {

struct Migration {
    int version;
    const char* sql; // {key} stands for the backend's generated 64-bit key column
};

// Append only: a released migration never changes, a new one takes the next number.
const Migration Migrations[] = {
    {1, R"sql(
CREATE TABLE IF NOT EXISTS sessions (
    id {key},
    token_hash TEXT NOT NULL UNIQUE,
    created_at BIGINT NOT NULL,
    expires_at BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS sessions_by_expiry ON sessions (expires_at);
CREATE TABLE IF NOT EXISTS links (
    provider TEXT NOT NULL,
    account_id TEXT NOT NULL,
    display_name TEXT NOT NULL,
    session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,
    linked_at BIGINT NOT NULL,
    PRIMARY KEY (provider, account_id),
    UNIQUE (session_id, provider));
CREATE TABLE IF NOT EXISTS states (
    state_hash TEXT PRIMARY KEY,
    session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,
    provider TEXT NOT NULL,
    expires_at BIGINT NOT NULL);
CREATE INDEX IF NOT EXISTS states_by_session ON states (session_id);
CREATE TABLE IF NOT EXISTS nonces (
    nonce_hash TEXT PRIMARY KEY,
    expires_at BIGINT NOT NULL);
)sql"},
    // Expiry sweeps of states and nonces read by expiry.
    {2, R"sql(
CREATE INDEX IF NOT EXISTS states_by_expiry ON states (expires_at);
CREATE INDEX IF NOT EXISTS nonces_by_expiry ON nonces (expires_at);
)sql"},
};

std::string withKey(const std::string& sql, const std::string& key) {
    std::string text = sql;
    const std::string token = "{key}";
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + key.size()))
        text.replace(at, token.size(), key);
    return text;
}

bool apply(SqlConnection& connection, std::string& error) {
    if (!connection.run(connection.lockSchema(), {}, nullptr) ||
        !connection.script("CREATE TABLE IF NOT EXISTS schema_migrations (version BIGINT PRIMARY KEY, "
                           "applied_at BIGINT NOT NULL)",
                           error))
        return false;
    std::int64_t current = 0;
    if (!connection.run("SELECT COALESCE(MAX(version), 0) FROM schema_migrations", {},
                        [&](const SqlRow& row) { current = row.integer(0); }))
        return false;
    if (current > latestSchemaVersion()) {
        error = "the database's schema is version " + std::to_string(current) +
                ", newer than this program's version " + std::to_string(latestSchemaVersion()) +
                ": run the orvane-link-service that upgraded it (or restore a backup made before)";
        return false;
    }
    for (const Migration& migration : Migrations) {
        if (migration.version <= current)
            continue;
        if (!connection.script(withKey(migration.sql, connection.generatedKey()), error) ||
            !connection.run("INSERT INTO schema_migrations (version, applied_at) VALUES ($1, $2)",
                            {std::int64_t{migration.version}, static_cast<std::int64_t>(std::time(nullptr))},
                            nullptr))
            return false;
    }
    return true;
}

} // namespace

int latestSchemaVersion() {
    return std::end(Migrations)[-1].version;
}

bool migrateSchema(SqlConnection& connection, std::string& error) {
    if (!connection.run(connection.beginWrite(), {}, nullptr)) {
        error = "cannot start the schema migration";
        return false;
    }
    const bool applied = apply(connection, error);
    if (applied && connection.run("COMMIT", {}, nullptr))
        return true;
    connection.run("ROLLBACK", {}, nullptr);
    if (error.empty())
        error = "the schema migration failed";
    return false;
}
