#include "app/monotonic.h"

#include <windows.h>

double monotonicSeconds() {
    // A function-local static is initialised once, thread-safely.
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f{};
        return QueryPerformanceFrequency(&f) ? f.QuadPart : 0;
    }();
    LARGE_INTEGER counter{};
    if (frequency <= 0 || !QueryPerformanceCounter(&counter))
        return static_cast<double>(GetTickCount64()) / 1000.0;
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency);
}
