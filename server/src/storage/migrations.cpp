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
    // Player records outlive sessions: each session's Steam link becomes a pair (its session's Discord
    // link joining it), and a Discord linked without Steam stays the session's unpaired claim. The feed
    // numbers the moved pairs 1..N in the order they were made.
    {3, R"sql(
CREATE TABLE pairs (
    steam_id TEXT PRIMARY KEY,
    steam_name TEXT NOT NULL,
    discord_id TEXT UNIQUE,
    discord_name TEXT,
    linked_at BIGINT NOT NULL,
    discord_linked_at BIGINT,
    how TEXT NOT NULL);
CREATE INDEX pairs_by_linked_at ON pairs (linked_at);
ALTER TABLE sessions ADD COLUMN steam_id TEXT REFERENCES pairs (steam_id) ON DELETE SET NULL;
ALTER TABLE sessions ADD COLUMN discord_id TEXT;
ALTER TABLE sessions ADD COLUMN discord_name TEXT;
CREATE INDEX sessions_by_pair ON sessions (steam_id);
CREATE INDEX sessions_by_claim ON sessions (discord_id);
INSERT INTO pairs (steam_id, steam_name, discord_id, discord_name, linked_at, discord_linked_at, how)
    SELECT s.account_id, s.display_name, d.account_id, d.display_name, s.linked_at, d.linked_at, 'migrated'
    FROM links s LEFT JOIN links d ON d.session_id = s.session_id AND d.provider = 'discord'
    WHERE s.provider = 'steam';
UPDATE sessions SET steam_id = (SELECT l.account_id FROM links l WHERE l.session_id = sessions.id AND
    l.provider = 'steam');
UPDATE sessions SET
    discord_id = (SELECT l.account_id FROM links l WHERE l.session_id = sessions.id AND l.provider = 'discord'),
    discord_name = (SELECT l.display_name FROM links l WHERE l.session_id = sessions.id AND
        l.provider = 'discord')
    WHERE steam_id IS NULL;
DROP TABLE links;
CREATE TABLE bans (
    steam_id TEXT PRIMARY KEY,
    reason TEXT NOT NULL,
    banned_at BIGINT NOT NULL);
CREATE TABLE feed_counter (
    id BIGINT PRIMARY KEY CHECK (id = 1),
    seq BIGINT NOT NULL);
CREATE TABLE player_feed (
    steam_id TEXT PRIMARY KEY,
    seq BIGINT NOT NULL UNIQUE);
INSERT INTO player_feed (steam_id, seq)
    SELECT steam_id, ROW_NUMBER() OVER (ORDER BY linked_at, steam_id) FROM pairs;
INSERT INTO feed_counter (id, seq) SELECT 1, COUNT(*) FROM pairs;
ALTER TABLE states ADD COLUMN network TEXT NOT NULL DEFAULT '';
ALTER TABLE states ADD COLUMN created_at BIGINT NOT NULL DEFAULT 0;
ALTER TABLE states ADD COLUMN verifier TEXT NOT NULL DEFAULT '';
CREATE TABLE confirmations (
    token_hash TEXT PRIMARY KEY,
    session_id BIGINT NOT NULL REFERENCES sessions (id) ON DELETE CASCADE,
    provider TEXT,
    account_id TEXT,
    display_name TEXT,
    requested_at BIGINT,
    expires_at BIGINT);
CREATE INDEX confirmations_by_session ON confirmations (session_id);
CREATE INDEX confirmations_by_expiry ON confirmations (expires_at);
CREATE TABLE gameserver_keys (
    name TEXT PRIMARY KEY,
    key_hash TEXT NOT NULL UNIQUE,
    created_at BIGINT NOT NULL);
CREATE TABLE role_tasks (
    id {key},
    discord_id TEXT NOT NULL,
    action TEXT NOT NULL,
    due_at BIGINT NOT NULL,
    attempts BIGINT NOT NULL DEFAULT 0,
    leased_until BIGINT NOT NULL DEFAULT 0);
CREATE INDEX role_tasks_by_due ON role_tasks (due_at);
CREATE INDEX role_tasks_by_member ON role_tasks (discord_id);
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
