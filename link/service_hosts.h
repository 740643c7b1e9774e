#pragma once

// The only hosts the launcher ever talks to or hands to the browser. The service host is chosen when
// the launcher is built (CMake option ORVANE_SERVICE_HOST), so a community builds its own launcher
// without touching the code; nothing read at run time can change any of them.
extern const wchar_t kServiceHost[];
extern const wchar_t kServiceBasePath[];
extern const wchar_t kServiceBaseUrl[];
extern const wchar_t kSteamOpenIdHost[];
extern const wchar_t kDiscordHost[];
extern const wchar_t kServiceUserAgent[];

inline constexpr unsigned short kServicePort = 443;
