#include "link/url_policy.h"

#include "link/service_hosts.h"
#include "link/shell_url.h"
#include "link/wipe.h"

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <string_view>

namespace {

constexpr size_t kMaxUrlLength = 8192;

bool pathEquals(const std::wstring& path, const wchar_t* expected) {
    return path == expected;
}

bool startsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// WinHTTP and a browser split some texts differently: "https://@host:443@evil.com/..." is host for
// one and evil.com for the other, "host:443\evil.com/..." moves the path, "host:443evil" is no URL
// at all to a browser. So besides WinHTTP's split the text itself must read literally "https://",
// the host, an optional ":443" and the path; what follows is returned in rest.
bool hasLiteralOrigin(std::wstring_view url, const wchar_t* host, const wchar_t* path,
                      std::wstring_view& rest) {
    static constexpr std::wstring_view kScheme = L"https://", kPort = L":443";
    if (!startsWithIgnoringCase(url, kScheme))
        return false;
    url.remove_prefix(kScheme.size());
    const std::wstring_view hostText = host;
    if (!startsWithIgnoringCase(url, hostText))
        return false;
    url.remove_prefix(hostText.size());
    if (url.substr(0, kPort.size()) == kPort)
        url.remove_prefix(kPort.size());
    const std::wstring_view pathText = path;
    if (url.substr(0, pathText.size()) != pathText)
        return false;
    rest = url.substr(pathText.size());
    return true;
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
    std::wstring_view rest;
    if (!crackHttpsUrl(url, parts, true, false) || !isServiceEndpoint(parts) ||
        !hasLiteralOrigin(url, kServiceHost, kServiceBasePath, rest) || !rest.empty())
        return false;
    endpoint = std::move(parts);
    return true;
}

bool isAllowedAuthorizationUrl(const wchar_t* url, bool steam) {
    const wchar_t* host = steam ? kSteamOpenIdHost : kDiscordHost;
    const wchar_t* path = steam ? L"/openid/login" : L"/oauth2/authorize";
    if (url == nullptr)
        return false;
    // The page goes to the shell next: longer or less plain texts never get that far.
    const std::wstring_view text(url, wcsnlen(url, kAuthorizationUrlMaxLength + 1));
    if (text.size() > kAuthorizationUrlMaxLength || !isShellSafeUrl(text))
        return false;
    UrlParts parts;
    std::wstring_view rest;
    // A "?" alone is an empty query to a browser.
    const bool allowed = crackHttpsUrl(url, parts, true, false) && hasLiteralOrigin(url, host, path, rest) &&
                         rest.size() > 1 && rest.front() == L'?' && hostEquals(parts.host, host) &&
                         pathEquals(parts.path, path);
    // A refused page may carry the session token anywhere in its text.
    wipeString(parts.host);
    wipeString(parts.path);
    wipeString(parts.extra);
    return allowed;
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
