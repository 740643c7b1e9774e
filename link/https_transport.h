#pragma once
#include "link/url_policy.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

// The outcome of one exchange with the link service. status keeps the code even when the exchange
// failed after the status line (the caller treats a 401 as expired either way). The body may carry
// the session token, so it is zeroed when the result goes away.
struct HttpResult {
    uint32_t status = 0;
    uint32_t error = 0;
    bool complete = false;
    std::string body;

    HttpResult() = default;
    HttpResult(const HttpResult&) = default;
    HttpResult(HttpResult&&) = default;
    // The body being replaced is zeroed first.
    HttpResult& operator=(const HttpResult& other);
    HttpResult& operator=(HttpResult&& other);
    ~HttpResult();
};

inline constexpr size_t kMaxResponseBody = 131072;

// One request to the service: only the six endpoints, only the production origin, only a 43-character
// well-formed bearer token (or none). Anything else is refused with error 5 before any network call.
// Setting cancel ends every wait with error 1223.
void performRequest(HttpResult& result, const UrlParts& endpoint, const wchar_t* method, const wchar_t* path,
                    std::string_view token, HANDLE cancel);

// The shape of performRequest, so a substitute transport can stand in for it.
using HttpTransport = void (*)(HttpResult& result, const UrlParts& endpoint, const wchar_t* method,
                               const wchar_t* path, std::string_view token, HANDLE cancel);

// "application/json" in any letter case, alone or followed by parameters (whitespace allowed before the
// ";"); never a longer type name.
bool isJsonContentType(const wchar_t* type);

// The six method/path pairs of the service, compared exactly.
bool isAllowedEndpoint(const wchar_t* method, const wchar_t* path);
