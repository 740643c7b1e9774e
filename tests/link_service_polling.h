#pragma once
#include "link/link_service.h"

#include <windows.h>

// Pulls the service's snapshot as the window's timer does, until done(state) holds or 10 s have passed.
template <typename Done> bool pollUntil(LinkService& service, Done done) {
    const ULONGLONG until = GetTickCount64() + 10000;
    while (GetTickCount64() < until) {
        service.pullSnapshot();
        if (done(service.state))
            return true;
        Sleep(16);
    }
    return false;
}
