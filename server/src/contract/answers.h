#pragma once
// Shapes of the service's answers, shared by the contract's handlers.
#include "contract/contract.h"

#include <nlohmann/json.hpp>

Response jsonAnswer(int status, const nlohmann::json& body);
// An answer whose JSON text is already made.
Response jsonTextAnswer(int status, std::string body);
// {"error": code}: the launcher reads only the status of a failure.
Response errorAnswer(int status, const std::string& code);
// The database could not answer (down, restarting, disk full): 503 with Retry-After, which the launcher
// reads as "the service is not available, try again". Not on POST /link/discord, where the launcher reads
// 503 as "Discord is not configured": there 500, which it reads as the same "not available".
Response storageFailure(const Request& request);
// The same for the player's browser, on a callback page.
Response storageFailurePage(const std::string& whatFailed);
// A small Spanish page for the player's browser: no script, nothing loaded from elsewhere.
Response pageAnswer(int status, const std::string& title, const std::string& message);

Response handleCallback(Service& service, Provider provider, const Request& request, std::int64_t nowUnix);
