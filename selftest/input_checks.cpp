// The input rules that guard the shell and the file system.
#include "selftest/checks.h"

#include "actions/steam_url.h"
#include "config/launcher_config.h"
#include "link/link_self_test.h"
#include "link/shell_url.h"

#include <cwchar>
#include <initializer_list>

namespace {

// One check: every text gets the verdict. A check may try several texts that a rule must treat
// alike, so that a narrower rule fails it.
struct TextCase {
    std::initializer_list<const wchar_t*> texts;
    bool accepted;
};

template <size_t N, typename Rule>
void checkEach(SelfTestTally& tally, const TextCase (&cases)[N], Rule rule) {
    for (const TextCase& c : cases) {
        bool passed = true;
        for (const wchar_t* text : c.texts)
            passed = passed && rule(text) == c.accepted;
        check(tally, passed);
    }
}

void checkServerAddresses(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {{L"127.0.0.1:27015"}, true},
        {{L"1.2.3.4"}, true},
        {{L"play.orvane.example:27015"}, true},
        {{L"gameserver:1"}, true},
        {{L"gameserver:65535"}, true},
        {{L""}, false},
        {{L"1.2.3.999"}, false},
        {{L"1.2.3"}, false},
        {{L"1.2.3.4:0"}, false},
        {{L"1.2.3.4:65536"}, false},
        {{L"abc:12;quit"}, false},
        {{L"abc +quit"}, false},
        // '/' and every character that borders the letters and digits in ASCII.
        {{L"abc/def", L"abc@def", L"abc[def", L"abc\\def", L"abc]def", L"abc^def", L"abc_def", L"abc`def",
          L"abc{def"},
         false},
        {{L"abc\""}, false},
        {{L"-abc.example"}, false},
        {{L"abc..example"}, false},
        {{L"abc.example:"}, false},
        {{L"abc.example:1:2"}, false},
        {{L"[::1]:27015"}, false},
    };
    checkEach(tally, cases, validateServerAddress);
}

// The URLs Play would hand to the shell: plain, with an encoded address, and none for a bad address.
void checkSteamUrls(SelfTestTally& tally) {
    wchar_t url[1024];
    check(tally, buildSteamUrl(L"", url, 1024) && std::wcscmp(url, L"steam://run/4000") == 0);
    check(tally, buildSteamUrl(L"127.0.0.1:27015", url, 1024) &&
                     std::wcscmp(url, L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/") == 0);
    check(tally, !buildSteamUrl(L"abc;quit", url, 1024) && !buildSteamUrl(L"00_\\29", url, 1024));
}

void checkCommunityUrls(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {{L"https://community.example/foro"}, true},
        {{L"javascript:alert(1)"}, false},
        // A quote, a space or a control character would end or split the URL on the shell's way.
        {{L"https://community.example/fo\"ro", L"https://community.example/fo ro",
          L"https://community.example/fo\tro", L"https://community.example/fo\nro",
          L"https://community.example/fo\x01ro", L"https://community.example/fo\x1fro"},
         false},
        {{L"https://player@community.example/foro"}, false},
    };
    checkEach(tally, cases, isValidCommunityUrl);
}

void checkBackgroundNames(SelfTestTally& tally) {
    static const TextCase cases[] = {
        {{L"scene.png"}, true},      {{L""}, true},           {{L"..\\scene.png"}, false},
        {{L"C:\\scene.png"}, false}, {{L"scene.exe"}, false},
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
