#pragma once
// The provider flows: the authorisation pages the service hands out and the verification of what the
// player's browser brings back. Endpoints are Steam's and Discord's own, fixed here; nothing configures them.
#include "config/query_text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Where the providers send the player's browser back, under https://<publicHost>.
inline constexpr std::string_view kSteamCallbackPath = "/orvane-launcher/v1/9e3f51d0/callback/steam";
inline constexpr std::string_view kDiscordCallbackPath = "/orvane-launcher/v1/9e3f51d0/callback/discord";
// The longest public host name for which both authorisation URLs stay under kMaxAuthorizationUrlLength;
// the configuration refuses longer ones.
inline constexpr std::size_t kMaxPublicHostLength = 128;
inline constexpr std::size_t kMaxAuthorizationUrlLength = 900;

// Once per process, before any thread starts: libcurl's global state, with allocation functions that
// zero what they free (request headers and bodies carry codes, secrets and tokens). False on failure.
bool initProviderHttps();


struct ProviderAccount {
    std::string id;          // SteamID64 or Discord snowflake: ASCII digits
    std::string displayName; // 1-200 UTF-16 units of valid UTF-8
};

enum class ProviderFailure {
    None,
    Refused,     // forged, malformed, replayed or not confirmed by the provider
    Cancelled,   // the player declined on the provider's page
    Unreachable, // the provider could not be asked (network, timeout, 5xx, unreadable answer)
};

struct ProviderResult {
    ProviderFailure failure = ProviderFailure::None;
    ProviderAccount account;
    std::string reason; // for the operator's log; never holds a secret or a received field's value
    // One of kProviderReasonKinds ("" when it succeeded): what the log line and the metric label carry.
    std::string_view kind;
};

// Every kind a failed verification can have, fixed here so a metric label never takes a value from outside.
extern const std::vector<std::string_view> kProviderReasonKinds;

// Response nonces already accepted, kept by storage so a restart does not reopen the replay window.
// remember() answers false when the nonce was seen before (and so must be refused).
struct NonceLedger {
    virtual ~NonceLedger() = default;
    virtual bool remember(const std::string& nonce, std::int64_t expiresAtUnix) = 0;
};

// Steam OpenID 2.0: return_to is
// https://<publicHost>/orvane-launcher/v1/9e3f51d0/callback/steam?state=<state> and the realm
// https://<publicHost>/.
std::string steamReturnTo(const std::string& publicHost, const std::string& state);
std::string steamLoginUrl(const std::string& publicHost, const std::string& state);
ProviderResult verifySteamCallback(const QueryParams& query, const std::string& expectedReturnTo,
                                   std::int64_t nowUnix, NonceLedger& nonces);

// Discord OAuth2 (scope identify): redirect_uri is
// https://<publicHost>/orvane-launcher/v1/9e3f51d0/callback/discord.
struct DiscordApp {
    std::string clientId;
    std::string clientSecret;
};
std::string discordRedirectUri(const std::string& publicHost);
// PKCE (RFC 7636, S256): the page carries the challenge of codeVerifier, 43 URL-safe characters kept with
// the state; the same verifier goes with the code exchange. No prompt=none: Discord asks the player.
std::string discordAuthorizationUrl(const DiscordApp& app, const std::string& publicHost,
                                    const std::string& state, const std::string& codeVerifier);
// The caller has already matched and consumed the state; this exchanges the code once and reads the user.
ProviderResult completeDiscordCallback(const QueryParams& query, const DiscordApp& app,
                                       const std::string& publicHost, const std::string& codeVerifier);

// The optional Discord role of linked members, through Discord's REST API with the bot's token.
struct DiscordRoleTarget {
    std::string botToken;
    std::string guildId;
    std::string roleId;
};
enum class RoleCallOutcome {
    Done,   // given or taken (Discord answered 204), or nothing to do
    Retry,  // Discord could not be asked or answered 429 / 5xx: try again later (retryAfterSeconds)
    GiveUp, // Discord refused for good (401, 403, 404: bad token, no permission, not a member)
};
RoleCallOutcome setDiscordMemberRole(const DiscordRoleTarget& target, const std::string& userId, bool add,
                                     int& retryAfterSeconds);
