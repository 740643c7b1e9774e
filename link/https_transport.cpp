#include "link/https_transport.h"

#include "link/request_context.h"
#include "link/service_hosts.h"
#include "link/url_policy.h"
#include "link/wipe.h"

#include <winhttp.h>

#include <cwchar>
#include <new>
#include <string_view>
#include <utility>

namespace {

constexpr DWORD kReadChunk = sizeof(RequestContext::buffer);
constexpr ULONGLONG kExchangeDeadlineMs = 20000;

bool isSignalled(HANDLE event) {
    return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

bool startedOrPending(BOOL started) {
    return started || GetLastError() == ERROR_IO_PENDING;
}

struct Handles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    ~Handles() {
        if (request != nullptr)
            WinHttpCloseHandle(request);
        if (connection != nullptr)
            WinHttpCloseHandle(connection);
        if (session != nullptr)
            WinHttpCloseHandle(session);
    }
};

struct ContextShare {
    RequestContext* context = nullptr;
    ~ContextShare() {
        if (context != nullptr)
            releaseRequestContext(context);
    }
};

void failBeforeSend(HttpResult& result, DWORD error) {
    result.error = error;
}

} // namespace

HttpResult& HttpResult::operator=(const HttpResult& other) {
    if (this != &other) {
        wipeString(body);
        status = other.status;
        error = other.error;
        complete = other.complete;
        body = other.body;
    }
    return *this;
}

HttpResult& HttpResult::operator=(HttpResult&& other) {
    if (this != &other) {
        wipeString(body);
        status = other.status;
        error = other.error;
        complete = other.complete;
        body = std::move(other.body);
    }
    return *this;
}

HttpResult::~HttpResult() {
    wipeString(body);
}

RequestContext* createRequestContext() {
    RequestContext* context = new (std::nothrow) RequestContext;
    if (context == nullptr)
        return nullptr;
    context->completionEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (context->completionEvent == nullptr) {
        const DWORD error = GetLastError();
        releaseRequestContext(context);
        SetLastError(error);
        return nullptr;
    }
    return context;
}

void acquireRequestContext(RequestContext* context) {
    context->shares.fetch_add(1);
}

void releaseRequestContext(RequestContext* context) {
    if (context->shares.fetch_sub(1) != 1)
        return;
    wipeString(context->requestBody);
    wipeString(context->headers);
    SecureZeroMemory(context->buffer, sizeof context->buffer);
    if (context->completionEvent != nullptr)
        CloseHandle(context->completionEvent);
    delete context;
}

void CALLBACK requestStatusCallback(HINTERNET, DWORD_PTR contextValue, DWORD status, LPVOID info,
                                    DWORD infoLength) {
    auto* holder = reinterpret_cast<RequestContextHolder*>(contextValue);
    if (holder == nullptr)
        return;
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
        releaseRequestContext(holder->context);
        delete holder;
        return;
    }
    RequestContext* context = holder->context;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        break;
    default:
        return;
    }
    acquireRequestContext(context);
    if (status == WINHTTP_CALLBACK_STATUS_READ_COMPLETE) {
        context->bytesRead.store(infoLength);
    } else if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
        const auto* outcome = static_cast<const WINHTTP_ASYNC_RESULT*>(info);
        context->errorCode.store(outcome != nullptr ? outcome->dwError : ERROR_WINHTTP_INTERNAL_ERROR);
    }
    context->lastStatus.exchange(status);
    SetEvent(context->completionEvent);
    releaseRequestContext(context);
}

bool awaitCompletion(RequestContext& context, HANDLE cancel, DWORD expected, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    if (deadline <= now) {
        context.errorCode.store(ERROR_TIMEOUT);
        return false;
    }
    const ULONGLONG remaining = deadline - now;
    const DWORD timeout = remaining >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(remaining);
    HANDLE events[2] = {context.completionEvent, cancel};
    const DWORD count = cancel != nullptr ? 2 : 1;
    // The cancel event goes first, so a cancel that coincides with a completion wins.
    if (cancel != nullptr) {
        events[0] = cancel;
        events[1] = context.completionEvent;
    }
    const DWORD outcome = WaitForMultipleObjects(count, events, FALSE, timeout);
    const DWORD completionIndex = WAIT_OBJECT_0 + count - 1;
    if (outcome == completionIndex) {
        if (context.errorCode.load() != 0)
            return false;
        return context.lastStatus.load() == expected;
    }
    if (cancel != nullptr && outcome == WAIT_OBJECT_0)
        context.errorCode.store(ERROR_CANCELLED);
    else
        context.errorCode.store(ERROR_TIMEOUT);
    return false;
}

bool isAllowedEndpoint(const wchar_t* method, const wchar_t* path) {
    if (method == nullptr || path == nullptr)
        return false;
    static const struct {
        const wchar_t* method;
        const wchar_t* path;
    } kAllowed[] = {
        {L"GET", L"/config"},      {L"GET", L"/session"},       {L"POST", L"/sessions"},
        {L"POST", L"/link/steam"}, {L"POST", L"/link/discord"}, {L"POST", L"/logout"},
    };
    for (const auto& entry : kAllowed)
        if (std::wcscmp(method, entry.method) == 0 && std::wcscmp(path, entry.path) == 0)
            return true;
    return false;
}

namespace {

// The error that ended a wait: what the callback or the wait itself recorded. A completion of another
// kind records none; GetLastError() after a wait would be stale, so it is never read here.
DWORD waitFor(RequestContext& context, HANDLE cancel, DWORD expected, ULONGLONG deadline) {
    if (awaitCompletion(context, cancel, expected, deadline))
        return 0;
    const DWORD error = context.errorCode.load();
    return error != 0 ? error : ERROR_INVALID_DATA;
}

DWORD lastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

// Session, connection and request handles for one call to the service. Each step returns 0 or the
// error that ended it.
DWORD openRequest(Handles& handles, const UrlParts& endpoint, const wchar_t* method, const wchar_t* path) {
    handles.session = WinHttpOpen(kServiceUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (handles.session == nullptr)
        return lastErrorOr(ERROR_INVALID_HANDLE);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (!WinHttpSetTimeouts(handles.session, 4000, 4000, 6000, 6000) ||
        !WinHttpSetOption(handles.session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
        return lastErrorOr(ERROR_INVALID_PARAMETER);
    handles.connection = WinHttpConnect(handles.session, endpoint.host.c_str(), kServicePort, 0);
    if (handles.connection == nullptr)
        return lastErrorOr(ERROR_INVALID_HANDLE);
    const std::wstring target = endpoint.path + path;
    handles.request =
        WinHttpOpenRequest(handles.connection, method, target.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    return handles.request != nullptr ? 0 : lastErrorOr(ERROR_INVALID_HANDLE);
}

// The request's context, handed to WinHTTP's callback through a holder that the request handle's
// closing notice frees. No redirects, cookies or automatic authentication; no connection kept for a
// later request, so an abandoned answer is never drained to reuse it; and a header block, or a drained
// body, larger than any answer the service may send is not read on.
DWORD attachContext(Handles& handles, ContextShare& share, DWORD_PTR& holderValue) {
    share.context = createRequestContext();
    if (share.context == nullptr)
        return lastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    auto* holder = new (std::nothrow) RequestContextHolder{share.context};
    if (holder == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    acquireRequestContext(share.context);
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION | WINHTTP_DISABLE_KEEP_ALIVE;
    DWORD answerLimit = static_cast<DWORD>(kMaxResponseBody);
    holderValue = reinterpret_cast<DWORD_PTR>(holder);
    const bool configured =
        WinHttpSetOption(handles.request, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &answerLimit,
                         sizeof answerLimit) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_MAX_RESPONSE_DRAIN_SIZE, &answerLimit,
                         sizeof answerLimit) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_CONTEXT_VALUE, &holderValue, sizeof holderValue) &&
        WinHttpSetStatusCallback(handles.request, requestStatusCallback,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) != WINHTTP_INVALID_STATUS_CALLBACK;
    if (configured)
        return 0;
    const DWORD error = lastErrorOr(ERROR_INVALID_PARAMETER);
    // No callback will ever see the holder: take it back before the handle goes.
    DWORD_PTR none = 0;
    WinHttpSetOption(handles.request, WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof none);
    releaseRequestContext(holder->context);
    delete holder;
    return error;
}

// Built in place and sized once, so the token never sits in a temporary or an outgrown block that is
// freed without wiping.
void buildRequest(RequestContext& context, const wchar_t* method, std::string_view token) {
    static constexpr std::wstring_view kJsonHeaders =
        L"Accept: application/json\r\nContent-Type: application/json\r\n";
    static constexpr std::wstring_view kBearer = L"Authorization: Bearer ";
    context.headers.reserve(kJsonHeaders.size() + kBearer.size() + token.size() + 2);
    context.headers = kJsonHeaders;
    if (!token.empty()) {
        context.headers += kBearer;
        for (char c : token)
            context.headers += static_cast<wchar_t>(static_cast<unsigned char>(c));
        context.headers += L"\r\n";
    }
    if (CompareStringOrdinal(method, -1, L"POST", -1, TRUE) == CSTR_EQUAL)
        context.requestBody = "{}";
}

DWORD sendAndAwaitHeaders(HINTERNET request, RequestContext& context, DWORD_PTR holderValue, HANDLE cancel,
                          ULONGLONG deadline, HttpResult& result) {
    const DWORD bodyLength = static_cast<DWORD>(context.requestBody.size());
    void* body = bodyLength != 0 ? context.requestBody.data() : WINHTTP_NO_REQUEST_DATA;
    if (!startedOrPending(WinHttpSendRequest(request, context.headers.c_str(), static_cast<DWORD>(-1), body,
                                             bodyLength, bodyLength, holderValue)))
        return lastErrorOr(ERROR_INVALID_DATA);
    if (const DWORD error = waitFor(context, cancel, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, deadline))
        return error;

    ResetEvent(context.completionEvent);
    context.lastStatus.store(0);
    if (!startedOrPending(WinHttpReceiveResponse(request, nullptr)))
        return lastErrorOr(ERROR_INVALID_DATA);
    if (const DWORD error = waitFor(context, cancel, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, deadline))
        return error;

    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
        return lastErrorOr(ERROR_INVALID_DATA);
    result.status = status;

    wchar_t type[128] = {};
    DWORD typeSize = sizeof type;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX, type,
                             &typeSize, WINHTTP_NO_HEADER_INDEX))
        return lastErrorOr(ERROR_INVALID_DATA);
    if (!isJsonContentType(type))
        return ERROR_INVALID_DATA;
    return isSignalled(cancel) ? ERROR_CANCELLED : 0;
}

DWORD readBody(HINTERNET request, RequestContext& context, HANDLE cancel, ULONGLONG deadline,
               std::string& body) {
    // Reserved once, so appending never leaves an abandoned copy of the body behind.
    body.reserve(kMaxResponseBody);
    for (;;) {
        ResetEvent(context.completionEvent);
        context.lastStatus.store(0);
        context.bytesRead.store(0);
        if (!startedOrPending(WinHttpReadData(request, context.buffer, kReadChunk, nullptr)))
            return lastErrorOr(ERROR_INVALID_DATA);
        if (const DWORD error = waitFor(context, cancel, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, deadline))
            return error;
        const DWORD got = context.bytesRead.load();
        if (got == 0)
            return 0;
        if (got > kReadChunk || body.size() + got > kMaxResponseBody)
            return ERROR_BUFFER_OVERFLOW;
        body.append(context.buffer, got);
        if (isSignalled(cancel))
            return ERROR_CANCELLED;
    }
}

} // namespace

bool isJsonContentType(const wchar_t* type) {
    static constexpr std::wstring_view kJson = L"application/json";
    const int length = static_cast<int>(kJson.size());
    if (type == nullptr || static_cast<int>(wcsnlen(type, kJson.size())) < length ||
        CompareStringOrdinal(type, length, kJson.data(), length, TRUE) != CSTR_EQUAL)
        return false;
    // Whitespace may stand before the parameters' ";".
    const wchar_t* rest = type + length;
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    return *rest == L';' || *rest == L'\0';
}

void performRequest(HttpResult& result, const UrlParts& endpoint, const wchar_t* method, const wchar_t* path,
                    std::string_view token, HANDLE cancel) {
    result.status = 0;
    result.error = 0;
    result.complete = false;
    wipeString(result.body);

    if (isSignalled(cancel))
        return failBeforeSend(result, ERROR_CANCELLED);
    if (!isServiceEndpoint(endpoint) || !isAllowedEndpoint(method, path))
        return failBeforeSend(result, ERROR_ACCESS_DENIED);
    // A token that is not exactly the issued shape (CR or LF included) never reaches the header block.
    if (!token.empty() && (token.size() != 43 || !isTokenWellFormed(token)))
        return failBeforeSend(result, ERROR_ACCESS_DENIED);

    // Declared first so it is released last, after the handles are closed.
    ContextShare share;
    Handles handles;
    DWORD_PTR holderValue = 0;
    DWORD error = openRequest(handles, endpoint, method, path);
    if (error == 0)
        error = attachContext(handles, share, holderValue);
    if (error != 0)
        return failBeforeSend(result, error);
    // From here on the holder belongs to the request handle and is freed by its closing notice.
    RequestContext& context = *share.context;
    buildRequest(context, method, token);

    const ULONGLONG deadline = GetTickCount64() + kExchangeDeadlineMs;
    error = sendAndAwaitHeaders(handles.request, context, holderValue, cancel, deadline, result);
    if (error == 0)
        error = readBody(handles.request, context, cancel, deadline, result.body);
    result.complete = error == 0;
    result.error = error;
    // A failed exchange hands back no body; what arrived may hold half a token.
    if (error != 0)
        wipeString(result.body);
}
