#pragma once
// `restore SOURCE`: a backup put in place of the SQLite database, with the service stopped.
#include <ostream>
#include <string>

// SOURCE must be a whole link-service database of a schema this program knows (not newer); the database
// must not be open in a running service. The copy replaces the database in one rename, with the old file's
// owner and mode 0600, and the old -wal, -shm and -journal files are gone first, so none is ever applied to
// the restored file. 0 on success, 1 with the reason on err.
int runRestore(const std::string& database, const std::string& source, std::ostream& out, std::ostream& err);
