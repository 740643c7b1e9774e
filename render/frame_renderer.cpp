#include "render/frame_renderer.h"

#include "app/owned.h"

#include "render/carousel.h"
#include "render/carousel_paint.h"
#include "render/focus_ring.h"
#include "render/hit_geometry.h"
#include "render/pixel_layers.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Below these the moving parts look the same, so the frame is left as it is.
constexpr float kVisibleShift = 0.5f;  // destination pixels of picture drift
constexpr float kVisibleTurn = 0.5f;   // degrees of emblem rotation
constexpr float kProgressSteps = 4.0f; // progress bar positions per pixel

// What the interface layer was drawn from: every input of the interface except the scene on show
// (its bars and labels are redrawn in place when it changes) and the moving parts drawn over it each
// frame (emblem, progress).
struct InterfaceKey {
    Screen screen = Home;
    HitTarget hover = None, focus = None;
    bool focusVisible = false, statusIsError = false, awaitingBrowser = false, linkingEnabled = false;
    bool signOutArmed = false, windowMaximised = false;
    std::wstring statusText, playStatusText;
    LinkState link;
    LauncherConfig config{};
    size_t sceneCount = 0;
    bool paused = false;

    bool operator==(const InterfaceKey& o) const {
        return screen == o.screen && hover == o.hover && focus == o.focus && focusVisible == o.focusVisible &&
               statusIsError == o.statusIsError && awaitingBrowser == o.awaitingBrowser &&
               linkingEnabled == o.linkingEnabled && signOutArmed == o.signOutArmed &&
               windowMaximised == o.windowMaximised && statusText == o.statusText &&
               playStatusText == o.playStatusText && link == o.link &&
               std::memcmp(&config, &o.config, sizeof config) == 0 && sceneCount == o.sceneCount &&
               paused == o.paused;
    }
};

InterfaceKey interfaceKey(const FrameInputs& in) {
    InterfaceKey key;
    key.screen = in.ui.screen;
    key.hover = in.ui.hover;
    key.focus = in.ui.focus;
    key.focusVisible = in.ui.focusVisible;
    key.statusIsError = in.ui.statusIsError;
    key.awaitingBrowser = in.ui.awaitingBrowser;
    key.linkingEnabled = in.ui.linkingEnabled;
    key.signOutArmed = in.ui.signOutArmed;
    key.windowMaximised = in.ui.windowMaximised;
    key.statusText = in.ui.statusText;
    key.playStatusText = in.ui.playStatusText;
    key.link = in.ui.previewLinkState ? *in.ui.previewLinkState : in.link;
    key.config = in.config;
    key.sceneCount = in.scenes.scenes.size();
    key.paused = in.scenes.paused;
    return key;
}

// A picture scaled to the frame at one crop.
struct SceneLayer {
    const Scene* scene = nullptr;
    SourceCrop crop{};
    std::vector<uint32_t> pixels;
};

// The pictures the backdrop shows at this moment: `to` alone, or `from` fading into `to`.
struct BackdropState {
    const Scene* from = nullptr;
    const Scene* to = nullptr;
    SourceCrop fromCrop{}, toCrop{};
    uint32_t alpha = 255; // share of `to`
};

// The moving parts as last drawn.
struct AnimatedState {
    float angle = 0;
    int progress = -1; // in 1/kProgressSteps pixels; -1 = not drawn
};

} // namespace

struct FrameCaches {
    int width = 0, height = 0;
    float dpiFactor = 0; // the scale's input beside the size; 0 until the first frame
    UiScale scale{};
    std::vector<uint32_t> overlay; // scrims and interface, premultiplied
    bool overlayValid = false;
    InterfaceKey drawnInterface;
    uint32_t overlayScene = 0; // whose bars and labels the overlay shows
    SceneLayer layers[2];
    bool frameValid = false;
    BackdropState drawnBackdrop;
    AnimatedState drawnAnimated;
};

FrameRenderer::FrameRenderer() = default;
FrameRenderer::~FrameRenderer() = default;

namespace {

PixelRect wholeFrame(int width, int height) {
    return {0, 0, width, height};
}

// Caches drawn for another size or another screen's scale are of no use.
bool sameGeometry(const FrameCaches& c, int width, int height, const FrameInputs& in) {
    return c.width == width && c.height == height && c.dpiFactor == in.dpiFactor;
}

PixelRect unite(PixelRect a, PixelRect b) {
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// A design rectangle in frame pixels, padded for anti-aliasing and clipped to the frame.
PixelRect pixelsOf(DesignRect r, float s, int width, int height) {
    const int left = std::max(0, static_cast<int>(std::floor(r.x * s)) - 2);
    const int top = std::max(0, static_cast<int>(std::floor(r.y * s)) - 2);
    const int right = std::min(width, static_cast<int>(std::ceil((r.x + r.w) * s)) + 2);
    const int bottom = std::min(height, static_cast<int>(std::ceil((r.y + r.h) * s)) + 2);
    return {left, top, right, bottom};
}

// The whole bar the progress fills, whatever its share.
DesignRect progressArea(const SceneLibrary& scenes, UiScale ui) {
    return sceneBarRect(scenes.current, ui.width, ui.height);
}

bool overlaps(PixelRect a, PixelRect b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Where the scene on show appears in the interface: its position bars, caption and counter.
std::vector<PixelBox> sceneStatusBoxes(const FrameInputs& in, UiScale ui, int width, int height) {
    const int W = ui.width, H = ui.height;
    const size_t bars = std::min(in.scenes.scenes.size(), kMaxSceneBars);
    std::vector<DesignRect> areas = {sceneCounterInkRect(W, H)};
    if (bars > 0)
        areas.push_back(sceneBarsRect(bars, W, H));
    if (in.ui.screen != Linking)
        areas.push_back(sceneCaptionRect(W, H));
    std::vector<PixelBox> boxes;
    for (const DesignRect& area : areas) {
        const PixelRect r = pixelsOf(area, ui.scale, width, height);
        boxes.push_back({r.left, r.top, r.right, r.bottom});
    }
    return boxes;
}

// A ring around a scene dot reaches into the bars' box, and one around the last dot into the counter's;
// redrawing those boxes alone would cut it.
bool focusRingMeetsSceneStatus(const FrameInputs& in, UiScale ui, int width, int height) {
    const std::optional<FocusRing> shown = shownFocusRing(in.ui, ui);
    if (!shown)
        return false;
    const FocusRingBounds ring = focusRingBounds(*shown);
    for (const PixelBox& box : sceneStatusBoxes(in, ui, width, height))
        if (overlaps({ring.left, ring.top, ring.right, ring.bottom},
                     {box.left, box.top, box.right, box.bottom}))
            return true;
    return false;
}

// The moving parts that reach into `box`.
unsigned partsWithin(PixelRect box, const FrameInputs& in, UiScale ui, int width, int height) {
    unsigned parts = 0;
    if (overlaps(box, pixelsOf(progressArea(in.scenes, ui), ui.scale, width, height)))
        parts |= PaintProgress;
    if (overlaps(box, pixelsOf(emblemRect(), ui.scale, width, height)))
        parts |= PaintEmblem;
    return parts;
}

BackdropState backdropNow(const SceneLibrary& scenes, UiScale ui) {
    BackdropState state;
    const size_t n = scenes.scenes.size();
    const DesignRect all = {0, 0, static_cast<float>(ui.width), static_cast<float>(ui.height)};
    if (n == 0 || scenes.current >= n)
        return state;
    state.to = scenes.scenes[scenes.current].get();
    state.toCrop = sceneCrop(*state.to, all, scenes.currentShownAt, scenes);
    if (scenes.fading && scenes.previous < n) {
        const float f = fadeOpacity(scenes);
        if (f < 1.0f) {
            state.from = scenes.scenes[scenes.previous].get();
            state.fromCrop = sceneCrop(*state.from, all, scenes.previousShownAt, scenes);
            state.alpha = static_cast<uint32_t>(std::clamp(f, 0.0f, 1.0f) * 255.0f + 0.5f);
        }
    }
    return state;
}

AnimatedState animatedNow(const FrameInputs& in, UiScale ui) {
    AnimatedState state;
    state.angle = in.ui.emblemAngle;
    const float share = holdProgress(in.scenes);
    const int steps = static_cast<int>(20.0f * share * ui.scale * kProgressSteps);
    if (in.scenes.scenes.size() >= 2 && !in.scenes.paused && steps > 0)
        state.progress = steps;
    return state;
}

bool sameScene(const SceneLayer& layer, const Scene* scene, SourceCrop crop, UiScale ui) {
    return layer.scene == scene && !layer.pixels.empty() &&
           cropShift(layer.crop, crop, ui.width * ui.scale, ui.height * ui.scale) < kVisibleShift;
}

const SceneLayer* layerShowing(const FrameCaches& c, const Scene* scene, SourceCrop crop) {
    for (const SceneLayer& layer : c.layers)
        if (sameScene(layer, scene, crop, c.scale))
            return &layer;
    return nullptr;
}

bool backdropChanged(const FrameCaches& c, const BackdropState& now) {
    const BackdropState& was = c.drawnBackdrop;
    if (now.to != was.to || now.from != was.from || now.alpha != was.alpha)
        return true;
    return (now.to != nullptr && layerShowing(c, now.to, now.toCrop) == nullptr) ||
           (now.from != nullptr && layerShowing(c, now.from, now.fromCrop) == nullptr);
}

// What has to be redrawn: the whole frame, the moving parts' areas, or nothing.
PixelRect planFrame(const FrameCaches* c, int width, int height, const FrameInputs& in,
                    const InterfaceKey& key) {
    if (c == nullptr || !c->frameValid || !sameGeometry(*c, width, height, in) || !c->overlayValid ||
        !(c->drawnInterface == key) || c->overlayScene != in.scenes.current ||
        backdropChanged(*c, backdropNow(in.scenes, c->scale)))
        return wholeFrame(width, height);
    const AnimatedState now = animatedNow(in, c->scale);
    PixelRect dirty;
    if (std::fabs(now.angle - c->drawnAnimated.angle) >= kVisibleTurn)
        dirty = unite(dirty, pixelsOf(emblemRect(), c->scale.scale, width, height));
    if (now.progress != c->drawnAnimated.progress)
        dirty = unite(dirty, pixelsOf(progressArea(in.scenes, c->scale), c->scale.scale, width, height));
    return dirty;
}

// GDI+ drawing straight into a pixel buffer of ours.
template <typename Draw>
void drawInto(uint32_t* pixels, int width, int height, PixelFormat format, Draw draw) {
    OwnedBitmap bitmap;
    OwnedGraphics graphics;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, format, reinterpret_cast<BYTE*>(pixels),
                                  bitmap.out()) != Ok ||
        GdipGetImageGraphicsContext(bitmap.get(), graphics.out()) != Ok)
        return;
    DrawContext ctx;
    ctx.graphics = graphics.get();
    draw(ctx);
}

void scaleScene(SceneLayer& layer, const Scene& scene, SourceCrop crop, int width, int height, UiScale ui) {
    layer.scene = &scene;
    layer.crop = crop;
    layer.pixels.assign(static_cast<size_t>(width) * height, kBackdropColour);
    PixelFormat format = 0;
    GdipGetImagePixelFormat(scene.image.get(), &format);
    // Opaque pictures are read in place; others through a premultiplied copy, laid over the backdrop.
    const bool direct = format == PixelFormat24bppRGB || format == PixelFormat32bppRGB;
    const PixelFormat lockAs = direct ? format : PixelFormat32bppPARGB;
    GpRect all(0, 0, static_cast<INT>(scene.width), static_cast<INT>(scene.height));
    BitmapData data{};
    if (GdipBitmapLockBits(scene.image.get(), &all, ImageLockModeRead, lockAs, &data) != Ok)
        return;
    const PixelSource source = {static_cast<const uint8_t*>(data.Scan0), static_cast<int>(data.Width),
                                static_cast<int>(data.Height),           data.Stride,
                                lockAs == PixelFormat24bppRGB ? 3 : 4,   !direct};
    scaleCrop(source, crop, ui.width * ui.scale, ui.height * ui.scale, layer.pixels.data(), width, height);
    GdipBitmapUnlockBits(scene.image.get(), &data);
    if (!direct)
        composeSolidOver(layer.pixels.data(), kBackdropColour, layer.pixels.data(), width,
                         {0, 0, width, height});
}

// The layer showing `scene` at `crop`, rescaled when it drifted visibly. The other picture of a fade
// keeps its own layer.
const SceneLayer* sceneLayer(FrameCaches& c, const Scene* scene, SourceCrop crop, const Scene* other) {
    if (scene == nullptr)
        return nullptr;
    SceneLayer* slot = nullptr;
    for (SceneLayer& layer : c.layers)
        if (slot == nullptr && layer.scene == scene)
            slot = &layer;
    for (SceneLayer& layer : c.layers)
        if (slot == nullptr && (layer.scene != other || other == nullptr))
            slot = &layer;
    if (!sameScene(*slot, scene, crop, c.scale))
        scaleScene(*slot, *scene, crop, c.width, c.height, c.scale);
    return slot;
}

// Outside a fade only one picture is on show; the other layer's memory goes back.
void dropUnusedLayers(FrameCaches& c, const BackdropState& backdrop) {
    for (SceneLayer& layer : c.layers) {
        if (layer.scene != backdrop.to && layer.scene != backdrop.from) {
            layer.scene = nullptr;
            std::vector<uint32_t>().swap(layer.pixels);
        }
    }
}

void resize(FrameCaches& c, int width, int height, float dpiFactor) {
    c = FrameCaches{};
    c.width = width;
    c.height = height;
    c.dpiFactor = dpiFactor;
    c.scale = computeUiScale(width, height, dpiFactor);
}

void drawOverlay(FrameCaches& c, const FrameInputs& in, InterfaceKey key) {
    // The scrims are cheap to recompute, so they are not kept apart (a frame-sized buffer less).
    c.overlay.resize(static_cast<size_t>(c.width) * c.height);
    fillScrimLayer(c.overlay.data(), c.width, c.scale.scale, c.scale.width, c.scale.height,
                   {0, 0, c.width, c.height});
    drawInto(c.overlay.data(), c.width, c.height, PixelFormat32bppPARGB, [&](DrawContext& ctx) {
        paintScreen(ctx, c.width, c.height, in, PaintInterface | PaintSceneBars | PaintSceneLabels);
    });
    c.drawnInterface = std::move(key);
    c.overlayScene = in.scenes.current;
    c.overlayValid = true;
}

// Another scene on show: only its bars, caption and counter change in the overlay, and nothing else
// of the interface reaches into their boxes (a focus ring that does makes the caller redraw the whole
// overlay), so those are redrawn alone over fresh scrims.
void redrawSceneStatus(FrameCaches& c, const FrameInputs& in) {
    for (const PixelBox& box : sceneStatusBoxes(in, c.scale, c.width, c.height)) {
        fillScrimLayer(c.overlay.data(), c.width, c.scale.scale, c.scale.width, c.scale.height, box);
        drawInto(c.overlay.data(), c.width, c.height, PixelFormat32bppPARGB, [&](DrawContext& ctx) {
            GdipSetClipRectI(ctx.graphics, box.left, box.top, box.right - box.left, box.bottom - box.top,
                             CombineModeReplace);
            paintScreen(ctx, c.width, c.height, in, PaintSceneBars | PaintSceneLabels);
        });
    }
    c.overlayScene = in.scenes.current;
}

PixelRect renderFast(FrameRenderer& renderer, uint32_t* pixels, int width, int height,
                     const FrameInputs& in) {
    if (!renderer.caches)
        renderer.caches = std::make_unique<FrameCaches>();
    FrameCaches& c = *renderer.caches;
    if (!sameGeometry(c, width, height, in))
        resize(c, width, height, in.dpiFactor);
    InterfaceKey key = interfaceKey(in);
    const PixelRect dirty = planFrame(&c, width, height, in, key);
    if (dirty.empty())
        return dirty;

    const bool sceneChanged = c.overlayScene != in.scenes.current;
    if (!c.overlayValid || !(c.drawnInterface == key) ||
        (sceneChanged && focusRingMeetsSceneStatus(in, c.scale, width, height)))
        drawOverlay(c, in, std::move(key));
    else if (sceneChanged)
        redrawSceneStatus(c, in);
    const BackdropState backdrop = backdropNow(in.scenes, c.scale);
    dropUnusedLayers(c, backdrop);
    const SceneLayer* to = sceneLayer(c, backdrop.to, backdrop.toCrop, backdrop.from);
    const SceneLayer* from = sceneLayer(c, backdrop.from, backdrop.fromCrop, backdrop.to);

    const PixelBox box = {dirty.left, dirty.top, dirty.right, dirty.bottom};
    if (to == nullptr)
        composeSolidOver(pixels, kBackdropColour, c.overlay.data(), width, box);
    else if (from == nullptr)
        composeOver(pixels, to->pixels.data(), c.overlay.data(), width, box);
    else
        composeFadeOver(pixels, from->pixels.data(), to->pixels.data(), backdrop.alpha, c.overlay.data(),
                        width, box);

    drawInto(pixels, width, height, PixelFormat32bppRGB, [&](DrawContext& ctx) {
        GdipSetClipRectI(ctx.graphics, dirty.left, dirty.top, dirty.right - dirty.left,
                         dirty.bottom - dirty.top, CombineModeReplace);
        paintScreen(ctx, width, height, in, partsWithin(dirty, in, c.scale, width, height));
    });
    c.drawnBackdrop = backdrop;
    c.drawnAnimated = animatedNow(in, c.scale);
    c.frameValid = true;
    return dirty;
}

PixelRect renderReference(HDC dc, int width, int height, const FrameInputs& in) {
    OwnedGraphics graphics;
    if (GdipCreateFromHDC(dc, graphics.out()) != Ok)
        return {};
    DrawContext ctx;
    ctx.graphics = graphics.get();
    paintScreen(ctx, width, height, in);
    return wholeFrame(width, height);
}

} // namespace

PixelRect pendingFrameChanges(const FrameRenderer& renderer, int width, int height, const FrameInputs& in) {
    if (width < 1 || height < 1)
        return {};
    if (renderer.path == FramePath::Reference)
        return wholeFrame(width, height);
    return planFrame(renderer.caches.get(), width, height, in, interfaceKey(in));
}

PixelRect renderFrame(FrameRenderer& renderer, HDC dc, uint32_t* pixels, int width, int height,
                      const FrameInputs& in) {
    if (width < 1 || height < 1)
        return {};
    if (renderer.path == FramePath::Reference || pixels == nullptr)
        return renderReference(dc, width, height, in);
    return renderFast(renderer, pixels, width, height, in);
}

void resetFrameRenderer(FrameRenderer& renderer) {
    renderer.caches.reset();
}
