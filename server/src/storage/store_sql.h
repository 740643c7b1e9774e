#pragma once
// What the link store's source files share (not for use outside storage/): statements as StoreResults,
// and the reads and writes of player records.
#include "storage/link_store.h"
#include "storage/sql_connection.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Named apart, so that no other layer's function of the same name meets these at link time.
namespace sqlstore {

// Ok when a row came (or, with anyRows, once the query ran); NotFound when none did.
StoreResult query(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values,
                  const OnSqlRow& onRow, bool anyRows = false);
StoreResult write(SqlConnection& db, const char* sql, const std::vector<SqlValue>& values,
                  std::int64_t* changed = nullptr);

const char* providerName(Provider provider);
Provider providerOf(const std::string& name);

// A write to player records, made in a transaction of its own (pairTransaction).
struct PairWrite {
    SqlConnection& db;
    std::int64_t now = 0;
    bool queueRoles = false;
};

// Runs body in a write transaction, again when it failed (on PostgreSQL, another instance's write at the
// same moment can collide with it), and commits it only when it answers Ok.
StoreResult pairTransaction(SqlConnection& db, const std::function<StoreResult()>& body);

StoreResult linkSteam(const PairWrite& w, std::int64_t sessionId, const LinkedAccount& account,
                      const std::string& how);
StoreResult linkDiscord(const PairWrite& w, std::int64_t sessionId, const LinkedAccount& account);
StoreResult unlinkPair(const PairWrite& w, const std::string& steamId);
StoreResult banAccount(const PairWrite& w, const std::string& steamId, const std::string& reason);
StoreResult unbanAccount(const PairWrite& w, const std::string& steamId);

// steamId null: every pair and ban.
StoreResult readPlayers(SqlConnection& db, const std::string* steamId, std::vector<PlayerRecord>& players);
StoreResult readChanges(SqlConnection& db, std::int64_t cursor, int limit,
                        std::vector<PlayerChange>& changes);
StoreResult readWouldMove(SqlConnection& db, std::int64_t sessionId, Provider provider,
                          const std::string& accountId, std::int64_t now, bool& moves);

} // namespace sqlstore
