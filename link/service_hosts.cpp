#include "link/service_hosts.h"

#ifndef ORVANE_SERVICE_HOST
#error "ORVANE_SERVICE_HOST must be defined by the build"
#endif

#define ORVANE_SERVICE_BASE_PATH "/orvane-launcher/v1/9e3f51d0"

const wchar_t kServiceHost[] = L"" ORVANE_SERVICE_HOST;
const wchar_t kServiceBasePath[] = L"" ORVANE_SERVICE_BASE_PATH;
const wchar_t kServiceBaseUrl[] = L"https://" ORVANE_SERVICE_HOST ORVANE_SERVICE_BASE_PATH;
const wchar_t kSteamOpenIdHost[] = L"steamcommunity.com";
const wchar_t kDiscordHost[] = L"discord.com";
const wchar_t kServiceUserAgent[] = L"OrvaneGaming/2.0";
