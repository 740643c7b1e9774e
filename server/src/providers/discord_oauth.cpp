// Discord sign-in through OAuth2 (scope identify) with PKCE: the authorisation page, then the code
// exchanged once, with its verifier, for a token and the token used once to read who signed in.
#include "providers/providers_internal.h"

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view kAuthorize = "https://discord.com/oauth2/authorize";
constexpr std::string_view kToken = "https://discord.com/api/v10/oauth2/token";
constexpr std::string_view kCurrentUser = "https://discord.com/api/v10/users/@me";
constexpr std::size_t kMaxCodeLength = 256;
constexpr std::size_t kMinVerifierLength = 43;
constexpr std::size_t kMaxVerifierLength = 128;
constexpr std::size_t kMaxTokenLength = 2048;
constexpr std::size_t kMaxNameBytes = 512;
constexpr long kMaxNameUnits = 200;
constexpr std::size_t kMinIdDigits = 16;
constexpr std::size_t kMaxIdDigits = 20;

// The token answer holds the access token: every string it is parsed into is zeroed when freed.
using SecretJson = nlohmann::basic_json<std::map, std::vector, SecretString, bool, std::int64_t,
                                        std::uint64_t, double, WipingAllocator>;

ProviderResult refused(ReasonKind kind, std::string reason) {
    return failedWith(ProviderFailure::Refused, kind, std::move(reason));
}
ProviderResult unreachable(std::string reason) {
    return failedWith(ProviderFailure::Unreachable, ReasonKind::DiscordUnreachable, std::move(reason));
}

// S256: base64url of the verifier's SHA-256, without padding.
std::string pkceChallenge(std::string_view verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    unsigned char encoded[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    if (EVP_Digest(verifier.data(), verifier.size(), digest, &digestLength, EVP_sha256(), nullptr) != 1)
        return ""; // only when OpenSSL cannot hash at all
    int length = EVP_EncodeBlock(encoded, digest, static_cast<int>(digestLength));
    std::string challenge(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
    std::replace(challenge.begin(), challenge.end(), '+', '-');
    std::replace(challenge.begin(), challenge.end(), '/', '_');
    challenge.erase(challenge.find_last_not_of('=') + 1);
    return challenge;
}

// A name the launcher can show: valid UTF-8 without control characters, 1-200 UTF-16 units, 512 bytes.
bool isShowableName(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameBytes)
        return false;
    if (std::any_of(name.begin(), name.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return false;
    // C1 controls, U+0080-U+009F, are C2 80 to C2 9F in UTF-8.
    for (std::size_t at = name.find('\xC2'); at != std::string_view::npos; at = name.find('\xC2', at + 1))
        if (at + 1 < name.size() && static_cast<unsigned char>(name[at + 1]) <= 0x9F)
            return false;
    long units = utf16Length(name);
    return units >= 1 && units <= kMaxNameUnits;
}

const std::string* stringField(const nlohmann::json& document, const char* name) {
    auto found = document.find(name);
    return found != document.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

std::optional<ProviderAccount> accountFrom(const nlohmann::json& user) {
    const std::string* id = user.is_object() ? stringField(user, "id") : nullptr;
    if (id == nullptr || !isSnowflake(*id))
        return std::nullopt;
    ProviderAccount account{*id, *id};
    for (const char* name : {"global_name", "username"}) {
        const std::string* text = stringField(user, name);
        if (text != nullptr && isShowableName(*text)) {
            account.displayName = *text;
            break;
        }
    }
    return account;
}

// The code for a token: Refused when Discord turns the code or the client down, the token otherwise.
ProviderResult exchangeCode(std::string_view code, const DiscordApp& app, const std::string& publicHost,
                            std::string_view codeVerifier, SecretString& token) {
    SecretString body;
    auto field = [&](std::string_view key, std::string_view value) {
        if (!body.empty())
            body.push_back('&');
        body.append(key).push_back('=');
        appendPercentEncoded(body, value);
    };
    field("grant_type", "authorization_code");
    field("code", code);
    field("redirect_uri", discordRedirectUri(publicHost));
    field("client_id", app.clientId);
    field("client_secret", app.clientSecret);
    field("code_verifier", codeVerifier);
    HttpsCall call;
    call.method = "POST";
    call.url = kToken;
    call.formBody = {body.data(), body.size()};
    HttpsAnswer answer = httpsExchange(call);
    if (!answer.reached)
        return unreachable("Discord's token endpoint could not be asked: " + answer.failure);
    if (answer.status == 401)
        return refused(ReasonKind::DiscordClient, "Discord refused the client id or secret");
    if (answer.status >= 400 && answer.status < 500 && answer.status != 429)
        return refused(ReasonKind::DiscordTokenRefused,
                       "Discord refused the code (status " + std::to_string(answer.status) + ")");
    if (answer.status != 200)
        return unreachable("Discord's token endpoint answered status " + std::to_string(answer.status));
    SecretJson document = SecretJson::parse(answer.body, nullptr, false);
    if (!document.is_object())
        return unreachable("Discord's token answer is not a JSON object");
    auto accessToken = document.find("access_token");
    auto tokenType = document.find("token_type");
    if (accessToken == document.end() || !accessToken->is_string() || tokenType == document.end() ||
        !tokenType->is_string())
        return unreachable("Discord's token answer lacks the token");
    const SecretString& type = tokenType->get_ref<const SecretString&>();
    if (type.size() != 6 || !std::equal(type.begin(), type.end(), "bearer", [](char a, char b) {
            return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
        }))
        return unreachable("Discord's token is not a bearer token");
    token = accessToken->get_ref<const SecretString&>();
    if (!isTokenText({token.data(), token.size()}))
        return unreachable("Discord's token is malformed");
    return {};
}

} // namespace

bool isTokenText(std::string_view token) {
    return !token.empty() && token.size() <= kMaxTokenLength &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

bool isSnowflake(std::string_view id) {
    std::uint64_t value = 0;
    if (id.size() < kMinIdDigits || id.size() > kMaxIdDigits || !isAsciiDigits(id))
        return false;
    auto parsed = std::from_chars(id.data(), id.data() + id.size(), value);
    return parsed.ec == std::errc() && value != 0;
}

std::string discordRedirectUri(const std::string& publicHost) {
    return "https://" + publicHost + std::string(kDiscordCallbackPath);
}

std::string discordAuthorizationUrl(const DiscordApp& app, const std::string& publicHost,
                                    const std::string& state, const std::string& codeVerifier) {
    QueryParams query = {{"response_type", "code"},
                         {"client_id", app.clientId},
                         {"scope", "identify"},
                         {"state", state},
                         {"redirect_uri", discordRedirectUri(publicHost)},
                         {"code_challenge", pkceChallenge(codeVerifier)},
                         {"code_challenge_method", "S256"}};
    return std::string(kAuthorize) + "?" + formEncode(query);
}

ProviderResult completeDiscordCallback(const QueryParams& query, const DiscordApp& app,
                                       const std::string& publicHost, const std::string& codeVerifier) {
    // The verifier is the service's own, kept with the state: one that is not a verifier is a fault here,
    // and Discord is not asked.
    if (!isUnreservedText(codeVerifier, kMinVerifierLength, kMaxVerifierLength))
        return refused(ReasonKind::Pkce, "the stored code verifier is not 43-128 URL-safe characters");
    if (exceedsQueryBounds(query))
        return refused(ReasonKind::DiscordQuery, "too many parameters or bytes");
    const std::string* code = nullptr;
    const std::string* error = nullptr;
    for (const auto& [key, value] : query) {
        if (key == "code")
            code = &value;
        if (key == "error")
            error = &value;
    }
    if (hasRepeatedNames(query))
        return refused(ReasonKind::DiscordQuery, "a parameter is repeated");
    if (error != nullptr && *error == "access_denied")
        return failedWith(ProviderFailure::Cancelled, ReasonKind::DiscordCancelled,
                          "the player declined on Discord");
    if (error != nullptr)
        return refused(ReasonKind::DiscordError, "Discord reported an error");
    if (code == nullptr || !isUnreservedText(*code, 1, kMaxCodeLength))
        return refused(ReasonKind::DiscordCode, "no usable code");

    SecretString token;
    ProviderResult exchanged = exchangeCode(*code, app, publicHost, codeVerifier, token);
    if (exchanged.failure != ProviderFailure::None)
        return exchanged;
    HttpsCall call;
    call.url = kCurrentUser;
    call.token = {token.data(), token.size()};
    HttpsAnswer answer = httpsExchange(call);
    if (!answer.reached)
        return unreachable("Discord's users endpoint could not be asked: " + answer.failure);
    if (answer.status != 200)
        return unreachable("Discord's users endpoint answered status " + std::to_string(answer.status));
    std::optional<ProviderAccount> account = accountFrom(nlohmann::json::parse(answer.body, nullptr, false));
    if (!account)
        return refused(ReasonKind::DiscordUser, "Discord's user has no valid id");
    return {ProviderFailure::None, std::move(*account), "linked", {}};
}
