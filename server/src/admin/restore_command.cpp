#include "admin/restore_command.h"
#include "storage/migrations.h"
#include "storage/sql_connection.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

namespace {

struct Database {
    sqlite3* handle = nullptr;
    ~Database() { sqlite3_close(handle); }
};

// The first column of the first row, or empty; false when the statement failed.
bool firstValue(sqlite3* db, const char* sql, std::string& value) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return false;
    const int step = sqlite3_step(statement);
    const unsigned char* text = step == SQLITE_ROW ? sqlite3_column_text(statement, 0) : nullptr;
    value = text ? reinterpret_cast<const char*>(text) : "";
    sqlite3_finalize(statement);
    return step == SQLITE_ROW || step == SQLITE_DONE;
}

// A whole database with the service's tables at a schema version this program knows; why not otherwise.
std::string refuseSource(const std::string& source, int& version) {
    Database db;
    if (sqlite3_open_v2(source.c_str(), &db.handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return std::string("cannot open it: ") + sqlite3_errmsg(db.handle);
    std::string value;
    if (!firstValue(db.handle, "PRAGMA integrity_check", value))
        return std::string("it is not a SQLite database: ") + sqlite3_errmsg(db.handle);
    if (value != "ok")
        return "it is damaged (SQLite's integrity check: " + value + ")";
    if (!firstValue(db.handle,
                    "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                    "name IN ('schema_migrations', 'pairs', 'sessions', 'bans')",
                    value) ||
        value != "4")
        return "it is not a link-service database (it lacks the service's tables)";
    if (!firstValue(db.handle, "SELECT COALESCE(MAX(version), 0) FROM schema_migrations", value))
        return std::string("cannot read its schema version: ") + sqlite3_errmsg(db.handle);
    version = std::stoi(value);
    if (version > latestSchemaVersion())
        return "its schema is version " + value + ", newer than this program's version " +
               std::to_string(latestSchemaVersion()) + ": restore it with the program that made it";
    return {};
}

// A running service keeps its connections open, and SQLite leaves WAL mode only for the last connection:
// so leaving it tells whether the service holds the file, and folds the old -wal into it on the way.
std::string refuseInUse(const std::string& database) {
    Database db;
    if (sqlite3_open_v2(database.c_str(), &db.handle, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return {}; // nothing to hold, or a file beyond use: it is replaced all the same
    sqlite3_busy_timeout(db.handle, 0);
    const int result = sqlite3_exec(db.handle, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
    if (result == SQLITE_BUSY || result == SQLITE_LOCKED)
        return "the database is in use: stop the service first (systemctl stop orvane-link-service)";
    return {};
}

bool copyInto(const std::string& source, const std::string& target, std::string& error) {
    Database from, to;
    for (auto [path, db, flags] :
         {std::tuple{&source, &from, SQLITE_OPEN_READONLY}, std::tuple{&target, &to, SQLITE_OPEN_READWRITE}})
        if (sqlite3_open_v2(path->c_str(), &db->handle, flags, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db->handle);
            return false;
        }
    sqlite3_backup* backup = sqlite3_backup_init(to.handle, "main", from.handle, "main");
    const int step = backup ? sqlite3_backup_step(backup, -1) : SQLITE_ERROR;
    sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE) {
        error = sqlite3_errmsg(to.handle);
        return false;
    }
    return true;
}

bool syncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    return synced;
}

} // namespace

int runRestore(const std::string& database, const std::string& source, std::ostream& out, std::ostream& err) {
    if (isPostgresDatabase(database)) {
        err << "restore: the database is PostgreSQL; restore it with pg_restore "
               "(docs/running-the-service.md)\n";
        return 1;
    }
    int version = 0;
    if (const std::string why = refuseSource(source, version); !why.empty()) {
        err << "restore: " << source << ": " << why << "\n";
        return 1;
    }
    struct stat old {};
    const bool replacing = ::lstat(database.c_str(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode)) {
        err << "restore: " << database << " is not a regular file\n";
        return 1;
    }
    if (const std::string why = refuseInUse(database); !why.empty()) {
        err << "restore: " << why << "\n";
        return 1;
    }
    const std::string staging = database + ".restoring-" + std::to_string(::getpid());
    std::error_code ignored;
    const auto fail = [&](const std::string& why) {
        err << "restore: " << why << "\n";
        std::filesystem::remove(staging, ignored);
        return 1;
    };
    const int made = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made < 0)
        return fail("cannot create " + staging + ": " + std::strerror(errno));
    // The restored file belongs to whoever owned the one it replaces (the service's user), even when root
    // runs this.
    const bool owned = !replacing || ::geteuid() != 0 || ::fchown(made, old.st_uid, old.st_gid) == 0;
    const bool mode = ::fchmod(made, 0600) == 0;
    ::close(made);
    if (!owned || !mode)
        return fail("cannot give " + staging + " the database's owner and mode: " + std::strerror(errno));
    std::string error;
    if (!copyInto(source, staging, error))
        return fail("cannot copy " + source + ": " + error);
    if (!syncPath(staging, O_RDONLY))
        return fail("cannot write " + staging + " to disk: " + std::strerror(errno));
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const std::string stale = database + suffix;
        if (::unlink(stale.c_str()) != 0 && errno != ENOENT)
            return fail("cannot remove " + stale + ": " + std::strerror(errno));
    }
    if (::rename(staging.c_str(), database.c_str()) != 0)
        return fail("cannot put the copy in place of " + database + ": " + std::strerror(errno));
    const std::string folder = std::filesystem::absolute(database).parent_path().string();
    syncPath(folder, O_RDONLY | O_DIRECTORY);
    out << "restore: " << database << " is now " << source << " (schema version " << version
        << "); start the service\n";
    return 0;
}
