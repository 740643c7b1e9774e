// What the admins and game servers read of the player records: pairs with their bans, and the feed.
#include "storage/store_sql.h"

namespace sqlstore {

namespace {

// Every account with a pair, a ban or both. (Kept as strings made once: the SQLite connection knows its
// prepared statements by their text's address.)
const std::string PlayersSelect =
    "SELECT a.steam_id, p.steam_name, p.discord_id, p.discord_name, p.linked_at, p.discord_linked_at, p.how, "
    "b.reason, b.banned_at, CASE WHEN p.steam_id IS NULL THEN 0 ELSE 1 END, "
    "CASE WHEN b.steam_id IS NULL THEN 0 ELSE 1 END FROM ";
const std::string WithRecords =
    " LEFT JOIN pairs p ON p.steam_id = a.steam_id LEFT JOIN bans b ON b.steam_id = a.steam_id";
const std::string AllPlayers = PlayersSelect +
                               "(SELECT steam_id FROM pairs UNION SELECT steam_id FROM bans) a" +
                               WithRecords + " ORDER BY COALESCE(p.linked_at, b.banned_at), a.steam_id";
const std::string OnePlayer =
    PlayersSelect +
    "(SELECT steam_id FROM pairs WHERE steam_id = $1 UNION SELECT steam_id FROM bans WHERE steam_id = $1) a" +
    WithRecords;

PlayerRecord playerOf(const SqlRow& row) {
    PlayerRecord player;
    player.steam.id = row.text(0);
    player.linked = row.integer(9) == 1;
    player.banned = row.integer(10) == 1;
    if (player.linked) {
        player.steam.displayName = row.text(1);
        if (!row.isNull(2))
            player.discord = LinkedAccount{row.text(2), row.text(3)};
        player.linkedAt = row.integer(4);
        player.discordLinkedAt = player.discord ? row.integer(5) : 0;
        player.how = row.text(6);
    }
    if (player.banned) {
        player.banReason = row.text(7);
        player.bannedAt = row.integer(8);
    }
    return player;
}

} // namespace

StoreResult readPlayers(SqlConnection& db, const std::string* steamId, std::vector<PlayerRecord>& players) {
    players.clear();
    if (steamId)
        return query(db, OnePlayer.c_str(), {*steamId},
                     [&](const SqlRow& row) { players.push_back(playerOf(row)); });
    return query(
        db, AllPlayers.c_str(), {}, [&](const SqlRow& row) { players.push_back(playerOf(row)); }, true);
}

// One statement, so the pairs and bans it reads are those of one moment.
StoreResult readChanges(SqlConnection& db, std::int64_t cursor, int limit,
                        std::vector<PlayerChange>& changes) {
    changes.clear();
    return query(
        db,
        "SELECT f.seq, f.steam_id, p.discord_id, CASE WHEN p.steam_id IS NULL THEN 0 ELSE 1 END, CASE WHEN "
        "b.steam_id IS NULL THEN 0 ELSE 1 END FROM player_feed f LEFT JOIN pairs p ON p.steam_id = "
        "f.steam_id "
        "LEFT JOIN bans b ON b.steam_id = f.steam_id WHERE f.seq > $1 ORDER BY f.seq LIMIT $2",
        {cursor, std::int64_t{limit < 0 ? 0 : limit}},
        [&](const SqlRow& row) {
            PlayerChange change;
            change.cursor = row.integer(0);
            change.steamId = row.text(1);
            if (!row.isNull(2))
                change.discordId = row.text(2);
            change.linked = row.integer(3) == 1;
            change.banned = row.integer(4) == 1;
            changes.push_back(std::move(change));
        },
        true);
}

StoreResult readWouldMove(SqlConnection& db, std::int64_t sessionId, Provider provider,
                          const std::string& accountId, std::int64_t now, bool& moves) {
    const char* const sql =
        provider == Provider::Steam
            ? "SELECT 1 FROM sessions WHERE steam_id = $1 AND id <> $2 AND expires_at > $3"
            // Another pair holds it, or (unpaired) another live session proved it.
            : "SELECT 1 FROM pairs WHERE discord_id = $1 AND steam_id <> COALESCE((SELECT steam_id FROM "
              "sessions WHERE id = $2), '') UNION ALL SELECT 1 FROM sessions WHERE discord_id = $1 AND "
              "steam_id IS NULL AND id <> $2 AND expires_at > $3";
    const StoreResult result = query(db, sql, {accountId, sessionId, now}, [](const SqlRow&) {});
    moves = result == StoreResult::Ok;
    return result == StoreResult::Failed ? result : StoreResult::Ok;
}

} // namespace sqlstore
