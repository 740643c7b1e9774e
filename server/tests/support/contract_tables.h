#pragma once
// The tables of docs/link-service.md marked "<!-- contract: NAME -->", read as the launcher's tests read
// them, and a checker of the service's documents that follows the members table row by row.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using TableRow = std::vector<std::string>;

// The rows (header and separator left out) of the table marked "<!-- KIND: NAME -->" in docs/FILE; cells
// trimmed, `marks` kept.
std::vector<TableRow> markedTable(const std::string& file, const std::string& kind, const std::string& name);
// docs/link-service.md's "contract" tables and docs/game-server.md's "gameserver" tables.
std::vector<TableRow> contractTable(const std::string& name);
std::vector<TableRow> gameServerTable(const std::string& name);
// A cell without its surrounding backticks or double quotes.
std::string unmarked(const std::string& cell);

// What breaks the launcher's rules in a document of the kind ("configuration", "session", "link status",
// "link"), nested documents ("news item", "account") included; empty when the launcher accepts it.
std::vector<std::string> documentProblems(const std::string& kind, const std::string& body);
