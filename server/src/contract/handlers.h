#pragma once
// The handlers the route table names, and what they share. Inside the contract layer only.
#include "contract/contract.h"

#include <cstdint>
#include <string>

// rest: what follows a prefix route's path (the SteamID64 of /admin/players/...), empty otherwise.
using Handler = Response (*)(Service& service, const Request& request, const std::string& rest,
                             std::int64_t nowMs);

// The launcher's endpoints (contract.cpp).
Response answerConfig(Service&, const Request&, const std::string&, std::int64_t);
Response answerNewSession(Service&, const Request&, const std::string&, std::int64_t);
Response answerStatus(Service&, const Request&, const std::string&, std::int64_t);
Response answerLinkSteam(Service&, const Request&, const std::string&, std::int64_t);
Response answerLinkDiscord(Service&, const Request&, const std::string&, std::int64_t);
Response answerLogout(Service&, const Request&, const std::string&, std::int64_t);
// The player's browser (callbacks.cpp).
Response answerSteamCallback(Service&, const Request&, const std::string&, std::int64_t);
Response answerDiscordCallback(Service&, const Request&, const std::string&, std::int64_t);
Response answerConfirmation(Service&, const Request&, const std::string&, std::int64_t);
// The community's own programs, each behind a key of its own (players.cpp).
Response answerAdminPlayer(Service&, const Request&, const std::string&, std::int64_t);
Response answerAdminChange(Service&, const Request&, const std::string&, std::int64_t);
Response answerGameServerPlayer(Service&, const Request&, const std::string&, std::int64_t);
Response answerGameServerChanges(Service&, const Request&, const std::string&, std::int64_t);

// The bearer credential of an Authorization header, or empty.
std::string bearerOf(const std::string& authorization);
bool isSteamId(const std::string& text);
// A ready player may play: the launcher's rule, the same for a session and for a player record.
bool sessionReady(const ServiceConfig& config, const SessionView& session);
bool playerReady(const ServiceConfig& config, const PlayerRecord& player);
