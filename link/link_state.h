#pragma once
#include <string>

// The link service's snapshot as the window reads it: eight flags, then seven texts.
struct LinkState {
    bool configLoaded = false;
    bool steamLinked = false;
    bool discordLinked = false;
    bool ready = false;
    bool busy = false;
    bool discordEnabled = false;
    bool requireLinking = true;
    bool linkPending = false;
    std::wstring steamName;
    std::wstring discordName;
    std::wstring message;
    std::wstring serverAddress;
    std::wstring communityUrl;
    std::wstring newsTitle;
    std::wstring newsBody;

    bool operator==(const LinkState&) const = default;
};

// The accounts a player needs before playing: none unless linking is required; then Steam, and Discord
// only while the service has it enabled (a community without Discord could otherwise never play).
inline bool requiredLinksPresent(const LinkState& state) {
    return !state.requireLinking || (state.steamLinked && (state.discordLinked || !state.discordEnabled));
}

// Signing out is offered while the session holds at least one account.
inline bool signOutOffered(const LinkState& state) {
    return state.steamLinked || state.discordLinked;
}
