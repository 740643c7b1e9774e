// The linked members' Discord role: one member's role given or taken through Discord's REST API with
// the bot's token. Every id is checked before anything is sent, so a request names only this guild's role.
#include "providers/providers_internal.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::string_view kGuilds = "https://discord.com/api/v10/guilds/";
constexpr std::string_view kAuditReason = "orvane link";
constexpr double kMinRetrySeconds = 1;
constexpr double kMaxRetrySeconds = 3600;

// How long Discord asks to be left alone after a 429: its Retry-After header, else the body's
// retry_after (seconds, with a fraction), kept within 1 s and an hour.
int retryAfterOf(const HttpsAnswer& answer) {
    double seconds = static_cast<double>(answer.retryAfterSeconds);
    if (answer.retryAfterSeconds < 0) {
        nlohmann::json document = nlohmann::json::parse(answer.body, nullptr, false);
        auto found = document.is_object() ? document.find("retry_after") : document.end();
        if (document.is_object() && found != document.end() && found->is_number())
            seconds = std::ceil(found->get<double>());
    }
    return static_cast<int>(std::clamp(seconds, kMinRetrySeconds, kMaxRetrySeconds));
}

} // namespace

RoleCallOutcome setDiscordMemberRole(const DiscordRoleTarget& target, const std::string& userId, bool add,
                                     int& retryAfterSeconds) {
    retryAfterSeconds = 0;
    // Retrying cannot mend a bad id or token: the configuration or the stored member has to change.
    if (!isSnowflake(target.guildId) || !isSnowflake(target.roleId) || !isSnowflake(userId) ||
        !isTokenText(target.botToken))
        return RoleCallOutcome::GiveUp;
    std::string url =
        std::string(kGuilds) + target.guildId + "/members/" + userId + "/roles/" + target.roleId;
    HttpsCall call;
    call.method = add ? "PUT" : "DELETE";
    call.url = url;
    call.token = target.botToken;
    call.tokenScheme = "Bot";
    call.auditReason = kAuditReason;
    HttpsAnswer answer = httpsExchange(call);
    if (!answer.reached || answer.status >= 500)
        return RoleCallOutcome::Retry;
    if (answer.status == 429) {
        retryAfterSeconds = retryAfterOf(answer);
        return RoleCallOutcome::Retry;
    }
    return answer.status == 204 ? RoleCallOutcome::Done : RoleCallOutcome::GiveUp;
}
