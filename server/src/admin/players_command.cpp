#include "admin/players_command.h"
#include "config/document_rules.h"

namespace {

bool isSteamId(const std::string& text) {
    return text.size() == 17 && text.find_first_not_of("0123456789") == std::string::npos;
}

void printPlayer(const PlayerRecord& player, std::ostream& out) {
    out << "steam_id: " << player.steam.id << "\nsteam_name: " << player.steam.displayName
        << "\ndiscord_id: " << (player.discord ? player.discord->id : "-")
        << "\ndiscord_name: " << (player.discord ? player.discord->displayName : "-")
        << "\nlinked_at: " << timestampOf(player.linkedAt) << "\n";
}

} // namespace

int runPlayersCommand(LinkStore& store, const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err) {
    const std::string verb = arguments.empty() ? std::string() : arguments[0];
    if (verb == "list" && arguments.size() == 1) {
        std::vector<PlayerRecord> players;
        if (store.listPlayers(players) != StoreResult::Ok) {
            err << "cannot read the players from the database\n";
            return 1;
        }
        // One player a line, tab-separated: names never hold control characters.
        out << "steam_id\tsteam_name\tdiscord_id\tdiscord_name\tlinked_at\n";
        for (const PlayerRecord& p : players)
            out << p.steam.id << '\t' << p.steam.displayName << '\t' << (p.discord ? p.discord->id : "-")
                << '\t' << (p.discord ? p.discord->displayName : "-") << '\t' << timestampOf(p.linkedAt)
                << '\n';
        return 0;
    }
    if ((verb == "show" || verb == "unlink") && arguments.size() == 2) {
        const std::string& steamId = arguments[1];
        if (!isSteamId(steamId)) {
            err << "expected a SteamID64 (17 digits), got " << steamId.substr(0, 40) << "\n";
            return 2;
        }
        PlayerRecord player;
        const StoreResult found = store.findPlayer(steamId, player);
        if (found == StoreResult::NotFound) {
            err << "no player has linked the Steam account " << steamId << "\n";
            return 1;
        }
        if (found != StoreResult::Ok ||
            (verb == "unlink" && store.unlinkPlayer(steamId) != StoreResult::Ok)) {
            err << "the database could not be read or changed\n";
            return 1;
        }
        if (verb == "show")
            printPlayer(player, out);
        else
            out << "unlinked the Steam account " << steamId
                << (player.discord ? " and the Discord account " + player.discord->id : std::string())
                << "; the player's launcher goes back to linking\n";
        return 0;
    }
    err << "usage: players list | players show STEAMID64 | players unlink STEAMID64\n";
    return 2;
}
