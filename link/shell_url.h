#pragma once
#include <cstddef>
#include <string_view>

// What the launcher may hand to the shell. Wine's shell copies a URL into a fixed buffer that about
// 1,000 characters overflow, and a browser registered as "app.exe" "%1" takes its arguments from the
// text, so only short, plainly printable, fully percent-encoded URLs go there.

// A real Steam or Discord authorisation page is about 500 characters.
inline constexpr size_t kAuthorizationUrlMaxLength = 900;
// The community field of the window holds 511 units; the rule keeps two spare.
inline constexpr size_t kCommunityUrlMaxLength = 509;

// Printable ASCII other than space and " \ < > ^ | { } `, with every "%" followed by two hex digits.
bool isShellSafeUrl(std::wstring_view url);

// The community page: "https://" (lower case) and a host that does not start with "." or "/", no
// user information, shell-safe, at most 509 characters.
bool isValidCommunityUrl(const wchar_t* url);
