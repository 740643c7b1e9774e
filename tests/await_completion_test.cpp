#include "link/request_context.h"

#include <winhttp.h>

#include <gtest/gtest.h>

namespace {

struct Fixture {
    RequestContext* context = createRequestContext();
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Fixture() {
        releaseRequestContext(context);
        CloseHandle(cancel);
    }
};

// What the status callback does when WinHTTP reports `status`.
void callBack(RequestContext* context, DWORD status, DWORD length = 0,
              const WINHTTP_ASYNC_RESULT* outcome = nullptr) {
    auto* holder = new RequestContextHolder{context};
    acquireRequestContext(context);
    requestStatusCallback(nullptr, reinterpret_cast<DWORD_PTR>(holder), status,
                          const_cast<WINHTTP_ASYNC_RESULT*>(outcome), length);
    requestStatusCallback(nullptr, reinterpret_cast<DWORD_PTR>(holder),
                          WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING, nullptr, 0);
}

constexpr DWORD kSent = WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE;

} // namespace

TEST(AwaitCompletion, OutcomesOfOneWait) {
    struct Case {
        const char* what;
        bool completes;
        DWORD recorded;
        DWORD presetError;
        bool cancelled;
        ULONGLONG deadlineFromNow;
        bool result;
        DWORD errorCode;
    };
    const Case cases[] = {
        {"expected completion", true, kSent, 0, false, 5000, true, 0},
        {"another completion", true, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, 0, false, 5000, false, 0},
        {"error recorded", true, kSent, ERROR_WINHTTP_CANNOT_CONNECT, false, 5000, false,
         ERROR_WINHTTP_CANNOT_CONNECT},
        {"cancelled", false, 0, 0, true, 5000, false, ERROR_CANCELLED},
        {"cancel beats a completion", true, kSent, 0, true, 5000, false, ERROR_CANCELLED},
        {"deadline passed before the wait", true, kSent, 0, false, 0, false, ERROR_TIMEOUT},
        {"deadline passes during the wait", false, 0, 0, false, 60, false, ERROR_TIMEOUT},
    };
    for (const Case& c : cases) {
        Fixture f;
        ASSERT_NE(f.context, nullptr);
        f.context->errorCode = c.presetError;
        if (c.completes) {
            f.context->lastStatus = c.recorded;
            SetEvent(f.context->completionEvent);
        }
        if (c.cancelled)
            SetEvent(f.cancel);
        EXPECT_EQ(awaitCompletion(*f.context, f.cancel, kSent, GetTickCount64() + c.deadlineFromNow),
                  c.result)
            << c.what;
        EXPECT_EQ(f.context->errorCode.load(), c.errorCode) << c.what;
    }
}

TEST(AwaitCompletion, StatusCallbackRecordsCompletionsOnly) {
    Fixture f;
    callBack(f.context, WINHTTP_CALLBACK_STATUS_RESOLVING_NAME);
    EXPECT_EQ(WaitForSingleObject(f.context->completionEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(f.context->lastStatus.load(), 0u);

    callBack(f.context, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, 8192);
    EXPECT_EQ(f.context->bytesRead.load(), 8192u);
    EXPECT_TRUE(awaitCompletion(*f.context, f.cancel, WINHTTP_CALLBACK_STATUS_READ_COMPLETE,
                                GetTickCount64() + 1000));

    ResetEvent(f.context->completionEvent);
    const WINHTTP_ASYNC_RESULT outcome{API_RECEIVE_RESPONSE, ERROR_WINHTTP_SECURE_FAILURE};
    callBack(f.context, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR, sizeof outcome, &outcome);
    EXPECT_FALSE(awaitCompletion(*f.context, f.cancel, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE,
                                 GetTickCount64() + 1000));
    EXPECT_EQ(f.context->errorCode.load(), static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE));

    Fixture g;
    callBack(g.context, WINHTTP_CALLBACK_STATUS_REQUEST_ERROR);
    EXPECT_EQ(g.context->errorCode.load(), static_cast<DWORD>(ERROR_WINHTTP_INTERNAL_ERROR));
    // Every holder was released by its closing notice: only the fixture's share is left.
    EXPECT_EQ(f.context->shares.load(), 1);
    EXPECT_EQ(g.context->shares.load(), 1);
}
