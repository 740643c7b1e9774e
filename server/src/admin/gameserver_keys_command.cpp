#include "admin/gameserver_keys_command.h"
#include "config/document_rules.h"
#include "storage/secrets.h"

namespace {

constexpr std::size_t MaxNameBytes = 64;

const char* const Usage =
    "usage: gameserver-keys add NAME | gameserver-keys list | gameserver-keys revoke NAME\n"
    "       NAME: 1-64 of a-z 0-9 . _ -\n";

bool isKeyName(const std::string& name) {
    return !name.empty() && name.size() <= MaxNameBytes &&
           name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789._-") == std::string::npos;
}

int addKey(LinkStore& store, const std::string& name, std::int64_t now, std::ostream& out,
           std::ostream& err) {
    std::string key;
    if (!newRandomToken(key)) {
        err << "cannot make a key: the system's random source failed\n";
        return 1;
    }
    const StoreResult result = store.addGameServerKey({name, sha256Hex(key), now});
    if (result == StoreResult::Ok)
        out << "added the game-server key " << name << "\n"
            << key << "\n"
            << "This key is shown only now: put it in the game server's configuration. The service keeps "
               "only "
               "its hash; if it is lost, revoke it and add another.\n";
    else if (result == StoreResult::Conflict)
        err << "a game-server key is already named " << name << "; revoke it first or choose another name\n";
    else
        err << "the database could not be changed\n";
    wipe(key);
    return result == StoreResult::Ok ? 0 : 1;
}

int listKeys(LinkStore& store, std::ostream& out, std::ostream& err) {
    std::vector<GameServerKey> keys;
    if (store.listGameServerKeys(keys) != StoreResult::Ok) {
        err << "cannot read the game-server keys from the database\n";
        return 1;
    }
    out << "name\tcreated_at\n";
    for (const GameServerKey& key : keys)
        out << key.name << '\t' << timestampOf(key.createdAt) << '\n';
    return 0;
}

int revokeKey(LinkStore& store, const std::string& name, std::ostream& out, std::ostream& err) {
    const StoreResult result = store.revokeGameServerKey(name);
    if (result == StoreResult::Ok)
        out << "revoked the game-server key " << name << "; game servers using it are refused from now on\n";
    else if (result == StoreResult::NotFound)
        err << "no game-server key is named " << name << "\n";
    else
        err << "the database could not be changed\n";
    return result == StoreResult::Ok ? 0 : 1;
}

} // namespace

int runGameServerKeysCommand(LinkStore& store, const std::vector<std::string>& arguments, std::int64_t now,
                             std::ostream& out, std::ostream& err) {
    const std::string verb = arguments.empty() ? std::string() : arguments[0];
    if (verb == "list" && arguments.size() == 1)
        return listKeys(store, out, err);
    if ((verb == "add" || verb == "revoke") && arguments.size() == 2) {
        if (!isKeyName(arguments[1])) {
            err << "a key's name is 1-64 of a-z 0-9 . _ -, got " << arguments[1].substr(0, 70) << "\n";
            return 2;
        }
        return verb == "add" ? addKey(store, arguments[1], now, out, err)
                             : revokeKey(store, arguments[1], out, err);
    }
    err << Usage;
    return 2;
}
