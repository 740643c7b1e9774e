#include "support/test_database.h"
#include "storage/sql_connection.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::string postgresUnderTest() {
    const char* value = std::getenv("ORVANE_TEST_POSTGRES");
    return value ? value : "";
}

} // namespace

bool testsUsePostgres() {
    return !postgresUnderTest().empty();
}

std::string freshTestDatabase(const TempFolder& folder) {
    if (!testsUsePostgres())
        return folder.file("links.sqlite3");
    runRawSql(postgresUnderTest(), "DROP SCHEMA public CASCADE; CREATE SCHEMA public");
    return postgresUnderTest();
}

bool runRawSql(const std::string& database, const std::string& sql) {
    std::string error;
    const std::unique_ptr<SqlConnection> connection = connectDatabase(database, error);
    return connection && connection->script(sql, error);
}

std::string databaseContents(const std::string& database) {
    if (!isPostgresDatabase(database)) {
        std::ifstream file(database, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }
    std::string error, contents;
    const std::unique_ptr<SqlConnection> connection = connectDatabase(database, error);
    if (!connection)
        return {};
    for (const char* sql : {"SELECT t::text FROM sessions t", "SELECT t::text FROM pairs t",
                            "SELECT t::text FROM states t", "SELECT t::text FROM confirmations t",
                            "SELECT t::text FROM gameserver_keys t", "SELECT t::text FROM nonces t"})
        connection->run(sql, {}, [&](const SqlRow& row) { contents += row.text(0) + "\n"; });
    return contents;
}
