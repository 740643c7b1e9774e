#include "bench_options.h"

#include <boost/asio/ip/address.hpp>

#include <charconv>
#include <cmath>

namespace {

bool parseNumber(const std::string& text, double low, double high, double& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && std::isfinite(out) && out >= low && out <= high;
}

bool parseInt(const std::string& text, int low, int high, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end && out >= low && out <= high;
}

// host:port with a numeric address: the benchmark never resolves names, so it can only reach what it is
// given.
bool parseTarget(const std::string& text, BenchOptions& o) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    boost::system::error_code ec;
    boost::asio::ip::make_address(address, ec);
    int port = 0;
    if (ec || !parseInt(text.substr(colon + 1), 1, 65535, port))
        return false;
    o.address = address;
    o.port = std::to_string(port);
    return true;
}

std::string check(const BenchOptions& o) {
    if (o.address.empty())
        return "--target host:port is required (a numeric address)";
    if (o.host.empty() || o.caFile.empty())
        return "--host and --ca are required";
    if (o.createSessions > 0)
        return o.saveTokens.empty() ? "--sessions needs --save-tokens FILE" : "";
    if (o.saturate == (o.rate > 0))
        return "give exactly one of --rate N and --saturate";
    if (o.basePath.empty() || o.basePath.front() != '/')
        return "--base-path must start with /";
    return "";
}

} // namespace

int defaultConnections(const BenchOptions& o) {
    if (o.connections > 0)
        return o.connections;
    if (o.saturate)
        return 64;
    // Open loop: the pool of kept-alive connections, or the cap on connections being set up at once.
    return o.keepAlive ? 200 : 2000;
}

const char* benchUsage() {
    return "usage: orvane-link-bench --target IP:PORT --host NAME --ca FILE\n"
           "         (--rate N | --saturate) [--seconds N] [--keep-alive] [--startups] [--connections N]\n"
           "         [--threads N]\n"
           "         [--token T]... [--token-file FILE] [--timeout-ms N] [--base-path P] [--label TEXT]\n"
           "         [--idle N] [--trickle N] [--silent-tcp N] [--watch-pid PID]\n"
           "       orvane-link-bench --target IP:PORT --host NAME --ca FILE --sessions N --save-tokens FILE\n"
           "Requests alternate GET /config and GET /session (the tokens taken in turn) as a launcher at "
           "rest\n"
           "polls. --rate schedules requests at a fixed rate and measures each from its scheduled time, so\n"
           "queueing counts. Without --keep-alive every request has a TLS connection of its own.\n"
           "--startups: launchers starting instead, each POST /sessions, GET /config and GET /session (an\n"
           "existing token: the service does the same work as for the new one).\n";
}

ParsedOptions parseBenchOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    BenchOptions& o = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            parsed.help = true;
            return parsed;
        }
        if (name == "--saturate") {
            o.saturate = true;
            continue;
        }
        if (name == "--keep-alive") {
            o.keepAlive = true;
            continue;
        }
        if (name == "--startups") {
            o.startups = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            parsed.error = "unknown option or missing value: " + name;
            return parsed;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (name == "--target")
            ok = parseTarget(value, o);
        else if (name == "--host")
            o.host = value;
        else if (name == "--ca")
            o.caFile = value;
        else if (name == "--base-path")
            o.basePath = value;
        else if (name == "--label")
            o.label = value;
        else if (name == "--rate")
            ok = parseNumber(value, 0.001, 1e6, o.rate);
        else if (name == "--seconds")
            ok = parseNumber(value, 0.1, 3600, o.seconds);
        else if (name == "--connections")
            ok = parseInt(value, 1, 100000, o.connections);
        else if (name == "--threads")
            ok = parseInt(value, 1, 64, o.threads);
        else if (name == "--timeout-ms")
            ok = parseInt(value, 1, 600000, o.timeoutMs);
        else if (name == "--token")
            o.tokens.push_back(value);
        else if (name == "--token-file")
            o.tokenFile = value;
        else if (name == "--sessions")
            ok = parseInt(value, 1, 1000000, o.createSessions);
        else if (name == "--save-tokens")
            o.saveTokens = value;
        else if (name == "--idle")
            ok = parseInt(value, 0, 50000, o.idle);
        else if (name == "--trickle")
            ok = parseInt(value, 0, 50000, o.trickle);
        else if (name == "--silent-tcp")
            ok = parseInt(value, 0, 50000, o.silentTcp);
        else if (name == "--watch-pid")
            ok = parseInt(value, 1, 1 << 30, o.watchPid);
        else
            ok = false;
        if (!ok) {
            parsed.error = "bad value for " + name + " (or unknown option)";
            return parsed;
        }
    }
    parsed.error = check(o);
    return parsed;
}
