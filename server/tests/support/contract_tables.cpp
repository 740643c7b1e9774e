#include "support/contract_tables.h"

#include "config/document_rules.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

using nlohmann::json;

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string document(const std::string& name) {
    const char* folder = std::getenv("ORVANE_DOCS");
    std::ifstream file(std::string(folder ? folder : "docs") + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::size_t limitOf(const std::vector<TableRow>& limits, const std::string& name) {
    for (const TableRow& row : limits)
        if (row[0] == name)
            return std::stoul(row[1]);
    return 0;
}

std::size_t depthOf(const json& value) {
    std::size_t deepest = 0;
    if (value.is_structured())
        for (const auto& item : value)
            deepest = std::max(deepest, depthOf(item));
    return value.is_structured() ? deepest + 1 : 0;
}

// "a–b bytes" or "a–b UTF-16 units".
bool lengthRange(const std::string& cell, std::size_t& low, std::size_t& high, bool& units) {
    const std::string dash = "\xE2\x80\x93";
    const std::size_t at = cell.find(dash);
    if (at == std::string::npos)
        return false;
    low = std::stoul(cell.substr(0, at));
    high = std::stoul(cell.substr(at + dash.size()));
    units = cell.find("UTF-16") != std::string::npos;
    return true;
}

// The members table's own words for the two addresses, not the service's stricter configuration rules.
bool tableServerAddress(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos ||
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789:-.[]") != std::string::npos)
        return false;
    const std::string port = text.substr(colon + 1);
    return !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos &&
           std::stoul(port) >= 1 && std::stoul(port) <= 65535;
}

bool tableCommunityUrl(const std::string& text) {
    const std::string scheme = "https://";
    if (text.compare(0, scheme.size(), scheme) != 0)
        return false;
    const std::size_t end = text.find_first_of("/?#", scheme.size());
    return text.substr(scheme.size(), end - scheme.size()).find('@') == std::string::npos;
}

struct Checker {
    std::vector<TableRow> members = contractTable("members");
    std::vector<std::string> problems;

    void fail(const std::string& where, const std::string& what) { problems.push_back(where + ": " + what); }

    void checkString(const std::string& where, const std::string& member, const std::string& text,
                     const TableRow& row) {
        std::size_t low = 0, high = 0;
        bool units = false;
        if (!lengthRange(row[3], low, high, units)) {
            fail(where, "no length in the table");
            return;
        }
        const std::size_t length = units ? utf16Units(text) : text.size();
        if (length < low || length > high || (units && text.size() > limits::DisplayNameBytes))
            fail(where, "length " + std::to_string(length) + " outside " + row[3]);
        if (!isCleanText(text, member == "body"))
            fail(where, "not clean UTF-8 text");
        const std::string& rule = row[4];
        if (rule.find("timestamp") != std::string::npos && !isTimestamp(text))
            fail(where, "not a timestamp");
        if (member == "token" &&
            text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-") !=
                std::string::npos)
            fail(where, "not the URL-safe alphabet");
        if (rule.find("ASCII digits only") != std::string::npos &&
            text.find_first_not_of("0123456789") != std::string::npos)
            fail(where, "not digits only");
        if (member == "server_address" && !text.empty() && !tableServerAddress(text))
            fail(where, "not host:port");
        if (member == "community_url" && !text.empty() && !tableCommunityUrl(text))
            fail(where, "not an https:// URL without user information");
    }

    void check(const std::string& kind, const json& value, const std::string& where) {
        if (!value.is_object()) {
            fail(where, "not an object");
            return;
        }
        for (const TableRow& row : members) {
            if (row[0] != kind)
                continue;
            const std::string member = unmarked(row[1]);
            const std::string at = where + "." + member;
            if (!value.contains(member)) {
                fail(at, "missing");
                continue;
            }
            const json& item = value[member];
            const std::string& type = row[2];
            if (type == "string") {
                if (item.is_string())
                    checkString(at, member, item.get<std::string>(), row);
                else
                    fail(at, "not a string");
            } else if (type == "boolean" && !item.is_boolean()) {
                fail(at, "not a boolean");
            } else if (type == "integer" && !(item.is_number_integer() && item.get<long long>() > 0)) {
                fail(at, "not an integer greater than 0");
            } else if (type == "null or account" && !item.is_null()) {
                check("account", item, at);
            } else if (type == "array") {
                if (!item.is_array() || item.size() > limitOf(contractTable("document-limits"), "news items"))
                    fail(at, "not an array of at most the news items' limit");
                else
                    for (std::size_t i = 0; i < item.size(); ++i)
                        check("news item", item[i], at + "[" + std::to_string(i) + "]");
            }
        }
    }
};

} // namespace

std::vector<TableRow> contractTable(const std::string& name) {
    return markedTable("link-service.md", "contract", name);
}

std::vector<TableRow> gameServerTable(const std::string& name) {
    return markedTable("game-server.md", "gameserver", name);
}

std::vector<TableRow> markedTable(const std::string& file, const std::string& kind, const std::string& name) {
    const std::string text = document(file);
    const std::string marker = "<!-- " + kind + ": " + name + " -->";
    std::vector<TableRow> rows;
    std::size_t at = text.find(marker);
    if (at == std::string::npos)
        return rows;
    at = text.find('\n', at) + 1;
    int line = 0;
    while (at < text.size() && text[at] == '|') {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string source = text.substr(at, end - at);
        at = end + 1;
        if (line++ < 2)
            continue;
        TableRow row;
        std::size_t start = 1;
        for (std::size_t bar = source.find('|', start); bar != std::string::npos;
             bar = source.find('|', start)) {
            row.push_back(trim(source.substr(start, bar - start)));
            start = bar + 1;
        }
        rows.push_back(row);
    }
    return rows;
}

std::string unmarked(const std::string& cell) {
    if (cell.size() >= 2 && (cell.front() == '`' || cell.front() == '"') && cell.back() == cell.front())
        return cell.substr(1, cell.size() - 2);
    return cell;
}

std::vector<std::string> documentProblems(const std::string& kind, const std::string& body) {
    const auto limits = contractTable("document-limits");
    Checker checker;
    if (limits.empty() || checker.members.empty())
        return {"the document's contract tables were not found (ORVANE_DOCS)"};
    if (body.size() > limitOf(limits, "body size"))
        checker.fail(kind, "body over the size limit");
    const json value = json::parse(body, nullptr, false);
    if (value.is_discarded())
        return {kind + ": not JSON"};
    if (depthOf(value) > limitOf(limits, "nesting depth"))
        checker.fail(kind, "nested too deep");
    if (value.is_object() && value.size() > limitOf(limits, "members of the top-level object"))
        checker.fail(kind, "too many members");
    checker.check(kind, value, kind);
    return checker.problems;
}
