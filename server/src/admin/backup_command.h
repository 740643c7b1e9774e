#pragma once
// `backup DEST`: a consistent copy of the SQLite database while the service keeps serving.
#include <ostream>
#include <string>

// SQLite's online backup, a few pages at a time so the service's writes are not held up for long; a write
// during the copy makes SQLite start over, so the copy is always one moment's database. DEST must not
// exist yet. 0 on success, 1 with the reason on err.
int runBackup(const std::string& database, const std::string& destination, std::ostream& out,
              std::ostream& err);
