#include "render/toolkit.h"
#include <gtest/gtest.h>

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

// The program's code expects GDI+ to be up, as start-up leaves it.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return 2;
    const int result = RUN_ALL_TESTS();
    releaseDrawingCaches();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
