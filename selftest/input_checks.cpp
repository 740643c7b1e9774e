// The input rules that guard the shell and the file system.
#include "selftest/checks.h"

#include "actions/steam_url.h"
#include "config/launcher_config.h"
#include "link/link_self_test.h"
#include "link/shell_url.h"

#include <cwchar>

namespace {

struct TextCase {
    const wchar_t* text;
    bool accepted;
};

template <size_t N, typename Rule>
void checkEach(SelfTestTally& tally, const TextCase (&cases)[N], Rule rule) {
    for (const TextCase& c : cases)
        check(tally, rule(c.text) == c.accepted);
}

void checkServerAddresses(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {L"127.0.0.1:27015", true}, {L"1.2.3.4", true},          {L"play.orvane.example:27015", true},
        {L"gameserver:1", true},    {L"gameserver:65535", true}, {L"", false},
        {L"1.2.3.999", false},      {L"1.2.3", false},           {L"1.2.3.4:0", false},
        {L"1.2.3.4:65536", false},  {L"abc:12;quit", false},     {L"abc +quit", false},
        {L"abc/def", false},        {L"abc\"", false},           {L"-abc.example", false},
        {L"abc..example", false},   {L"abc.example:", false},    {L"abc.example:1:2", false},
        {L"[::1]:27015", false},
    };
    checkEach(tally, cases, validateServerAddress);
}

// The URLs Play would hand to the shell: plain, with an encoded address, and none for a bad address.
void checkSteamUrls(SelfTestTally& tally) {
    wchar_t url[1024];
    check(tally, buildSteamUrl(L"", url, 1024) && std::wcscmp(url, L"steam://run/4000") == 0);
    check(tally, buildSteamUrl(L"127.0.0.1:27015", url, 1024) &&
                     std::wcscmp(url, L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/") == 0);
    check(tally, !buildSteamUrl(L"abc;quit", url, 1024));
}

void checkCommunityUrls(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {L"https://community.example/foro", true},
        {L"javascript:alert(1)", false},
        {L"https://community.example/fo\"ro", false},
        {L"https://player@community.example/foro", false},
    };
    checkEach(tally, cases, isValidCommunityUrl);
}

void checkBackgroundNames(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {L"scene.png", true},      {L"", true},           {L"..\\scene.png", false},
        {L"C:\\scene.png", false}, {L"scene.exe", false},
    };
    checkEach(tally, cases, isValidBackgroundName);
}

} // namespace

void checkInputRules(SelfTestTally& tally) {
    check(tally, runLinkServiceSelfTest() == 0);
    checkServerAddresses(tally);
    checkSteamUrls(tally);
    checkCommunityUrls(tally);
    checkBackgroundNames(tally);
}
