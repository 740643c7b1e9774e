#pragma once
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <string>

// What one request shares with WinHTTP's status callback. WinHTTP may call back after the request
// has been given up (a closed handle does not abort I/O under way), so the context is reference
// counted and lives until the handle's closing notice.
struct RequestContext {
    std::atomic<long> shares{1};
    HANDLE completionEvent = nullptr;
    std::atomic<DWORD> lastStatus{0};
    std::atomic<DWORD> errorCode{0};
    std::atomic<DWORD> bytesRead{0};
    char buffer[8192] = {};
    std::string requestBody;
    std::wstring headers;
};

// A context with one share; null when memory or the event could not be had.
RequestContext* createRequestContext();
void acquireRequestContext(RequestContext* context);
// The last release zeroes the body, headers and buffer, closes the event and frees the context.
void releaseRequestContext(RequestContext* context);

// Waits for the callback to record `expected`. False on cancel (errorCode 1223), when the deadline
// (GetTickCount64 ms) passes (1460), when WinHTTP reported an error (its code), or when another
// completion arrived (errorCode left as it was, normally 0: the caller names that failure).
bool awaitCompletion(RequestContext& context, HANDLE cancel, DWORD expected, ULONGLONG deadline);

// The WinHTTP status callback; its context value is a heap holder of one share.
void CALLBACK requestStatusCallback(HINTERNET handle, DWORD_PTR contextValue, DWORD status, LPVOID info,
                                    DWORD infoLength);

struct RequestContextHolder {
    RequestContext* context;
};
