#pragma once
#include <cstddef>
#include <string>

// The five values of OrvaneGaming.ini. Capacities include the terminator.
struct LauncherConfig {
    wchar_t server[192];
    wchar_t community[512];
    wchar_t news_title[160];
    wchar_t news_body[1200];
    wchar_t background[128];
};

// Escaped news_body never needs more than this (1,199 backslashes doubled, plus the terminator).
inline constexpr size_t kNewsBodyRawCapacity = 2400;

// Reads all five keys of section "launcher"; missing keys read as empty, long values are cut.
void readLauncherConfig(const wchar_t* path, LauncherConfig& config);

// Start-up only needs the preferred picture: clears the record and reads a checked background.
void readStartupConfig(const wchar_t* path, LauncherConfig& config);

// Replaces the whole file atomically; path null means the configuration path. False leaves the
// target as it was, and refuses while a "<target>.pending" file exists.
bool writeLauncherConfig(const LauncherConfig& config, const wchar_t* path);

// The file a write goes through before it replaces target; while it exists, writes are refused.
std::wstring pendingPathFor(const wchar_t* target);

bool isValidBackgroundName(const wchar_t* name);

// news_body is stored on one line: CR dropped, LF as "\n", backslash doubled.
void escapeNewsBody(const wchar_t* body, wchar_t* out, size_t capacity);
void unescapeNewsBody(const wchar_t* stored, wchar_t* out, size_t capacity);
