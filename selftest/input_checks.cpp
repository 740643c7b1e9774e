// Group 1: the input rules that guard the shell and the file system.
#include "selftest/checks.h"

#include "config/launcher_config.h"
#include "link/link_self_test.h"

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
    checkCommunityUrls(tally);
    checkBackgroundNames(tally);
}
