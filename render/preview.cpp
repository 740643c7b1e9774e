#include "render/preview.h"

#include "app/owned.h"

#include "app/run_mode.h"
#include "render/carousel.h"
#include "render/carousel_paint.h"
#include "render/home_screen.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

struct PreviewSink {
    std::wstring reportsFolder;
    CLSID png;
    float dpiFactor = 1.0f; // every image's size is multiplied by it
    bool allSaved = true;
};

bool renderFile(PreviewSink& sink, const wchar_t* name, int width, int height, const FrameInputs& in) {
    OwnedBitmap bitmap;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, bitmap.out()) != Ok)
        return false;
    {
        OwnedGraphics graphics;
        if (GdipGetImageGraphicsContext(bitmap.get(), graphics.out()) == Ok) {
            DrawContext ctx;
            ctx.graphics = graphics.get();
            paintScreen(ctx, width, height, in);
        }
    }
    const std::wstring path = sink.reportsFolder + name;
    return path.size() < 32768 && GdipSaveImageToFile(bitmap.get(), path.c_str(), &sink.png, nullptr) == Ok;
}

void render(PreviewSink& sink, const wchar_t* name, int width, int height, const FrameInputs& in) {
    if (!renderFile(sink, name, dpiPixels(width, sink.dpiFactor), dpiPixels(height, sink.dpiFactor), in))
        sink.allSaved = false;
}

LinkState stagedLinkState(bool linked) {
    LinkState state;
    state.configLoaded = true;
    state.discordEnabled = state.requireLinking = true;
    state.steamLinked = state.discordLinked = state.ready = linked;
    if (linked) {
        state.steamName = L"Tu cuenta de Steam";
        state.discordName = L"Tu cuenta de Discord";
    }
    return state;
}

} // namespace

int findEncoder(const wchar_t* mime, CLSID& encoder) {
    UINT count = 0, bytes = 0;
    if (GdipGetImageEncodersSize(&count, &bytes) != Ok || bytes == 0)
        return -1;
    ImageCodecInfo* codecs = static_cast<ImageCodecInfo*>(std::malloc(bytes));
    if (codecs == nullptr)
        return -1;
    int found = -1;
    if (GdipGetImageEncoders(count, bytes, codecs) == Ok) {
        for (UINT i = 0; i < count; ++i)
            if (codecs[i].MimeType != nullptr && std::wcscmp(codecs[i].MimeType, mime) == 0) {
                encoder = codecs[i].Clsid;
                found = static_cast<int>(i);
                break;
            }
    }
    std::free(codecs);
    return found;
}

int renderPreviewSeries(const std::wstring& programFolder, SceneLibrary& scenes, UiState& ui,
                        const LauncherConfig& config, const LinkState& link, float dpiFactor) {
    PreviewSink sink;
    sink.reportsFolder = programFolder + L"\\reports\\";
    sink.dpiFactor = boundedDpiFactor(dpiFactor);
    if (findEncoder(L"image/png", sink.png) < 0)
        return ExitPreviewFailed;
    const FrameInputs in{ui, link, config, scenes, sink.dpiFactor};
    const uint32_t n = static_cast<uint32_t>(scenes.scenes.size());

    if (scenes.paused)
        togglePause(scenes, GetTickCount64());
    showSceneNow(scenes, 0, GetTickCount64());
    ui.screen = Home;
    render(sink, L"preview.png", 1420, 890, in);
    render(sink, L"preview-compact.png", 960, 640, in);
    render(sink, L"preview-small.png", 800, 540, in);
    for (uint32_t i = 1; i < n; ++i) {
        showSceneNow(scenes, i, GetTickCount64());
        wchar_t name[64];
        std::swprintf(name, 64, L"preview-scene-%u.png", i + 1);
        render(sink, name, 1420, 890, in);
    }

    showSceneNow(scenes, 0, GetTickCount64());
    ui.screen = News;
    render(sink, L"preview-news.png", 1420, 890, in);
    render(sink, L"preview-news-compact.png", 960, 640, in);
    ui.screen = Community;
    render(sink, L"preview-community.png", 1420, 890, in);
    ui.screen = Home;

    if (n >= 2) {
        // Catch the cross-fade to scene 1 half-way, as a carousel tick 450 ms later would see it.
        const uint64_t t = GetTickCount64();
        stepScene(scenes, +1, t);
        tickCarousel(scenes, t + kSceneFadeMs / 2);
        render(sink, L"preview-transition.png", 1420, 890, in);
    }

    showSceneNow(scenes, 0, GetTickCount64());
    ui.screen = Linking;
    const LinkState before = stagedLinkState(false), after = stagedLinkState(true);
    ui.previewLinkState = &before;
    render(sink, L"preview-linking.png", 1420, 890, in);
    render(sink, L"preview-linking-compact.png", 960, 640, in);
    ui.previewLinkState = &after;
    render(sink, L"preview-linking-ready.png", 1420, 890, in);

    ui.previewLinkState = nullptr;
    ui.screen = Home;
    return sink.allSaved ? ExitOk : ExitPreviewFailed;
}

uint64_t carouselFingerprint(const SceneLibrary& scenes) {
    constexpr uint64_t kFnvPrime = 0x100000001B3ull;
    uint64_t h = 0x14650FB0739D0383ull;
    OwnedBitmap bitmap;
    const bool made =
        GdipCreateBitmapFromScan0(160, 100, 0, PixelFormat32bppARGB, nullptr, bitmap.out()) == Ok;
    if (made) {
        OwnedGraphics graphics;
        if (GdipGetImageGraphicsContext(bitmap.get(), graphics.out()) == Ok) {
            DrawContext ctx;
            ctx.graphics = graphics.get();
            GdipGraphicsClear(ctx.graphics, 0xFF000000);
            drawCarousel(ctx, {0, 0, 160, 100}, scenes);
        }
    }
    for (int y = 4; y <= 92; y += 8)
        for (int x = 4; x <= 156; x += 8) {
            ARGB pixel = 0xFF000000;
            if (!made || GdipBitmapGetPixel(bitmap.get(), x, y, &pixel) != Ok)
                pixel = 0xFF000000;
            h = (h ^ static_cast<uint64_t>(pixel)) * kFnvPrime;
        }
    return h;
}
