#include "link/shell_url.h"

#include <cwchar>

namespace {

bool isHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F') || (c >= L'a' && c <= L'f');
}

} // namespace

bool isShellSafeUrl(std::wstring_view url) {
    static constexpr std::wstring_view kRefused = L"\"\\<>^|{}`";
    for (size_t i = 0; i < url.size(); ++i) {
        const wchar_t c = url[i];
        if (c <= L' ' || c >= 127 || kRefused.find(c) != std::wstring_view::npos)
            return false;
        // Wine's shell turns a URL with a stray "%" into "http://https://…".
        if (c == L'%' && (i + 2 >= url.size() || !isHexDigit(url[i + 1]) || !isHexDigit(url[i + 2])))
            return false;
    }
    return true;
}

bool isValidCommunityUrl(const wchar_t* url) {
    static constexpr std::wstring_view kScheme = L"https://";
    if (url == nullptr)
        return false;
    const std::wstring_view text(url, wcsnlen(url, kCommunityUrlMaxLength + 1));
    if (text.size() > kCommunityUrlMaxLength || text.substr(0, kScheme.size()) != kScheme)
        return false;
    const wchar_t first = text.size() > kScheme.size() ? text[kScheme.size()] : L'\0';
    return first != L'\0' && first != L'.' && first != L'/' && text.find(L'@') == std::wstring_view::npos &&
           isShellSafeUrl(text);
}
