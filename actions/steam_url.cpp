#include "actions/steam_url.h"

#include <cwchar>
#include <iterator>

namespace {

// Expanded by swprintf: "%%" is a literal percent sign, so "%2B" and "%20" reach Steam encoded.
constexpr wchar_t kConnectTemplate[] = L"steam://run/4000//%%2Bconnect%%20%ls/";
// What the template adds around the address once formatted: "steam://run/4000//%2Bconnect%20" and "/".
constexpr size_t kConnectTextLength = 32;
constexpr size_t kEncodedCapacity = 640;
constexpr size_t kHostMaxLength = 253;

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool isLetterOrDigit(wchar_t c) {
    return isDigit(c) || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Letters, digits, '-' and '.', each label starting and ending with a letter or digit.
bool isHostShape(const wchar_t* host, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = host[i];
        if (!isLetterOrDigit(c) && c != L'-' && c != L'.')
            return false;
    }
    if (!isLetterOrDigit(host[0]) || host[length - 1] == L'-' || host[length - 1] == L'.')
        return false;
    for (size_t i = 1; i < length; ++i) {
        if (host[i - 1] == L'.' && !isLetterOrDigit(host[i]))
            return false;
        if (host[i] == L'.' && host[i - 1] == L'-')
            return false;
    }
    return true;
}

// A host of digits and dots only must be four groups of 1-3 digits, each at most 255.
bool isNumericHostValid(const wchar_t* host, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (!isDigit(host[i]) && host[i] != L'.')
            return true; // a name, not an address
    int groups = 0;
    size_t i = 0;
    while (i <= length) {
        size_t digits = 0;
        int value = 0;
        while (i < length && isDigit(host[i]) && digits < 4) {
            value = value * 10 + (host[i] - L'0');
            ++digits;
            ++i;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        ++groups;
        if (i == length)
            break;
        ++i; // the dot
    }
    return groups == 4;
}

bool isPortValid(const wchar_t* port) {
    if (*port == L'\0')
        return false;
    long value = 0;
    for (; *port != L'\0'; ++port) {
        if (!isDigit(*port))
            return false;
        value = value * 10 + (*port - L'0');
        if (value > 65535)
            return false;
    }
    return value >= 1;
}

} // namespace

bool validateServerAddress(const wchar_t* address) {
    if (address == nullptr || address[0] == L'\0')
        return false;
    const size_t length = wcsnlen(address, kServerAddressMaxLength + 1);
    if (length > kServerAddressMaxLength)
        return false;
    const wchar_t* colon = nullptr;
    for (size_t i = 0; i < length; ++i) {
        if (address[i] != L':')
            continue;
        if (colon != nullptr)
            return false;
        colon = address + i;
    }
    const size_t hostLength = colon != nullptr ? static_cast<size_t>(colon - address) : length;
    if (hostLength < 1 || hostLength > kHostMaxLength)
        return false;
    if (!isHostShape(address, hostLength) || !isNumericHostValid(address, hostLength))
        return false;
    return colon == nullptr || isPortValid(colon + 1);
}

bool buildSteamUrl(const wchar_t* address, wchar_t* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return false;
    out[0] = L'\0';
    if (address == nullptr || address[0] == L'\0') {
        if (capacity < std::size(kSteamRunUrl))
            return false;
        std::wmemcpy(out, kSteamRunUrl, std::size(kSteamRunUrl));
        return true;
    }
    if (!validateServerAddress(address))
        return false;
    wchar_t encoded[kEncodedCapacity] = {};
    size_t n = 0;
    for (const wchar_t* p = address; *p != L'\0'; ++p) {
        if (*p != L':') {
            encoded[n++] = *p;
            continue;
        }
        if (n > kEncodedCapacity - 4)
            return false;
        encoded[n++] = L'%';
        encoded[n++] = L'3';
        encoded[n++] = L'A';
    }
    // The runtime's swprintf may cut the text short and still report a length, so the fit is
    // decided here, before formatting.
    if (kConnectTextLength + n >= capacity)
        return false;
    const int written = std::swprintf(out, capacity, kConnectTemplate, encoded);
    if (written > 0 && static_cast<size_t>(written) == kConnectTextLength + n)
        return true;
    out[0] = L'\0';
    return false;
}
