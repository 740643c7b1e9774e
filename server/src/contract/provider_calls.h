#pragma once
// The provider flows as the contract reaches them: the program passes the real functions of
// providers/provider_flows.h, and the contract's tests script Steam's and Discord's answers.
#include "providers/provider_flows.h"

#include <functional>

struct ProviderCalls {
    std::function<std::string(const std::string& publicHost, const std::string& state)> steamLoginUrl;
    std::function<std::string(const std::string& publicHost, const std::string& state)> steamReturnTo;
    std::function<ProviderResult(const QueryParams& query, const std::string& expectedReturnTo,
                                 std::int64_t nowUnix, NonceLedger& nonces)>
        verifySteam;
    std::function<std::string(const DiscordApp& app, const std::string& publicHost, const std::string& state,
                              const std::string& codeVerifier)>
        discordAuthorizationUrl;
    std::function<ProviderResult(const QueryParams& query, const DiscordApp& app,
                                 const std::string& publicHost, const std::string& codeVerifier)>
        completeDiscord;
    std::function<RoleCallOutcome(const DiscordRoleTarget& target, const std::string& userId, bool add,
                                  int& retryAfterSeconds)>
        setDiscordRole;
};
