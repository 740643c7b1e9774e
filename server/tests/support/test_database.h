#pragma once
// The database a storage or service test runs on: the PostgreSQL server of with-postgres.sh when
// ORVANE_TEST_POSTGRES is set (emptied for each test), otherwise a SQLite file in the test's folder. The
// same tests thus run on both backends.
#include "support/temp_folder.h"

#include <string>

std::string freshTestDatabase(const TempFolder& folder);
bool testsUsePostgres();

// Runs SQL statements straight on the database, behind the store's back; false when they failed.
bool runRawSql(const std::string& database, const std::string& sql);

// Everything the database holds, as text, to look for what must never be stored (call it with the
// stores closed, so a SQLite file has its write-ahead log folded in).
std::string databaseContents(const std::string& database);
