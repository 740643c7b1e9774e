#pragma once
// Shapes of the service's answers, shared by the contract's handlers.
#include "contract/contract.h"

#include <nlohmann/json.hpp>

Response jsonAnswer(int status, const nlohmann::json& body);
// An answer whose JSON text is already made.
Response jsonTextAnswer(int status, std::string body);
// {"error": code}: the launcher reads only the status of a failure.
Response errorAnswer(int status, const std::string& code);
// A small Spanish page for the player's browser: no script, nothing loaded from elsewhere.
Response pageAnswer(int status, const std::string& title, const std::string& message);

Response handleCallback(Service& service, Provider provider, const Request& request, std::int64_t nowUnix);
