#include "link/url_policy.h"

#include "link/service_hosts.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>

namespace {

constexpr size_t kMaxUrlLength = 8192;

bool pathEquals(const std::wstring& path, const wchar_t* expected) {
    return path == expected;
}

bool isAsciiLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

bool hostEquals(const std::wstring& host, const wchar_t* expected) {
    const size_t length = std::wcslen(expected);
    if (host.size() != length || length == 0)
        return false;
    return CompareStringOrdinal(host.c_str(), static_cast<int>(host.size()), expected,
                                static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

bool crackHttpsUrl(const wchar_t* url, UrlParts& parts, bool requirePort443, bool allowFragment) {
    if (url == nullptr)
        return false;
    const size_t length = wcsnlen(url, kMaxUrlLength + 1);
    if (length < 1 || length > kMaxUrlLength)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = url[i];
        if (c < 33 || c == 127)
            return false;
        if (c == L'#' && !allowFragment)
            return false;
    }

    URL_COMPONENTS components{};
    components.dwStructSize = sizeof components;
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUserNameLength = static_cast<DWORD>(-1);
    components.dwPasswordLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url, static_cast<DWORD>(length), 0, &components))
        return false;

    if (components.nScheme != INTERNET_SCHEME_HTTPS || components.nPort == 0)
        return false;
    if (requirePort443 && components.nPort != 443)
        return false;
    if (components.dwUserNameLength != 0 || components.dwPasswordLength != 0)
        return false;
    if (components.lpszHostName == nullptr || components.dwHostNameLength == 0)
        return false;

    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    if (components.lpszUrlPath != nullptr)
        parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
    else
        parts.path.clear();
    if (components.lpszExtraInfo != nullptr && components.dwExtraInfoLength > 0)
        parts.extra.assign(components.lpszExtraInfo, components.dwExtraInfoLength);
    else
        parts.extra.clear();
    // Windows reports a fragment as part of the extra information; Wine leaves it on the path when
    // there is no query. Both give the same parts here.
    const size_t fragment = parts.path.find(L'#');
    if (fragment != std::wstring::npos) {
        parts.extra.insert(0, parts.path, fragment, std::wstring::npos);
        parts.path.erase(fragment);
    }
    parts.port = components.nPort;
    return true;
}

bool isServiceEndpoint(const UrlParts& endpoint) {
    return hostEquals(endpoint.host, kServiceHost) && endpoint.port == kServicePort &&
           pathEquals(endpoint.path, kServiceBasePath) && endpoint.extra.empty();
}

bool validateBaseUrl(const wchar_t* url, UrlParts& endpoint) {
    UrlParts parts;
    if (!crackHttpsUrl(url, parts, true, false) || !isServiceEndpoint(parts))
        return false;
    endpoint = std::move(parts);
    return true;
}

bool isAllowedAuthorizationUrl(const wchar_t* url, bool steam) {
    UrlParts parts;
    if (!crackHttpsUrl(url, parts, true, false) || parts.extra.empty())
        return false;
    if (steam)
        return hostEquals(parts.host, kSteamOpenIdHost) && pathEquals(parts.path, L"/openid/login");
    return hostEquals(parts.host, kDiscordHost) && pathEquals(parts.path, L"/oauth2/authorize");
}

bool isTokenWellFormed(std::string_view token) {
    if (token.size() < 20 || token.size() > 512)
        return false;
    for (char c : token)
        if (!isAsciiLetterOrDigit(c) && c != '_' && c != '-')
            return false;
    return true;
}

bool isServerAddressWellFormed(std::string_view address) {
    if (address.size() > 255)
        return false;
    for (char c : address)
        if (!isAsciiLetterOrDigit(c) && c != ':' && c != '-' && c != '.' && c != '[' && c != ']')
            return false;
    const size_t colon = address.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == address.size())
        return false;
    unsigned long port = 0;
    for (char c : address.substr(colon + 1)) {
        if (c < '0' || c > '9')
            return false;
        port = port * 10 + static_cast<unsigned long>(c - '0');
        if (port > 65535)
            return false;
    }
    return port >= 1;
}
