#pragma once
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <string_view>

// The control port of tools/link-service/link_service.py, reached over plain HTTP on loopback; its
// address comes from tools/with-link-service.sh.
namespace linkservice {

inline std::wstring environment(const wchar_t* name) {
    wchar_t value[512] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 512);
    return length > 0 && length < 512 ? std::wstring(value, length) : std::wstring();
}

struct Reply {
    DWORD status = 0;
    nlohmann::json document;
};

inline Reply call(const wchar_t* method, const std::wstring& path, const nlohmann::json& request = nullptr) {
    Reply reply;
    const std::wstring address = environment(L"ORVANE_LINK_CONTROL");
    const size_t colon = address.rfind(L':');
    if (colon == std::wstring::npos)
        return reply;
    const std::wstring host = address.substr(0, colon);
    const auto port = static_cast<INTERNET_PORT>(std::stoi(address.substr(colon + 1)));
    const std::string body = request.is_null() ? std::string() : request.dump();

    HINTERNET session = WinHttpOpen(L"link-service-control", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? WinHttpConnect(session, host.c_str(), port, 0) : nullptr;
    HINTERNET handle = connection ? WinHttpOpenRequest(connection, method, path.c_str(), nullptr,
                                                       WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                                  : nullptr;
    std::string answer;
    if (handle != nullptr &&
        WinHttpSendRequest(handle, L"Content-Type: application/json\r\n", static_cast<DWORD>(-1),
                           body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                           static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) &&
        WinHttpReceiveResponse(handle, nullptr)) {
        DWORD size = sizeof reply.status;
        WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &reply.status, &size, WINHTTP_NO_HEADER_INDEX);
        char chunk[8192];
        DWORD got = 0;
        while (WinHttpReadData(handle, chunk, sizeof chunk, &got) && got > 0)
            answer.append(chunk, got);
    }
    if (handle != nullptr)
        WinHttpCloseHandle(handle);
    if (connection != nullptr)
        WinHttpCloseHandle(connection);
    if (session != nullptr)
        WinHttpCloseHandle(session);
    reply.document = nlohmann::json::parse(answer, nullptr, false);
    return reply;
}

// Makes method + path (below the base path) answer as described, for the next `times` requests.
inline bool answer(const char* method, const char* path, nlohmann::json how, int times = 1) {
    how["method"] = method;
    how["path"] = path;
    how["times"] = times;
    return call(L"POST", L"/answer", how).status == 200;
}

inline bool reset() {
    return call(L"POST", L"/reset", nlohmann::json::object()).status == 200;
}

// The log's next sequence number: every connection, handshake failure and request takes one.
inline long long nextEvent() {
    const Reply reply = call(L"GET", L"/log?since=999999999");
    return reply.document.is_object() ? reply.document.value("next", -1LL) : -1LL;
}

inline nlohmann::json eventsSince(long long since) {
    const Reply reply = call(L"GET", L"/log?since=" + std::to_wstring(since));
    return reply.document.is_object() ? reply.document["events"] : nlohmann::json::array();
}

// How the service's log and state show a token: "sha256:" and the first 16 hex digits of its SHA-256.
inline std::string fingerprint(std::string_view token) {
    unsigned char digest[32] = {};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
                BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
                BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(token.data())),
                               static_cast<ULONG>(token.size()), 0) == 0 &&
                BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!done)
        return std::string();
    std::string text = "sha256:";
    char pair[3];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        text += pair;
    }
    return text;
}

} // namespace linkservice
