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

// "application/json", alone or followed by parameters; never a longer type name.
bool isJsonContentType(const wchar_t* type) {
    static const wchar_t kJson[] = L"application/json";
    const int length = static_cast<int>(std::size(kJson) - 1);
    if (static_cast<int>(wcsnlen(type, length)) < length)
        return false;
    if (CompareStringOrdinal(type, length, kJson, length, TRUE) != CSTR_EQUAL)
        return false;
    return type[length] == L';' || type[length] == L'\0';
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
    handles.session = WinHttpOpen(kServiceUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (handles.session == nullptr)
        return failBeforeSend(result, GetLastError());
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    if (!WinHttpSetTimeouts(handles.session, 4000, 4000, 6000, 6000) ||
        !WinHttpSetOption(handles.session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols))
        return failBeforeSend(result, GetLastError());
    handles.connection = WinHttpConnect(handles.session, endpoint.host.c_str(), kServicePort, 0);
    if (handles.connection == nullptr)
        return failBeforeSend(result, GetLastError());

    const std::wstring target = endpoint.path + path;
    handles.request =
        WinHttpOpenRequest(handles.connection, method, target.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (handles.request == nullptr)
        return failBeforeSend(result, GetLastError());

    share.context = createRequestContext();
    if (share.context == nullptr)
        return failBeforeSend(result, GetLastError() != 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY);
    RequestContext& context = *share.context;

    auto* holder = new (std::nothrow) RequestContextHolder{share.context};
    if (holder == nullptr)
        return failBeforeSend(result, ERROR_NOT_ENOUGH_MEMORY);
    acquireRequestContext(share.context);
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    DWORD_PTR holderValue = reinterpret_cast<DWORD_PTR>(holder);
    const bool configured =
        WinHttpSetOption(handles.request, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof redirects) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled) &&
        WinHttpSetOption(handles.request, WINHTTP_OPTION_CONTEXT_VALUE, &holderValue, sizeof holderValue) &&
        WinHttpSetStatusCallback(handles.request, requestStatusCallback,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                                 0) != WINHTTP_INVALID_STATUS_CALLBACK;
    if (!configured) {
        const DWORD error = GetLastError();
        // No callback will ever see the holder: take it back before the handle goes.
        DWORD_PTR none = 0;
        WinHttpSetOption(handles.request, WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof none);
        releaseRequestContext(holder->context);
        delete holder;
        return failBeforeSend(result, error);
    }
    // From here on the holder belongs to the request handle and is freed by its closing notice.

    // Built in place and sized once, so the token never sits in a temporary or an outgrown block that
    // is freed without wiping.
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

    const ULONGLONG deadline = GetTickCount64() + kExchangeDeadlineMs;
    DWORD lastError = 0;
    auto fail = [&](DWORD error) {
        lastError = error;
        return false;
    };
    auto exchange = [&]() -> bool {
        const DWORD bodyLength = static_cast<DWORD>(context.requestBody.size());
        void* body = bodyLength != 0 ? context.requestBody.data() : WINHTTP_NO_REQUEST_DATA;
        if (!startedOrPending(WinHttpSendRequest(handles.request, context.headers.c_str(),
                                                 static_cast<DWORD>(-1), body, bodyLength, bodyLength,
                                                 holderValue)))
            return fail(GetLastError());
        if (!awaitCompletion(context, cancel, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, deadline))
            return fail(GetLastError());

        ResetEvent(context.completionEvent);
        context.lastStatus.store(0);
        if (!startedOrPending(WinHttpReceiveResponse(handles.request, nullptr)))
            return fail(GetLastError());
        if (!awaitCompletion(context, cancel, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, deadline))
            return fail(GetLastError());

        DWORD status = 0;
        DWORD statusSize = sizeof status;
        if (!WinHttpQueryHeaders(handles.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX))
            return fail(GetLastError());
        result.status = status;

        wchar_t type[128] = {};
        DWORD typeSize = sizeof type;
        if (!WinHttpQueryHeaders(handles.request, WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX,
                                 type, &typeSize, WINHTTP_NO_HEADER_INDEX))
            return fail(GetLastError());
        if (!isJsonContentType(type))
            return fail(ERROR_INVALID_DATA);
        if (isSignalled(cancel)) {
            context.errorCode.store(ERROR_CANCELLED);
            return false;
        }

        // Reserved once, so appending never leaves an abandoned copy of the body behind.
        result.body.reserve(kMaxResponseBody);
        for (;;) {
            ResetEvent(context.completionEvent);
            context.lastStatus.store(0);
            context.bytesRead.store(0);
            if (!startedOrPending(WinHttpReadData(handles.request, context.buffer, kReadChunk, nullptr)))
                return fail(GetLastError());
            if (!awaitCompletion(context, cancel, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, deadline))
                return fail(GetLastError());
            const DWORD got = context.bytesRead.load();
            if (got == 0)
                return true;
            if (got > kReadChunk || result.body.size() + got > kMaxResponseBody) {
                context.errorCode.store(ERROR_BUFFER_OVERFLOW);
                return false;
            }
            result.body.append(context.buffer, got);
            if (isSignalled(cancel)) {
                context.errorCode.store(ERROR_CANCELLED);
                return false;
            }
        }
    };

    if (exchange()) {
        result.complete = true;
        result.error = context.errorCode.load();
        return;
    }
    result.complete = false;
    result.error = context.errorCode.load();
    if (result.error == 0)
        result.error = lastError != 0 ? lastError : ERROR_INVALID_DATA;
    // A failed exchange hands back no body; what arrived may hold half a token.
    wipeString(result.body);
}
