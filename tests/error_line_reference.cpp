// Draws the linking screen once per error text, as the window shows a service error, so the window
// tests can compare the window's error line with the text they expect it to carry.
//
//   error_line_reference WIDTH HEIGHT TEXTS OUT    TEXTS: UTF-8, one text a line; writes OUT-1.png, …
#include "render/home_screen.h"
#include "render/preview.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

constexpr int kLongestSide = 4096;
constexpr size_t kLongestText = 1024;

std::wstring wideFromUtf8(const std::string& text) {
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(units > 0 ? units : 0, L'\0');
    if (units > 0)
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                            wide.data(), units);
    return wide;
}

bool renderText(const std::wstring& text, int width, int height, const std::wstring& path, const CLSID& png) {
    LinkState link;
    link.configLoaded = true;
    link.message = text;
    UiState ui;
    ui.screen = Linking;
    ui.previewLinkState = &link;
    LauncherConfig config{};
    SceneLibrary scenes;
    GpBitmap* bitmap = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &bitmap) != Ok)
        return false;
    DrawContext ctx;
    if (GdipGetImageGraphicsContext(bitmap, &ctx.graphics) == Ok) {
        GdipGraphicsClear(ctx.graphics, 0xFF000000);
        paintScreen(ctx, width, height, FrameInputs{ui, link, config, scenes}, PaintInterface);
        GdipDeleteGraphics(ctx.graphics);
    }
    const bool saved = GdipSaveImageToFile(bitmap, path.c_str(), &png, nullptr) == Ok;
    GdipDisposeImage(bitmap);
    return saved;
}

int renderAll(int width, int height, const wchar_t* textsPath, const std::wstring& out) {
    CLSID png;
    if (findEncoder(L"image/png", png) < 0)
        return 3;
    FILE* texts = _wfopen(textsPath, L"rb");
    if (texts == nullptr)
        return 2;
    int written = 0, failed = 0;
    char line[kLongestText + 2];
    while (std::fgets(line, sizeof line, texts) != nullptr) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        if (!renderText(wideFromUtf8(text), width, height, out + L"-" + std::to_wstring(++written) + L".png",
                        png))
            ++failed;
    }
    std::fclose(texts);
    return failed == 0 && written > 0 ? 0 : 3;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5)
        return 2;
    const int width = _wtoi(argv[1]), height = _wtoi(argv[2]);
    if (width < 1 || height < 1 || width > kLongestSide || height > kLongestSide)
        return 2;
    ULONG_PTR token = 0;
    GdiplusStartupInput input;
    if (GdiplusStartup(&token, &input, nullptr) != Ok)
        return 3;
    const int code = renderAll(width, height, argv[3], argv[4]);
    releaseDrawingCaches();
    GdiplusShutdown(token);
    return code;
}
