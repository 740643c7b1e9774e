// orvane-gameserver-bench: the game servers' reads of the player records, measured against a service on
// plain HTTP. Prints one block of figures; see server/BENCHMARK.md and tools/bench-players.sh.
#include "gameserver_runs.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    "usage: orvane-gameserver-bench lookups|feed --target IP:PORT --key-file FILE --watch-pid PID\n"
    "                               [--database-pid PID] [--host NAME]\n"
    "                               [--pairs N] [--with-discord N]  what the seed wrote\n"
    "  lookups: [--count N] [--clients N] [--unknown-share 0..1]\n"
    "  feed:    [--fills N] [--limit N]\n"
    "The key file's first line is the game-server key; it is never printed.\n";

// Read through a buffer of our own, wiped, so no stream's buffer keeps a copy of the key.
bool readKey(const std::string& path, std::string& key) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[512];
    const ssize_t got = ::read(fd, text, sizeof text);
    ::close(fd);
    std::size_t length = 0;
    while (got > 0 && length < static_cast<std::size_t>(got) && text[length] != '\n' && text[length] != '\r')
        ++length;
    key.reserve(sizeof text);
    key.assign(text, length);
    OPENSSL_cleanse(text, sizeof text);
    return !key.empty();
}

bool whole(const std::string& text, long low, long high, int& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    const long parsed = std::stol(text);
    value = static_cast<int>(parsed);
    return parsed >= low && parsed <= high;
}

struct Options {
    std::string mode;
    GameServerTarget target;
    std::string keyFile;
    SeededPairs seed;
    LookupPlan lookups;
    FeedPlan feed;
};

// Empty when usable.
std::string parse(const std::vector<std::string>& args, Options& o) {
    if (args.empty() || (args[0] != "lookups" && args[0] != "feed"))
        return "the first argument is lookups or feed";
    o.mode = args[0];
    for (std::size_t i = 1; i < args.size(); i += 2) {
        const std::string& name = args[i];
        if (i + 1 >= args.size())
            return name + " needs a value";
        const std::string& value = args[i + 1];
        bool ok = true;
        if (name == "--target") {
            const std::size_t colon = value.rfind(':');
            ok = colon != std::string::npos && colon > 0 && colon + 1 < value.size();
            if (ok) {
                o.target.address = value.substr(0, colon);
                o.target.port = value.substr(colon + 1);
            }
        } else if (name == "--host")
            o.target.host = value;
        else if (name == "--key-file")
            o.keyFile = value;
        else if (name == "--watch-pid")
            ok = whole(value, 1, 1 << 30, o.target.servicePid);
        else if (name == "--database-pid")
            ok = whole(value, 1, 1 << 30, o.target.databasePid);
        else if (name == "--count")
            ok = whole(value, 1, 10000000, o.lookups.count);
        else if (name == "--clients")
            ok = whole(value, 1, 64, o.lookups.clients);
        else if (name == "--pairs")
            ok = whole(value, 1, 9999999, o.seed.pairs);
        else if (name == "--with-discord")
            ok = whole(value, 0, 9999999, o.seed.withDiscord);
        else if (name == "--unknown-share") {
            char* end = nullptr;
            o.lookups.unknownShare = std::strtod(value.c_str(), &end);
            ok = !value.empty() && *end == '\0' && o.lookups.unknownShare >= 0 && o.lookups.unknownShare <= 1;
        } else if (name == "--fills")
            ok = whole(value, 1, 100, o.feed.fills);
        else if (name == "--limit")
            ok = whole(value, 1, 5000, o.feed.limit);
        else
            return "unknown option " + name;
        if (!ok)
            return "bad value for " + name;
    }
    if (o.target.address.empty() || o.keyFile.empty() || o.target.servicePid == 0)
        return "--target, --key-file and --watch-pid are needed";
    if (o.seed.withDiscord > o.seed.pairs)
        return "--with-discord is more than --pairs";
    return "";
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::string error = parse(std::vector<std::string>(argv + 1, argv + argc), o); !error.empty()) {
        std::fprintf(stderr, "orvane-gameserver-bench: %s\n%s", error.c_str(), Usage);
        return 64;
    }
    if (!readKey(o.keyFile, o.target.key)) {
        std::fprintf(stderr, "orvane-gameserver-bench: no key in %s\n", o.keyFile.c_str());
        return 66;
    }
    const int result = o.mode == "lookups" ? runLookups(o.target, o.seed, o.lookups)
                                           : runFeedFills(o.target, o.seed, o.feed);
    std::fflush(stdout);
    OPENSSL_cleanse(o.target.key.data(), o.target.key.size());
    return result;
}
