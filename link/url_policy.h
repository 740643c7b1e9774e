#pragma once
#include <string>
#include <string_view>

// A cracked https URL. extra holds the query and fragment exactly as WinHTTP splits them.
struct UrlParts {
    std::wstring host;
    std::wstring path;
    std::wstring extra;
    unsigned short port = 0;
};

// Splits an https URL of 1 to 8192 visible characters with no user information. Fails for any
// other scheme, an empty host, a port other than 443 when required, or a "#" when not allowed.
bool crackHttpsUrl(const wchar_t* url, UrlParts& parts, bool requirePort443, bool allowFragment);

// The link service's base URL: the production host, port 443, the fixed base path, nothing else,
// written literally in that order.
bool validateBaseUrl(const wchar_t* url, UrlParts& endpoint);

// True when endpoint names the production service exactly (the checks validateBaseUrl makes).
bool isServiceEndpoint(const UrlParts& endpoint);

// A Steam OpenID login or Discord OAuth2 authorisation page, judged only by the provider's own rule.
// The text must read literally "https://", the host, an optional ":443", the path, "?" and a non-empty
// query, so the browser opens exactly the page WinHTTP's split was checked against. At most 900
// characters, all shell-safe (link/shell_url.h). The caller also refuses a URL whose text contains
// the session token.
bool isAllowedAuthorizationUrl(const wchar_t* url, bool steam);

// 20 to 512 characters of the URL-safe Base64 alphabet; callers also require exactly 43.
bool isTokenWellFormed(std::string_view token);

// host:port with a port of 1 to 65535; letters, digits and ":-.[]" only, at most 255 bytes.
bool isServerAddressWellFormed(std::string_view address);

// Whole-string, case-insensitive comparison of host names.
bool hostEquals(const std::wstring& host, const wchar_t* expected);
