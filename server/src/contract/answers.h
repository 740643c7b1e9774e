#pragma once
// Shapes of the service's answers, shared by the contract's handlers.
#include "contract/contract.h"

#include <nlohmann/json.hpp>

Response jsonAnswer(int status, const nlohmann::json& body);
// An answer whose JSON text is already made.
Response jsonTextAnswer(int status, std::string body);
// {"error": code}: the launcher reads only the status of a failure.
Response errorAnswer(int status, const std::string& code);
// 429 with Retry-After: an allowance is spent, and when the client may ask again.
Response tooManyAnswer(const std::string& code, int retryAfterSeconds);
// The database could not answer (down, restarting, disk full): 503 with Retry-After, which the launcher
// reads as "the service is not available, try again". Not on POST /link/discord, where the launcher reads
// 503 as "Discord is not configured": there 500, which it reads as the same "not available".
Response storageFailure(const Request& request);
// The same for the player's browser, on a callback page.
Response storageFailurePage(const std::string& whatFailed);
// A small Spanish page for the player's browser: no script, nothing loaded from elsewhere.
Response pageAnswer(int status, const std::string& title, const std::string& message);

// What the confirmation page says: which account, into which launcher request, how long ago, and why it
// asks at all.
struct ConfirmationText {
    std::string provider; // "Steam" or "Discord"
    std::string account;  // the display name proven
    std::int64_t minutesAgo = 0;
    bool otherNetwork = false; // the launcher asked from another network than this browser's
    bool moves = false;        // the account would leave another launcher or Steam account
};
// The page with one form posting the one-time token to `action` (this service's own path): confirm or
// cancel. Its policy lets that form post to this origin and nothing else run.
Response confirmationPage(const ConfirmationText& text, const std::string& action, const std::string& token);
