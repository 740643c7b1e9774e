#include "storage/sql_connection.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>

namespace {

constexpr int BusyTimeoutMs = 5000;

class SqliteRow final : public SqlRow {
  public:
    explicit SqliteRow(sqlite3_stmt* statement) : statement_(statement) {}
    std::int64_t integer(int column) const override { return sqlite3_column_int64(statement_, column); }
    std::string text(int column) const override {
        const auto* bytes = sqlite3_column_text(statement_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                                   static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)))
                     : std::string();
    }
    bool isNull(int column) const override { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

  private:
    sqlite3_stmt* statement_;
};

class SqliteConnection final : public SqlConnection {
  public:
    explicit SqliteConnection(sqlite3* db) : db_(db) {}
    ~SqliteConnection() override {
        for (auto& [sql, statement] : statements_)
            sqlite3_finalize(statement);
        sqlite3_close(db_);
    }

    bool run(const char* sql, const std::vector<SqlValue>& values, const OnSqlRow& onRow,
             std::int64_t* changed) override {
        sqlite3_stmt* statement = prepare(sql, values);
        if (!statement)
            return false;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW)
            if (onRow)
                onRow(SqliteRow(statement));
        sqlite3_reset(statement);
        if (changed)
            *changed = sqlite3_changes64(db_);
        return step == SQLITE_DONE;
    }

    bool script(const std::string& sql, std::string& error) override {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        error = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }

    const char* beginWrite() const override { return "BEGIN IMMEDIATE"; }
    const char* generatedKey() const override { return "INTEGER PRIMARY KEY"; }
    const char* lockSchema() const override { return "SELECT 1"; }

  private:
    // Parameters are named $1, $2 …: bound by name, so their order in the text does not matter.
    sqlite3_stmt* prepare(const char* sql, const std::vector<SqlValue>& values) {
        sqlite3_stmt*& statement = statements_[sql];
        if (!statement &&
            sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            return nullptr;
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        for (std::size_t i = 0; i < values.size(); ++i) {
            char name[24];
            std::snprintf(name, sizeof name, "$%zu", i + 1);
            const int index = sqlite3_bind_parameter_index(statement, name);
            if (index == 0)
                return nullptr;
            if (const auto* number = std::get_if<std::int64_t>(&values[i]))
                sqlite3_bind_int64(statement, index, *number);
            else
                sqlite3_bind_text(statement, index, std::get<std::string>(values[i]).data(),
                                  static_cast<int>(std::get<std::string>(values[i]).size()),
                                  SQLITE_TRANSIENT);
        }
        return statement;
    }

    sqlite3* db_;
    std::map<const char*, sqlite3_stmt*> statements_;
};

} // namespace

bool isPostgresDatabase(const std::string& database) {
    return database.starts_with("postgresql://") || database.starts_with("postgres://");
}

std::unique_ptr<SqlConnection> connectDatabase(const std::string& database, std::string& error) {
    return isPostgresDatabase(database) ? connectPostgres(database, error) : connectSqlite(database, error);
}

namespace {

// Token hashes and the community's pairs are for the service's user alone: a new file is made 0600, and an
// older one readable by others (with its -wal and -shm, which SQLite gives the database's mode) is narrowed.
void keepPrivate(const std::string& path, bool afterOpening) {
    if (!afterOpening) {
        const int made = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made >= 0)
            ::close(made);
        return;
    }
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat status {};
        const std::string file = path + suffix;
        if (::lstat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077) != 0 &&
            status.st_uid == ::geteuid())
            ::chmod(file.c_str(), status.st_mode & 0700);
    }
}

} // namespace

std::unique_ptr<SqlConnection> connectSqlite(const std::string& path, std::string& error) {
    keepPrivate(path, false);
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    auto connection = std::make_unique<SqliteConnection>(db);
    std::string why;
    if (!connection->script(
            "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON", why)) {
        error = path + ": " + why;
        return nullptr;
    }
    keepPrivate(path, true);
    return connection;
}
