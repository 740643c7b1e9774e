#pragma once
#include <cstddef>

// The steam:// URLs that Play hands to the shell. The address rule is the only thing standing between
// the service's configuration and Steam's command line, so it admits a host and a port and nothing else.

inline constexpr wchar_t kSteamRunUrl[] = L"steam://run/4000";
// Longest address the rule admits.
inline constexpr size_t kServerAddressMaxLength = 190;

// A host name or dotted quad, optionally ":port" (1-65535). Null and empty are rejected.
bool validateServerAddress(const wchar_t* address);

// The plain launch URL for an empty (or null) address, else the connect URL with the address
// percent-encoded. False when the address is rejected or the URL does not fit in `capacity` units
// (terminator included); `out` then holds an empty string when capacity allows.
bool buildSteamUrl(const wchar_t* address, wchar_t* out, size_t capacity);
