// The configuration file's round trip, atomic replacement and busy refusal, on a test file of
// its own in reports (never the player's OrvaneGaming.ini).
#include "selftest/checks.h"

#include "app/text.h"
#include "config/file_replace.h"
#include "config/launcher_config.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kTestServer[] = L"127.0.0.1:27015";
constexpr wchar_t kTestBackground[] = L"vexil-squad.jpg";

LauncherConfig testRecord() {
    LauncherConfig config{};
    copyText(config.server, kTestServer);
    copyText(config.community, L"https://community.example");
    copyText(config.news_title, L"Prueba de configuración: ñ á é");
    // A real line feed, and elsewhere a literal backslash followed by "n".
    copyText(config.news_body, L"Primera línea\nSegunda | línea \\n literal");
    copyText(config.background, kTestBackground);
    return config;
}

bool same(const wchar_t* a, const wchar_t* b) {
    return std::wcscmp(a, b) == 0;
}

void checkRoundTrip(SelfTestTally& tally, const wchar_t* path, const LauncherConfig& written) {
    LauncherConfig read{};
    readLauncherConfig(path, read);
    check(tally, same(read.server, written.server));
    check(tally, same(read.community, written.community));
    check(tally, same(read.news_title, written.news_title));
    check(tally, same(read.news_body, written.news_body));
    check(tally, same(read.background, kTestBackground));

    LauncherConfig startup;
    readStartupConfig(path, startup);
    check(tally, startup.server[0] == L'\0' && startup.community[0] == L'\0' &&
                     startup.news_title[0] == L'\0' && startup.news_body[0] == L'\0');
    check(tally, same(startup.background, kTestBackground));
}

// A pending file that exists means another writer is busy, or was interrupted. It is closed before
// the write so that only the writer's own rule can refuse it: an open handle would also stop, by a
// sharing violation, a writer that overwrote or deleted a stale pending file. The refused write must
// leave that file as it was: it is the other writer's.
void checkBusyRefusal(SelfTestTally& tally, const wchar_t* path) {
    const std::wstring pending = pendingPathFor(path);
    HANDLE busy =
        CreateFileW(pending.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    check(tally, busy != INVALID_HANDLE_VALUE);
    if (busy == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(busy);
    FileIdentity before, after;
    const bool known = fileIdentity(pending.c_str(), before);
    const bool refused = !writeLauncherConfig(LauncherConfig{}, path);
    check(tally, refused && known && fileIdentity(pending.c_str(), after) && after == before);
    DeleteFileW(pending.c_str());
    LauncherConfig read{};
    readLauncherConfig(path, read);
    check(tally, same(read.server, kTestServer));
}

// A replacement puts a new file in the target's place; a write into the old file would leave a
// reader with a part of each if it were interrupted. A file system that numbers no files (index 0)
// cannot tell the two apart; there only the write's result counts.
bool replacedBy(const wchar_t* path, const LauncherConfig& config) {
    FileIdentity before, after;
    if (!fileIdentity(path, before) || !writeLauncherConfig(config, path))
        return false;
    return fileIdentity(path, after) && (after != before || before.index == 0);
}

} // namespace

void checkConfigurationFile(SelfTestTally& tally, const std::wstring& programFolder) {
    const std::wstring path = selfTestPath(programFolder, kTestConfigurationName);
    const LauncherConfig written = testRecord();
    const bool firstWrite = writeLauncherConfig(written, path.c_str());
    check(tally, firstWrite);
    if (!firstWrite)
        return;
    checkRoundTrip(tally, path.c_str(), written);
    checkBusyRefusal(tally, path.c_str());

    LauncherConfig second = written;
    copyText(second.news_title, L"Segunda escritura atómica");
    check(tally, replacedBy(path.c_str(), second));
    LauncherConfig read{};
    readLauncherConfig(path.c_str(), read);
    check(tally, same(read.news_title, second.news_title));
    DeleteFileW(path.c_str());
}
