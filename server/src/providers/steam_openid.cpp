// Steam sign-in through OpenID 2.0: the checkid_setup page and the checks on what comes back.
// Every local check runs before Steam is asked, and Steam is asked at its fixed address only.
#include "providers/providers_internal.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <optional>

namespace {

constexpr std::string_view kOpenIdNs = "http://specs.openid.net/auth/2.0";
constexpr std::string_view kIdentifierSelect = "http://specs.openid.net/auth/2.0/identifier_select";
constexpr std::string_view kSteamLogin = "https://steamcommunity.com/openid/login";
constexpr std::string_view kSteamIdPrefixes[] = {"https://steamcommunity.com/openid/id/",
                                                 "http://steamcommunity.com/openid/id/"};
constexpr std::array<std::string_view, 6> kMustBeSigned = {"op_endpoint", "claimed_id",     "identity",
                                                           "return_to",   "response_nonce", "assoc_handle"};
// A nonce older than this, or stamped further than the skew in the future, is refused; the ledger keeps
// each accepted one until it would be refused anyway.
constexpr std::int64_t kNonceMaxAgeSeconds = 300;
constexpr std::int64_t kNonceMaxSkewSeconds = 60;
constexpr std::size_t kMaxNonceLength = 255;
constexpr std::size_t kMaxSignedNames = 32;

ProviderResult refused(ReasonKind kind, const char* reason) {
    return failedWith(ProviderFailure::Refused, kind, reason);
}

// The fields of one query by name; the query has been checked for repeated names already.
struct Fields {
    const QueryParams& pairs;
    std::string_view text(std::string_view name) const {
        for (const auto& [key, value] : pairs)
            if (key == name)
                return value;
        return {};
    }
};

// A SteamID64 of an individual account in the public universe, from a claimed_id/identity URL.
std::optional<std::string> steamIdFrom(std::string_view claimedId) {
    for (std::string_view prefix : kSteamIdPrefixes) {
        if (!claimedId.starts_with(prefix))
            continue;
        std::string_view digits = claimedId.substr(prefix.size());
        std::uint64_t value = 0;
        if (digits.size() != 17 || !isAsciiDigits(digits) ||
            std::from_chars(digits.data(), digits.data() + digits.size(), value).ec != std::errc())
            return std::nullopt;
        bool individual = (value >> 56) == 1 && ((value >> 52) & 0xF) == 1 && (value & 0xFFFFFFFF) != 0;
        if (!individual)
            return std::nullopt;
        return std::string(digits);
    }
    return std::nullopt;
}

// OpenID 2.0 response_nonce: "YYYY-MM-DDTHH:MM:SSZ" then up to 235 printable non-space characters.
std::optional<std::int64_t> nonceTime(std::string_view nonce) {
    if (nonce.size() < 20 || nonce.size() > kMaxNonceLength)
        return std::nullopt;
    if (!std::all_of(nonce.begin(), nonce.end(), [](char c) { return c > ' ' && c < 0x7F; }))
        return std::nullopt;
    auto number = [&](std::size_t at, std::size_t length) {
        int value = -1;
        std::string_view part = nonce.substr(at, length);
        if (isAsciiDigits(part))
            std::from_chars(part.data(), part.data() + part.size(), value);
        return value;
    };
    if (nonce[4] != '-' || nonce[7] != '-' || nonce[10] != 'T' || nonce[13] != ':' || nonce[16] != ':' ||
        nonce[19] != 'Z')
        return std::nullopt;
    int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    std::chrono::year_month_day date{std::chrono::year(year),
                                     std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day))};
    if (year < 0 || month < 0 || day < 0 || !date.ok() || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return std::nullopt;
    auto days = std::chrono::sys_days(date).time_since_epoch().count();
    return static_cast<std::int64_t>(days) * 86400 + hour * 3600 + minute * 60 + second;
}

bool signsEverythingNeeded(std::string_view signedList) {
    std::vector<std::string_view> names;
    while (names.size() <= kMaxSignedNames) {
        std::size_t comma = signedList.find(',');
        names.push_back(signedList.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        signedList.remove_prefix(comma + 1);
    }
    if (names.size() > kMaxSignedNames)
        return false;
    return std::all_of(kMustBeSigned.begin(), kMustBeSigned.end(), [&](std::string_view needed) {
        return std::find(names.begin(), names.end(), needed) != names.end();
    });
}

// Steam's answer to check_authentication: "key:value" lines, ns 2.0 and is_valid:true required.
bool steamConfirms(std::string_view answer) {
    int valid = 0, ns = 0;
    while (!answer.empty()) {
        std::size_t end = answer.find('\n');
        std::string_view line = answer.substr(0, end);
        answer = end == std::string_view::npos ? std::string_view() : answer.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        std::string_view key = line.substr(0, colon), value = line.substr(colon + 1);
        if (key == "is_valid")
            valid = valid == 0 && value == "true" ? 1 : -1;
        if (key == "ns")
            ns = ns == 0 && value == kOpenIdNs ? 1 : -1;
    }
    return valid == 1 && ns == 1;
}

ProviderResult checkLocally(const Fields& fields, const std::string& expectedReturnTo, std::int64_t nowUnix,
                            std::string& steamId) {
    if (fields.text("openid.ns") != kOpenIdNs)
        return refused(ReasonKind::SteamMode, "not an OpenID 2.0 answer");
    if (fields.text("openid.mode") == "cancel")
        return failedWith(ProviderFailure::Cancelled, ReasonKind::SteamCancelled,
                          "the player cancelled on Steam");
    if (fields.text("openid.mode") != "id_res")
        return refused(ReasonKind::SteamMode, "not a positive assertion");
    if (fields.text("openid.op_endpoint") != kSteamLogin)
        return refused(ReasonKind::SteamIdentity, "op_endpoint is not Steam's");
    std::optional<std::string> id = steamIdFrom(fields.text("openid.claimed_id"));
    if (!id)
        return refused(ReasonKind::SteamIdentity, "claimed_id is not a Steam account");
    if (fields.text("openid.identity") != fields.text("openid.claimed_id"))
        return refused(ReasonKind::SteamIdentity, "identity differs from claimed_id");
    if (fields.text("openid.return_to") != expectedReturnTo)
        return refused(ReasonKind::SteamReturnTo, "return_to is not the one issued for this state");
    if (fields.text("openid.assoc_handle").empty() || fields.text("openid.sig").empty())
        return refused(ReasonKind::SteamSignature, "assoc_handle or sig missing");
    if (!signsEverythingNeeded(fields.text("openid.signed")))
        return refused(ReasonKind::SteamSignature, "a required field is not signed");
    std::optional<std::int64_t> stamped = nonceTime(fields.text("openid.response_nonce"));
    if (!stamped)
        return refused(ReasonKind::SteamNonce, "response_nonce malformed");
    if (*stamped < nowUnix - kNonceMaxAgeSeconds || *stamped > nowUnix + kNonceMaxSkewSeconds)
        return refused(ReasonKind::SteamNonce, "response_nonce outside its time window");
    steamId = *id;
    return {};
}

} // namespace

std::string steamReturnTo(const std::string& publicHost, const std::string& state) {
    return "https://" + publicHost + std::string(kSteamCallbackPath) + "?state=" + percentEncode(state);
}

std::string steamLoginUrl(const std::string& publicHost, const std::string& state) {
    QueryParams query = {{"openid.ns", std::string(kOpenIdNs)},
                         {"openid.mode", "checkid_setup"},
                         {"openid.return_to", steamReturnTo(publicHost, state)},
                         {"openid.realm", "https://" + publicHost + "/"},
                         {"openid.identity", std::string(kIdentifierSelect)},
                         {"openid.claimed_id", std::string(kIdentifierSelect)}};
    return std::string(kSteamLogin) + "?" + formEncode(query);
}

ProviderResult verifySteamCallback(const QueryParams& query, const std::string& expectedReturnTo,
                                   std::int64_t nowUnix, NonceLedger& nonces) {
    if (exceedsQueryBounds(query))
        return refused(ReasonKind::SteamQuery, "too many parameters or bytes");
    if (hasRepeatedNames(query))
        return refused(ReasonKind::SteamQuery, "a parameter is repeated");
    for (const auto& [key, value] : query)
        if (key != "state" && !key.starts_with("openid."))
            return refused(ReasonKind::SteamQuery, "an unexpected parameter");
    Fields fields{query};
    std::string steamId;
    ProviderResult local = checkLocally(fields, expectedReturnTo, nowUnix, steamId);
    if (local.failure != ProviderFailure::None)
        return local;
    // Remembered before Steam is asked, so two callbacks racing with one assertion cannot both pass.
    std::string nonce(fields.text("openid.response_nonce"));
    if (!nonces.remember(nonce, *nonceTime(nonce) + kNonceMaxAgeSeconds))
        return refused(ReasonKind::SteamNonceReplayed, "response_nonce seen before");

    QueryParams check;
    for (const auto& [key, value] : query)
        if (key.starts_with("openid."))
            check.emplace_back(key, key == "openid.mode" ? "check_authentication" : value);
    std::string body = formEncode(check);
    HttpsCall call;
    call.method = "POST";
    call.url = kSteamLogin;
    call.formBody = body;
    HttpsAnswer answer = httpsExchange(call);
    if (!answer.reached)
        return failedWith(ProviderFailure::Unreachable, ReasonKind::SteamUnreachable,
                          "Steam could not be asked: " + answer.failure);
    if (answer.status != 200)
        return failedWith(ProviderFailure::Unreachable, ReasonKind::SteamUnreachable,
                          "Steam answered status " + std::to_string(answer.status));
    if (!steamConfirms(std::string_view(answer.body.data(), answer.body.size())))
        return refused(ReasonKind::SteamSignature, "Steam did not confirm the assertion");
    // Steam gives no name through OpenID; the SteamID64 stands in until the player's name is known.
    return {ProviderFailure::None, {steamId, steamId}, "linked", {}};
}
