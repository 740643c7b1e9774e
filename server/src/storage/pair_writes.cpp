// The writes to player records: each keeps the changes feed and the Discord role queue in step with the
// pairs and bans, in the same transaction.
#include "storage/store_sql.h"

namespace sqlstore {

namespace {

constexpr int LinkAttempts = 5;

// Taken first by every such transaction: on PostgreSQL, the counter row's lock then makes writers of
// several instances commit in the order of the cursors they take, so a reader paging the feed by cursor
// never passes one that is still to commit; and every writer takes its locks in the same order. (SQLite
// lets one writer in at a time anyway.)
StoreResult lockFeed(SqlConnection& db) {
    return write(db, "UPDATE feed_counter SET seq = seq WHERE id = 1", {});
}

// The account's entry moves to the end of the feed.
StoreResult bumpFeed(SqlConnection& db, const std::string& steamId) {
    std::int64_t seq = 0;
    if (query(db, "UPDATE feed_counter SET seq = seq + 1 WHERE id = 1 RETURNING seq", {},
              [&](const SqlRow& row) { seq = row.integer(0); }) != StoreResult::Ok)
        return StoreResult::Failed;
    return write(
        db,
        "INSERT INTO player_feed (steam_id, seq) VALUES ($1, $2) ON CONFLICT (steam_id) DO UPDATE SET "
        "seq = excluded.seq",
        {steamId, seq});
}

StoreResult queueRole(const PairWrite& w, const std::string& discordId, bool add) {
    if (!w.queueRoles)
        return StoreResult::Ok;
    return write(w.db, "INSERT INTO role_tasks (discord_id, action, due_at) VALUES ($1, $2, $3)",
                 {discordId, std::string(add ? "add" : "remove"), w.now});
}

// Ok with found set, or Failed.
StoreResult exists(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values, bool& found) {
    const StoreResult result = query(db, sql, values, [](const SqlRow&) {});
    found = result == StoreResult::Ok;
    return result == StoreResult::Failed ? result : StoreResult::Ok;
}

StoreResult isBanned(SqlConnection& db, const std::string& steamId, bool& banned) {
    return exists(db, "SELECT 1 FROM bans WHERE steam_id = $1", {steamId}, banned);
}

struct PairRow {
    bool exists = false;
    std::optional<std::string> discordId;
};

StoreResult readPair(SqlConnection& db, const std::string& steamId, PairRow& pair) {
    const StoreResult result =
        query(db, "SELECT discord_id FROM pairs WHERE steam_id = $1", {steamId}, [&](const SqlRow& row) {
            pair.exists = true;
            if (!row.isNull(0))
                pair.discordId = row.text(0);
        });
    return result == StoreResult::Failed ? result : StoreResult::Ok;
}

struct SessionRow {
    std::optional<std::string> steamId;
    std::optional<LinkedAccount> claim; // a Discord proven before Steam
};

StoreResult readSession(SqlConnection& db, std::int64_t sessionId, SessionRow& session) {
    return query(db, "SELECT steam_id, discord_id, discord_name FROM sessions WHERE id = $1", {sessionId},
                 [&](const SqlRow& row) {
                     if (!row.isNull(0))
                         session.steamId = row.text(0);
                     if (!row.isNull(1))
                         session.claim = LinkedAccount{row.text(1), row.text(2)};
                 });
}

// The pair takes the Discord account from whichever pair held it, replacing its own; other sessions'
// unpaired claims of it are dropped, so the account has one holder.
StoreResult takeDiscord(const PairWrite& w, const std::string& steamId, const LinkedAccount& discord) {
    PairRow pair;
    StoreResult result = readPair(w.db, steamId, pair);
    if (result != StoreResult::Ok)
        return result;
    if (pair.discordId == discord.id)
        return write(w.db, "UPDATE pairs SET discord_name = $1 WHERE steam_id = $2",
                     {discord.displayName, steamId});
    std::optional<std::string> holder;
    if (query(w.db, "SELECT steam_id FROM pairs WHERE discord_id = $1", {discord.id},
              [&](const SqlRow& row) { holder = row.text(0); }) == StoreResult::Failed)
        return StoreResult::Failed;
    if (holder &&
        ((result = write(w.db,
                         "UPDATE pairs SET discord_id = NULL, discord_name = NULL, discord_linked_at = NULL "
                         "WHERE steam_id = $1",
                         {*holder})) != StoreResult::Ok ||
         (result = bumpFeed(w.db, *holder)) != StoreResult::Ok ||
         (result = queueRole(w, discord.id, false)) != StoreResult::Ok))
        return result;
    if (pair.discordId && (result = queueRole(w, *pair.discordId, false)) != StoreResult::Ok)
        return result;
    if ((result = write(w.db,
                        "UPDATE pairs SET discord_id = $1, discord_name = $2, discord_linked_at = $3 WHERE "
                        "steam_id = $4",
                        {discord.id, discord.displayName, w.now, steamId})) != StoreResult::Ok ||
        (result = bumpFeed(w.db, steamId)) != StoreResult::Ok ||
        (result = queueRole(w, discord.id, true)) != StoreResult::Ok)
        return result;
    return write(w.db, "UPDATE sessions SET discord_id = NULL, discord_name = NULL WHERE discord_id = $1",
                 {discord.id});
}

} // namespace

StoreResult pairTransaction(SqlConnection& db, const std::function<StoreResult()>& body) {
    StoreResult result = StoreResult::Failed;
    for (int attempt = 0; attempt < LinkAttempts && result == StoreResult::Failed; ++attempt) {
        if (!db.run(db.beginWrite(), {}, nullptr))
            continue;
        result = lockFeed(db);
        if (result == StoreResult::Ok)
            result = body();
        if (result == StoreResult::Ok && db.run("COMMIT", {}, nullptr))
            return result;
        db.run("ROLLBACK", {}, nullptr);
        if (result == StoreResult::Ok)
            result = StoreResult::Failed; // the commit failed
    }
    return result;
}

StoreResult linkSteam(const PairWrite& w, std::int64_t sessionId, const LinkedAccount& account,
                      const std::string& how) {
    SessionRow session;
    StoreResult result = readSession(w.db, sessionId, session);
    if (result != StoreResult::Ok)
        return result;
    if (session.steamId && *session.steamId != account.id)
        return StoreResult::Conflict;
    bool banned = false;
    if ((result = isBanned(w.db, account.id, banned)) != StoreResult::Ok)
        return result;
    if (banned)
        return StoreResult::Banned;
    PairRow pair;
    if ((result = readPair(w.db, account.id, pair)) != StoreResult::Ok)
        return result;
    if (pair.exists)
        result = write(w.db, "UPDATE pairs SET steam_name = $1 WHERE steam_id = $2",
                       {account.displayName, account.id});
    else if ((result = write(
                  w.db, "INSERT INTO pairs (steam_id, steam_name, linked_at, how) VALUES ($1, $2, $3, $4)",
                  {account.id, account.displayName, w.now, how})) == StoreResult::Ok)
        result = bumpFeed(w.db, account.id);
    if (result != StoreResult::Ok || session.steamId)
        return result;
    if ((result = write(
             w.db, "UPDATE sessions SET steam_id = $1, discord_id = NULL, discord_name = NULL WHERE id = $2",
             {account.id, sessionId})) != StoreResult::Ok)
        return result;
    return session.claim && !pair.discordId ? takeDiscord(w, account.id, *session.claim) : StoreResult::Ok;
}

StoreResult linkDiscord(const PairWrite& w, std::int64_t sessionId, const LinkedAccount& account) {
    SessionRow session;
    StoreResult result = readSession(w.db, sessionId, session);
    if (result != StoreResult::Ok)
        return result;
    if (session.steamId) {
        bool banned = false;
        if ((result = isBanned(w.db, *session.steamId, banned)) != StoreResult::Ok)
            return result;
        return banned ? StoreResult::Banned : takeDiscord(w, *session.steamId, account);
    }
    if ((result =
             write(w.db,
                   "UPDATE sessions SET discord_id = NULL, discord_name = NULL WHERE discord_id = $1 AND "
                   "id <> $2",
                   {account.id, sessionId})) != StoreResult::Ok)
        return result;
    return write(w.db, "UPDATE sessions SET discord_id = $1, discord_name = $2 WHERE id = $3",
                 {account.id, account.displayName, sessionId});
}

StoreResult unlinkPair(const PairWrite& w, const std::string& steamId) {
    PairRow pair;
    StoreResult result = readPair(w.db, steamId, pair);
    if (result != StoreResult::Ok)
        return result;
    if (!pair.exists)
        return StoreResult::NotFound;
    // The sessions signed in to it lose their steam_id with it (ON DELETE SET NULL).
    if ((result = write(w.db, "DELETE FROM pairs WHERE steam_id = $1", {steamId})) != StoreResult::Ok ||
        (result = bumpFeed(w.db, steamId)) != StoreResult::Ok)
        return result;
    return pair.discordId ? queueRole(w, *pair.discordId, false) : StoreResult::Ok;
}

StoreResult banAccount(const PairWrite& w, const std::string& steamId, const std::string& reason) {
    bool banned = false;
    StoreResult result = isBanned(w.db, steamId, banned);
    if (result != StoreResult::Ok)
        return result;
    if (banned)
        return write(w.db, "UPDATE bans SET reason = $1 WHERE steam_id = $2", {reason, steamId});
    PairRow pair;
    if ((result = write(w.db, "INSERT INTO bans (steam_id, reason, banned_at) VALUES ($1, $2, $3)",
                        {steamId, reason, w.now})) != StoreResult::Ok ||
        (result = bumpFeed(w.db, steamId)) != StoreResult::Ok ||
        (result = readPair(w.db, steamId, pair)) != StoreResult::Ok)
        return result;
    return pair.discordId ? queueRole(w, *pair.discordId, false) : StoreResult::Ok;
}

StoreResult unbanAccount(const PairWrite& w, const std::string& steamId) {
    std::int64_t changed = 0;
    StoreResult result = write(w.db, "DELETE FROM bans WHERE steam_id = $1", {steamId}, &changed);
    if (result != StoreResult::Ok)
        return result;
    if (changed == 0)
        return StoreResult::NotFound;
    PairRow pair;
    if ((result = bumpFeed(w.db, steamId)) != StoreResult::Ok ||
        (result = readPair(w.db, steamId, pair)) != StoreResult::Ok)
        return result;
    return pair.discordId ? queueRole(w, *pair.discordId, true) : StoreResult::Ok;
}

} // namespace sqlstore
