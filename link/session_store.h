#pragma once
#include "link/session_token.h"

#include <string_view>

// The session token kept between runs in launcher-session.dat, protected with DPAPI for the current
// user. Load refuses links and anything but a 43-byte well-formed token; save replaces the file
// atomically and leaves the previous one untouched when it fails; it also removes the temporary files
// that saves of ended processes left behind.

// The stored token, or an empty one for any problem with the file.
SessionToken loadSessionToken(const wchar_t* path);

// True only when the file now holds the protected token. A token that is not 20 to 512 characters of
// the URL-safe alphabet is refused without touching anything.
bool saveSessionToken(const wchar_t* path, std::string_view token);
