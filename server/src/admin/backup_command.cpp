#include "admin/backup_command.h"
#include "storage/sql_connection.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

constexpr int PagesPerStep = 256;
constexpr int BusyRetries = 600; // 100 ms apart: a minute of the service holding a lock

struct Database {
    sqlite3* handle = nullptr;
    ~Database() { sqlite3_close(handle); }
};

} // namespace

int runBackup(const std::string& database, const std::string& destination, std::ostream& out,
              std::ostream& err) {
    // The connection string may hold a password: it is never echoed.
    if (isPostgresDatabase(database)) {
        err << "backup: the database is PostgreSQL; back it up with pg_dump (docs/running-the-service.md)\n";
        return 1;
    }
    std::error_code ec;
    // Made here, only for the service's user, and only where nothing stands: not over a file, and not
    // through a link (a dangling one included) to somewhere else.
    const int made = ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made < 0) {
        err << "backup: cannot create " << destination << ": "
            << (errno == EEXIST ? "it exists already (a file or a link); give a new file"
                                : std::strerror(errno))
            << "\n";
        return 1;
    }
    ::close(made);
    Database source;
    Database copy;
    if (sqlite3_open_v2(database.c_str(), &source.handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        err << "backup: cannot open " << database << ": " << sqlite3_errmsg(source.handle) << "\n";
        std::filesystem::remove(destination, ec);
        return 1;
    }
    if (sqlite3_open_v2(destination.c_str(), &copy.handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        err << "backup: cannot create " << destination << ": " << sqlite3_errmsg(copy.handle) << "\n";
        return 1;
    }
    sqlite3_backup* backup = sqlite3_backup_init(copy.handle, "main", source.handle, "main");
    if (!backup) {
        err << "backup: " << sqlite3_errmsg(copy.handle) << "\n";
        return 1;
    }
    int step = SQLITE_OK;
    int busy = 0;
    while (step == SQLITE_OK || ((step == SQLITE_BUSY || step == SQLITE_LOCKED) && busy++ < BusyRetries)) {
        step = sqlite3_backup_step(backup, PagesPerStep);
        if (step != SQLITE_DONE)
            std::this_thread::sleep_for(std::chrono::milliseconds(step == SQLITE_OK ? 1 : 100));
    }
    const int pages = sqlite3_backup_pagecount(backup);
    sqlite3_backup_finish(backup);
    if (step != SQLITE_DONE) {
        err << "backup: the copy did not complete: " << sqlite3_errstr(step) << "\n";
        std::filesystem::remove(destination, ec);
        return 1;
    }
    out << "backup: " << database << " copied to " << destination << " (" << pages << " pages)\n";
    return 0;
}
