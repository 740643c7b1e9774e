#pragma once
// The load generator's command line, parsed into one record and checked before anything connects.
#include <string>
#include <vector>

struct BenchOptions {
    std::string address; // numeric IP of --target
    std::string port;
    std::string host; // sent as SNI and Host, and checked against the certificate
    std::string caFile;
    std::string basePath = "/orvane-launcher/v1/9e3f51d0";
    std::string label;
    double rate = 0;       // scheduled requests per second (open loop); 0 with saturate
    bool saturate = false; // closed loop: every connection asks again as soon as it is answered
    double seconds = 10;
    bool keepAlive = false; // otherwise a new TLS connection per request
    // Launchers starting instead of polling: POST /sessions, GET /config, GET /session in turn.
    bool startups = false;
    int connections = 0; // 0: the default of the mode (see defaultConnections)
    int threads = 1;
    int timeoutMs = 10000;
    std::vector<std::string> tokens; // never printed
    std::string tokenFile;           // one token a line
    int createSessions = 0;          // POST /sessions this many times, save the tokens, then stop
    std::string saveTokens;
    int idle = 0;      // TLS connections opened and then left silent
    int trickle = 0;   // TLS connections sending a request one byte a second
    int silentTcp = 0; // TCP connections that never begin the TLS handshake
    int watchPid = 0;
};

struct ParsedOptions {
    BenchOptions options;
    std::string error; // empty when the command line is usable
    bool help = false;
};

ParsedOptions parseBenchOptions(const std::vector<std::string>& args);
int defaultConnections(const BenchOptions& options);
const char* benchUsage();
