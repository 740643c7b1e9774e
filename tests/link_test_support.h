#pragma once
#include "link/link_state.h"

#include <string>

// A LinkState in which every field differs from the default and from what any test document writes,
// so a reader that touched it shows.
inline LinkState sentinelLinkState() {
    LinkState state;
    state.configLoaded = true;
    state.steamLinked = true;
    state.discordLinked = true;
    state.ready = true;
    state.busy = true;
    state.discordEnabled = true;
    state.requireLinking = false;
    state.linkPending = true;
    state.steamName = L"sentinel steam";
    state.discordName = L"sentinel discord";
    state.message = L"sentinel message";
    state.serverAddress = L"sentinel:1";
    state.communityUrl = L"https://sentinel.invalid/";
    state.newsTitle = L"sentinel title";
    state.newsBody = L"sentinel body";
    return state;
}

inline bool sameLinkState(const LinkState& a, const LinkState& b) {
    return a.configLoaded == b.configLoaded && a.steamLinked == b.steamLinked &&
           a.discordLinked == b.discordLinked && a.ready == b.ready && a.busy == b.busy &&
           a.discordEnabled == b.discordEnabled && a.requireLinking == b.requireLinking &&
           a.linkPending == b.linkPending && a.steamName == b.steamName && a.discordName == b.discordName &&
           a.message == b.message && a.serverAddress == b.serverAddress && a.communityUrl == b.communityUrl &&
           a.newsTitle == b.newsTitle && a.newsBody == b.newsBody;
}

// n copies of U+1F600, four bytes each in UTF-8 and two units in UTF-16.
inline std::string fourByteText(size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i)
        text += "\xF0\x9F\x98\x80";
    return text;
}
