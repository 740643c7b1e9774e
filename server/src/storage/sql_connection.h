#pragma once
// One connection to the database under the link store, SQLite or PostgreSQL: the store's SQL is written
// once, with $1, $2 … parameters, in the dialect both accept.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

using SqlValue = std::variant<std::int64_t, std::string>;

class SqlRow {
  public:
    virtual std::int64_t integer(int column) const = 0;
    virtual std::string text(int column) const = 0;
    virtual bool isNull(int column) const = 0;

  protected:
    ~SqlRow() = default;
};

using OnSqlRow = std::function<void(const SqlRow&)>;

class SqlConnection {
  public:
    virtual ~SqlConnection() = default;
    // One statement; each row goes to onRow, the count of rows it wrote to changed. False when it failed
    // (a lost connection is made again at the next statement).
    virtual bool run(const char* sql, const std::vector<SqlValue>& values, const OnSqlRow& onRow,
                     std::int64_t* changed = nullptr) = 0;
    // Statements without parameters, separated by ';' (the schema migrations).
    virtual bool script(const std::string& sql, std::string& error) = 0;
    // What a write transaction starts with, and the column type of a generated 64-bit key.
    virtual const char* beginWrite() const = 0;
    virtual const char* generatedKey() const = 0;
    // Run inside the migrations' transaction so two instances starting together apply them once.
    virtual const char* lockSchema() const = 0;
};

// A postgresql:// or postgres:// connection string; anything else is the path of a SQLite file.
bool isPostgresDatabase(const std::string& database);

// Null, with the reason (never the connection string itself, which may hold a password), when the
// database cannot be reached.
std::unique_ptr<SqlConnection> connectSqlite(const std::string& path, std::string& error);
std::unique_ptr<SqlConnection> connectPostgres(const std::string& connectionString, std::string& error);
std::unique_ptr<SqlConnection> connectDatabase(const std::string& database, std::string& error);
