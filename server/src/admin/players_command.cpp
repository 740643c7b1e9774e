#include "admin/players_command.h"
#include "config/document_rules.h"

namespace {

constexpr std::size_t MaxReasonBytes = 200;

const char* const Usage = "usage: players list | players show STEAMID64 | players unlink STEAMID64 |\n"
                          "       players ban STEAMID64 --reason TEXT | players unban STEAMID64\n";

bool isSteamId(const std::string& text) {
    return text.size() == 17 && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}

std::string timeOrDash(bool known, std::int64_t unixSeconds) {
    return known ? timestampOf(unixSeconds) : "-";
}

void printPlayer(const PlayerRecord& p, std::ostream& out) {
    out << "steam_id: " << p.steam.id << "\nsteam_name: " << orDash(p.steam.displayName)
        << "\ndiscord_id: " << (p.discord ? p.discord->id : "-")
        << "\ndiscord_name: " << (p.discord ? p.discord->displayName : "-")
        << "\nlinked: " << (p.linked ? "yes" : "no") << "\nlinked_at: " << timeOrDash(p.linked, p.linkedAt)
        << "\ndiscord_linked_at: " << timeOrDash(p.discord.has_value(), p.discordLinkedAt)
        << "\nhow: " << orDash(p.how) << "\nbanned: " << (p.banned ? "yes" : "no") << "\n";
    if (p.banned)
        out << "ban_reason: " << p.banReason << "\nbanned_at: " << timestampOf(p.bannedAt) << "\n";
}

int listPlayers(LinkStore& store, std::ostream& out, std::ostream& err) {
    std::vector<PlayerRecord> players;
    if (store.listPlayers(players) != StoreResult::Ok) {
        err << "cannot read the players from the database\n";
        return 1;
    }
    // One player a line, tab-separated: names never hold control characters.
    out << "steam_id\tsteam_name\tdiscord_id\tdiscord_name\tlinked_at\tbanned\n";
    for (const PlayerRecord& p : players)
        out << p.steam.id << '\t' << orDash(p.steam.displayName) << '\t' << (p.discord ? p.discord->id : "-")
            << '\t' << (p.discord ? p.discord->displayName : "-") << '\t' << timeOrDash(p.linked, p.linkedAt)
            << '\t' << (p.banned ? "yes" : "no") << '\n';
    return 0;
}

// What each verb tells the admin once the store answered Ok or NotFound.
int answer(StoreResult result, const std::string& done, const std::string& notFound, std::ostream& out,
           std::ostream& err) {
    if (result == StoreResult::Ok) {
        out << done << "\n";
        return 0;
    }
    err << (result == StoreResult::NotFound ? notFound : "the database could not be read or changed") << "\n";
    return 1;
}

int onePlayer(LinkStore& store, const std::vector<std::string>& arguments, std::int64_t now,
              std::ostream& out, std::ostream& err) {
    const std::string& verb = arguments[0];
    const std::string& steamId = arguments[1];
    const std::string account = "the Steam account " + steamId;
    PlayerRecord player;
    const StoreResult found = store.findPlayer(steamId, player);
    if (verb == "show") {
        if (found != StoreResult::Ok)
            return answer(found, "", "no pair or ban for " + account, out, err);
        printPlayer(player, out);
        return 0;
    }
    if (verb == "unlink")
        return answer(
            found == StoreResult::Failed ? found : store.unlinkPlayer(steamId, now),
            "unlinked " + account +
                (player.discord ? " and the Discord account " + player.discord->id : std::string()) +
                "; the player's launchers go back to linking",
            account + " has no pair", out, err);
    if (verb == "ban")
        return answer(store.banPlayer(steamId, arguments[3], now),
                      "banned " + account +
                          (player.linked ? "; its pair stays, refused by the game servers" : ""),
                      "", out, err);
    return answer(store.unbanPlayer(steamId, now), "unbanned " + account, account + " is not banned", out,
                  err);
}

bool isOnePlayerCommand(const std::vector<std::string>& arguments) {
    const std::size_t size = arguments.size();
    const std::string verb = size > 0 ? arguments[0] : "";
    if (verb == "ban")
        return size == 4 && arguments[2] == "--reason";
    return size == 2 && (verb == "show" || verb == "unlink" || verb == "unban");
}

} // namespace

int runPlayersCommand(LinkStore& store, const std::vector<std::string>& arguments, std::int64_t now,
                      std::ostream& out, std::ostream& err) {
    if (arguments.size() == 1 && arguments[0] == "list")
        return listPlayers(store, out, err);
    if (!isOnePlayerCommand(arguments)) {
        err << Usage;
        return 2;
    }
    if (!isSteamId(arguments[1])) {
        err << "expected a SteamID64 (17 digits), got " << arguments[1].substr(0, 40) << "\n";
        return 2;
    }
    if (arguments[0] == "ban" &&
        (arguments[3].empty() || arguments[3].size() > MaxReasonBytes || !isCleanText(arguments[3], false))) {
        err << "the reason must be 1-" << MaxReasonBytes << " bytes of UTF-8 without control characters\n";
        return 2;
    }
    return onePlayer(store, arguments, now, out, err);
}
