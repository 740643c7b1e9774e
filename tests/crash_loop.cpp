// Saves in a loop until it is killed, for tools/crash-safe-run.py, which kills it at random moments and
// checks what each kill left behind.
//
//   crash_loop session FOLDER SEED   prints "L <token>" (or "L -") for what the session store loads
//                                    from FOLDER\launcher-session.dat, then for i = 1, 2, …: "S <token>"
//                                    before saving a new token and "D 1" once it is saved
//   crash_loop config FOLDER SEED    for i = 1, 2, …: "S <n>" before writing the configuration of
//                                    number n = SEED + i to FOLDER\OrvaneGaming.ini and "D 1" after
// A refused save prints "D 0" and ends with exit code 3.
#include "config/launcher_config.h"
#include "link/session_store.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr size_t kTokenLength = 43;
constexpr int kNewsLines = 40;

uint64_t splitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::string tokenFor(uint64_t seed, uint64_t i) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    uint64_t state = seed * 0x100000001B3ull + i;
    std::string token;
    while (token.size() < kTokenLength)
        token += alphabet[splitMix(state) & 63];
    return token;
}

// The numbered configuration the run script rebuilds to recognise a whole file.
void configFor(uint64_t n, LauncherConfig& config) {
    config = {};
    std::swprintf(config.server, 192, L"rp.orvane.test:27015");
    std::swprintf(config.community, 512, L"https://orvane.example/foro");
    std::swprintf(config.news_title, 160, L"Noticia %llu", static_cast<unsigned long long>(n));
    std::wstring body;
    for (int line = 0; line < kNewsLines; ++line)
        body += L"Línea " + std::to_wstring(n) + L"\n";
    std::swprintf(config.news_body, 1200, L"%ls", body.c_str());
    std::swprintf(config.background, 128, L"scene.png");
}

void say(const char* kind, const std::string& value) {
    std::printf("%s %s\n", kind, value.c_str());
    std::fflush(stdout);
}

int saveLoop(const std::wstring& folder, uint64_t seed) {
    const std::wstring path = folder + L"\\launcher-session.dat";
    const SessionToken loaded = loadSessionToken(path.c_str());
    say("L", loaded.empty() ? "-" : std::string(loaded.view()));
    for (uint64_t i = 1;; ++i) {
        const std::string token = tokenFor(seed, i);
        say("S", token);
        if (!saveSessionToken(path.c_str(), token)) {
            say("D", "0");
            return 3;
        }
        say("D", "1");
    }
}

int writeLoop(const std::wstring& folder, uint64_t seed) {
    const std::wstring path = folder + L"\\OrvaneGaming.ini";
    LauncherConfig config;
    for (uint64_t n = seed + 1;; ++n) {
        configFor(n, config);
        say("S", std::to_string(n));
        if (!writeLauncherConfig(config, path.c_str())) {
            say("D", "0");
            return 3;
        }
        say("D", "1");
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || std::wcslen(argv[2]) == 0 || std::wcslen(argv[2]) > MAX_PATH)
        return 2;
    const uint64_t seed = std::wcstoull(argv[3], nullptr, 10);
    if (std::wcscmp(argv[1], L"session") == 0)
        return saveLoop(argv[2], seed);
    if (std::wcscmp(argv[1], L"config") == 0)
        return writeLoop(argv[2], seed);
    return 2;
}
