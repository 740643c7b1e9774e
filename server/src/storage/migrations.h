#pragma once
// The schema, as numbered migrations shared by both backends and applied at start. A database whose
// version is newer than this program's is refused: an older program would misread it.
#include "storage/sql_connection.h"

#include <string>

int latestSchemaVersion();

// Brings the database up to latestSchemaVersion() in one transaction; false with the reason otherwise.
bool migrateSchema(SqlConnection& connection, std::string& error);
