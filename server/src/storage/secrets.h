#pragma once
// What the service keeps of a secret: a SHA-256, never the secret itself; and how it makes new ones.
#include <string>

// 32 bytes from the operating system's random source in URL-safe Base64 without padding: 43 characters.
bool newRandomToken(std::string& token);
std::string sha256Hex(const std::string& text);
std::string sha256Base64(const std::string& text);
// Equal texts, in a time that does not depend on where they differ.
bool sameSecret(const std::string& a, const std::string& b);
// Overwrites the text's bytes before it is released.
void wipe(std::string& text);
