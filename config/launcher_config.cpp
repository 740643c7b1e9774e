#include "config/launcher_config.h"

#include "app/program_paths.h"
#include "app/text.h"
#include "config/file_replace.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const wchar_t kSection[] = L"launcher";

void readKey(const wchar_t* path, const wchar_t* key, wchar_t* out, DWORD capacity) {
    GetPrivateProfileStringW(kSection, key, L"", out, capacity, path);
}

bool isAsciiAlnum(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

} // namespace

void escapeNewsBody(const wchar_t* body, wchar_t* out, size_t capacity) {
    size_t n = 0;
    auto put = [&](wchar_t c) {
        if (n + 1 < capacity)
            out[n++] = c;
    };
    for (const wchar_t* p = body; *p != L'\0'; ++p) {
        if (*p == L'\r')
            continue;
        if (*p == L'\n') {
            put(L'\\');
            put(L'n');
        } else if (*p == L'\\') {
            put(L'\\');
            put(L'\\');
        } else {
            put(*p);
        }
    }
    if (capacity > 0)
        out[n] = L'\0';
}

void unescapeNewsBody(const wchar_t* stored, wchar_t* out, size_t capacity) {
    size_t n = 0;
    for (const wchar_t* p = stored; *p != L'\0' && n + 1 < capacity; ++p) {
        if (*p == L'\\' && p[1] != L'\0') {
            ++p;
            out[n++] = (*p == L'n') ? L'\n' : *p;
        } else {
            out[n++] = *p;
        }
    }
    if (capacity > 0)
        out[n] = L'\0';
}

void readLauncherConfig(const wchar_t* path, LauncherConfig& config) {
    readKey(path, L"server", config.server, std::size(config.server));
    readKey(path, L"community", config.community, std::size(config.community));
    readKey(path, L"news_title", config.news_title, std::size(config.news_title));
    wchar_t raw[kNewsBodyRawCapacity] = {};
    readKey(path, L"news_body", raw, kNewsBodyRawCapacity);
    unescapeNewsBody(raw, config.news_body, std::size(config.news_body));
    readKey(path, L"background", config.background, std::size(config.background));
}

void readStartupConfig(const wchar_t* path, LauncherConfig& config) {
    config = LauncherConfig{};
    readKey(path, L"background", config.background, std::size(config.background));
    if (!isValidBackgroundName(config.background))
        config.background[0] = L'\0';
}

std::wstring pendingPathFor(const wchar_t* target) {
    return std::wstring(target) + L".pending";
}

bool writeLauncherConfig(const LauncherConfig& config, const wchar_t* path) {
    wchar_t body[kNewsBodyRawCapacity] = {};
    escapeNewsBody(config.news_body, body, kNewsBodyRawCapacity);

    const wchar_t* target = path != nullptr ? path : configurationPath().c_str();
    if (target[0] == L'\0')
        return false;

    wchar_t text[8192] = {};
    const int length =
        std::swprintf(text, std::size(text),
                      L"\xFEFF[launcher]\r\nserver=%ls\r\ncommunity=%ls\r\nnews_title=%ls\r\nnews_body=%"
                      L"ls\r\nbackground=%ls\r\n",
                      config.server, config.community, config.news_title, body, config.background);
    if (length <= 0)
        return false;

    const std::wstring pending = pendingPathFor(target);
    if (pending.size() >= 32768)
        return false;

    // Exclusive creation of the pending file is the only guard against a concurrent writer.
    if (!replaceFile(target, pending.c_str(), text, static_cast<size_t>(length) * sizeof(wchar_t)))
        return false;
    // The profile API caches files; make the next read see the new content.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, target);
    return true;
}

bool isValidBackgroundName(const wchar_t* name) {
    if (name == nullptr || name[0] == L'\0')
        return true;
    const size_t length = std::wcslen(name);
    if (length > 120)
        return false;
    if (std::wcsstr(name, L"..") != nullptr)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = name[i];
        if (!isAsciiAlnum(c) && c != L' ' && c != L'-' && c != L'.' && c != L'_')
            return false;
    }
    const wchar_t* dot = std::wcsrchr(name, L'.');
    if (dot == nullptr)
        return false;
    for (const wchar_t* ext : {L".png", L".jpg", L".jpeg"})
        if (CompareStringOrdinal(dot, -1, ext, -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}
