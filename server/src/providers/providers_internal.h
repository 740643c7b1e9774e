#pragma once
// Pieces shared by the Steam and Discord flows; not part of the layer's interface.
#include "providers/provider_flows.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Memory that held a secret (a code, a client secret, a bearer token) is zeroed before it is freed.
void wipeMemory(void* data, std::size_t size);

template <typename T> struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <typename U> WipingAllocator(const WipingAllocator<U>&) {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) {
        wipeMemory(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <typename U> bool operator==(const WipingAllocator<U>&) const { return true; }
};
using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Percent-encodes everything but RFC 3986's unreserved characters, so the result is printable ASCII
// holding none of the characters a browser or a shell might treat specially.
std::string percentEncode(std::string_view text);
void appendPercentEncoded(SecretString& out, std::string_view text);
// "key=value&..." with both sides percent-encoded.
std::string formEncode(const QueryParams& pairs);

bool hasRepeatedNames(const QueryParams& query);
// More pairs or bytes than parseQuery would ever produce: a query the callbacks refuse unread.
bool exceedsQueryBounds(const QueryParams& query);
bool isAsciiDigits(std::string_view text); // non-empty, 0-9 only
// Between minLength and maxLength of RFC 3986's unreserved characters (A-Z a-z 0-9 - . _ ~).
bool isUnreservedText(std::string_view text, std::size_t minLength, std::size_t maxLength);

// Discord's ids and tokens, checked the same way by sign-in and the role calls (discord_oauth.cpp).
bool isSnowflake(std::string_view id);    // 16-20 digits, non-zero, within 64 bits
bool isTokenText(std::string_view token); // printable ASCII without spaces, at most 2048 bytes

// Why a verification failed, as log lines and metric labels name it: kProviderReasonKinds holds the
// names in this order (reason_kinds.cpp).
enum class ReasonKind {
    SteamQuery,
    SteamCancelled,
    SteamMode,
    SteamIdentity,
    SteamReturnTo,
    SteamSignature,
    SteamNonce,
    SteamNonceReplayed,
    SteamUnreachable,
    DiscordQuery,
    DiscordCancelled,
    DiscordError,
    DiscordCode,
    Pkce,
    DiscordClient,
    DiscordTokenRefused,
    DiscordUnreachable,
    DiscordUser,
    Count,
};
ProviderResult failedWith(ProviderFailure failure, ReasonKind kind, std::string reason);

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF); answers the UTF-16 length, or -1.
long utf16Length(std::string_view text);

// One HTTPS exchange with a provider. Only the fixed provider origins are accepted; see outbound_https.cpp.
struct HttpsCall {
    const char* method = "GET";         // GET, POST, PUT or DELETE
    std::string_view url;               // https://steamcommunity.com/... or https://discord.com/...
    std::string_view formBody;          // POST or PUT body, application/x-www-form-urlencoded
    std::string_view token;             // sent as Authorization: <tokenScheme> <token> when not empty
    const char* tokenScheme = "Bearer"; // "Bot" for the bot's own calls
    std::string_view auditReason;       // sent percent-encoded as X-Audit-Log-Reason when not empty
};
struct HttpsAnswer {
    bool reached = false; // a complete HTTP answer arrived within the bounds
    long status = 0;
    SecretString body;           // may hold a token
    std::string failure;         // why it was not reached: libcurl's text, never a URL or a header
    long retryAfterSeconds = -1; // the Retry-After header in whole seconds, rounded up; -1 without one
};
HttpsAnswer httpsExchange(const HttpsCall& call);
