// The names of why a verification failed. They are fixed text, so a log line or a metric label built
// from one never carries anything a request brought.
#include "providers/providers_internal.h"

#include <array>

namespace {

constexpr std::array<std::string_view, static_cast<std::size_t>(ReasonKind::Count)> kNames = {
    "steam_query",           // too large, a repeated or an unexpected parameter
    "steam_cancelled",       // the player cancelled on Steam
    "steam_mode",            // not an OpenID 2.0 positive assertion
    "steam_identity",        // op_endpoint, claimed_id or identity not Steam's or not one account
    "steam_return_to",       // issued for another site or state
    "steam_signature",       // unsigned fields, no signature, or Steam did not confirm it
    "steam_nonce",           // response_nonce malformed or outside its time window
    "steam_nonce_replayed",  // an assertion already accepted once
    "steam_unreachable",     // Steam could not be asked or failed
    "discord_query",         // too large or a repeated parameter
    "discord_cancelled",     // the player declined on Discord
    "discord_error",         // Discord sent an error other than a refusal
    "discord_code",          // no code, or not a code's characters
    "pkce",                  // the stored code verifier is not one
    "discord_client",        // Discord turned down the client id or secret
    "discord_token_refused", // Discord turned down the code (or the verifier)
    "discord_unreachable",   // Discord could not be asked, failed or answered unreadably
    "discord_user",          // Discord's user has no valid id
};

constexpr bool eachNamedOnce() {
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (kNames[i].empty())
            return false;
        for (std::size_t k = i + 1; k < kNames.size(); ++k)
            if (kNames[i] == kNames[k])
                return false;
    }
    return true;
}
static_assert(eachNamedOnce(), "every ReasonKind needs a name of its own");

} // namespace

const std::vector<std::string_view> kProviderReasonKinds(kNames.begin(), kNames.end());

ProviderResult failedWith(ProviderFailure failure, ReasonKind kind, std::string reason) {
    return {failure, {}, std::move(reason), kNames[static_cast<std::size_t>(kind)]};
}
