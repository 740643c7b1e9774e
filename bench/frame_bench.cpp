// Frame cost of the window's renderer, measured off-screen under the same code the window runs.
//
//   frame_bench [--quick] [--path fast|reference|both] [--stage FOLDER]
//
// For each size it times one frame from scratch, as after a resize (new back buffer, caches
// dropped), once in a hold and once half-way through a cross-fade, and every tick of 10 s of
// running (625 ticks of 16 ms: a hold, one cross-fade, the next hold). Time is virtual for the
// carousel and the emblem, so every run shows the same frames; only the drawing is timed, with the
// performance counter. FOLDER is the staged program folder (default: ..\OrvaneGaming beside this exe).
#include "app/back_buffer.h"
#include "bench/bench_clock.h"
#include "render/accessible_tree.h"
#include "render/carousel.h"
#include "render/frame_renderer.h"
#include "render/home_screen.h"
#include "scenes/scene_library.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr double kTickMs = 16.0;
constexpr int kRunTicks = 625; // 10 s of 16 ms ticks
// The run starts 3 s into a hold, so the 7 s hold ends, the 900 ms fade plays once and the next
// scene holds to the end.
constexpr uint64_t kRunStartMs = 3000;
constexpr float kEmblemDegreesPerTick = 4.0f * 0.016f;
// The reference path's sampling stride for the sizes --quick shortens.
constexpr int kQuickStride = 5;

struct FrameSize {
    int width, height;
};
constexpr FrameSize kSizes[] = {{1420, 890}, {960, 640}, {1920, 1080}};

const char* pathName(FramePath path) {
    return path == FramePath::Fast ? "fast" : "reference";
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Nearest rank: the smallest sample that p of all samples do not exceed.
double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
    rank = std::clamp<size_t>(rank, 1, v.size());
    return v[rank - 1];
}

// "12.34 ms ( 0.77 ticks)": every time is also shown against the 16 ms budget of one tick.
std::string timeText(double ms) {
    char text[64];
    std::snprintf(text, sizeof text, "%8.2f ms (%5.2f ticks)", ms, ms / kTickMs);
    return text;
}

// What the window shows when it opens, with the three standard scenes and a virtual clock.
struct Bench {
    SceneLibrary scenes;
    UiState ui;
    LinkState link;
    LauncherConfig config{};
    BackBuffer buffer;
    HDC screen = nullptr;
    uint64_t clock = 0; // virtual ms; the carousel's clock only moves forward

    FrameInputs inputs() const { return FrameInputs{ui, link, config, scenes}; }
};

// Scene 0 starts its hold now (a fresh virtual time far past anything shown before); returns that time.
uint64_t restartCarousel(Bench& b) {
    b.clock += 100000;
    showSceneNow(b.scenes, 1, b.clock);
    showSceneNow(b.scenes, 0, b.clock);
    b.ui.emblemAngle = 0.0f;
    return b.clock;
}

void stageHold(Bench& b) {
    const uint64_t start = restartCarousel(b);
    tickCarousel(b.scenes, start + 3000);
    b.ui.emblemAngle = 12.0f;
}

void stageFade(Bench& b) {
    const uint64_t start = restartCarousel(b);
    tickCarousel(b.scenes, start + kSceneHoldMs); // the fade to scene 1 starts here
    tickCarousel(b.scenes, start + kSceneHoldMs + kSceneFadeMs / 2);
    b.ui.emblemAngle = 12.0f;
}

bool freshBuffer(Bench& b, FrameSize size) {
    releaseBackBuffer(b.buffer);
    return ensureBackBuffer(b.buffer, b.screen, size.width, size.height);
}

uint32_t* bufferPixels(Bench& b) {
    return static_cast<uint32_t*>(b.buffer.pixels);
}

// One frame as after a resize: a new back buffer, every cache dropped, the frame drawn in full.
double coldFrame(Bench& b, FrameRenderer& renderer, FrameSize size) {
    const FrameInputs in = b.inputs();
    const double start = nowMs();
    if (!freshBuffer(b, size))
        return -1.0;
    resetFrameRenderer(renderer);
    pendingFrameChanges(renderer, size.width, size.height, in);
    renderFrame(renderer, b.buffer.dc, bufferPixels(b), size.width, size.height, in);
    GdiFlush();
    return nowMs() - start;
}

struct ColdResult {
    double hold = 0.0, fade = 0.0;
    std::vector<uint32_t> holdPixels, fadePixels; // the last frame of each, to compare the paths
};

ColdResult coldFrames(Bench& b, FramePath path, FrameSize size, int repeats) {
    FrameRenderer renderer;
    renderer.path = path;
    ColdResult result;
    std::vector<double> hold, fade;
    const size_t count = static_cast<size_t>(size.width) * size.height;
    for (int i = 0; i < repeats; ++i) {
        stageHold(b);
        hold.push_back(coldFrame(b, renderer, size));
        stageFade(b);
        fade.push_back(coldFrame(b, renderer, size));
    }
    result.fadePixels.assign(bufferPixels(b), bufferPixels(b) + count);
    stageHold(b);
    coldFrame(b, renderer, size);
    result.holdPixels.assign(bufferPixels(b), bufferPixels(b) + count);
    result.hold = median(hold);
    result.fade = median(fade);
    return result;
}

struct TickResult {
    std::vector<double> samples;
    std::vector<double> drawnSamples; // the ticks that found something to redraw
    int painted = 0;
    int sceneChanges = 0;
    int stride = 1;
};

// 10 s of ticks as the window runs them: advance the clocks, then ask what changed and redraw it.
// With a stride above 1 only every stride-th tick is drawn and timed (the reference path redraws
// everything every time, so its ticks do not depend on one another).
TickResult tickRun(Bench& b, FramePath path, FrameSize size, int stride) {
    FrameRenderer renderer;
    renderer.path = path;
    TickResult result;
    result.stride = stride;
    if (!freshBuffer(b, size))
        return result;
    const uint64_t start = restartCarousel(b) + kRunStartMs;
    tickCarousel(b.scenes, start);
    // The frame on screen when the run begins is drawn untimed.
    const FrameInputs in = b.inputs();
    renderFrame(renderer, b.buffer.dc, bufferPixels(b), size.width, size.height, in);
    GdiFlush();
    uint32_t shown = b.scenes.current;
    result.samples.reserve(kRunTicks);
    for (int i = 1; i <= kRunTicks; ++i) {
        tickCarousel(b.scenes, start + static_cast<uint64_t>(i) * 16);
        b.ui.emblemAngle = std::fmod(b.ui.emblemAngle + kEmblemDegreesPerTick, 360.0f);
        if (b.scenes.current != shown) {
            shown = b.scenes.current;
            ++result.sceneChanges;
        }
        if (i % stride != 0)
            continue;
        const double t0 = nowMs();
        const PixelRect pending = pendingFrameChanges(renderer, size.width, size.height, in);
        if (!pending.empty()) {
            renderFrame(renderer, b.buffer.dc, bufferPixels(b), size.width, size.height, in);
            GdiFlush();
            ++result.painted;
        }
        result.samples.push_back(nowMs() - t0);
        if (!pending.empty())
            result.drawnSamples.push_back(result.samples.back());
    }
    return result;
}

// How far two frames are apart: the largest channel difference and how many pixels differ by more
// than a rounding step.
void compareFrames(const char* what, const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    if (a.size() != b.size() || a.empty())
        return;
    int largest = 0;
    size_t off = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        int pixelLargest = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            const int d =
                std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF));
            pixelLargest = std::max(pixelLargest, d);
        }
        largest = std::max(largest, pixelLargest);
        if (pixelLargest > 2)
            ++off;
    }
    std::printf("    same look, %-10s fast vs reference: largest channel difference %d, %zu of %zu pixels "
                "differ by more than 2 (%.3f %%)\n",
                what, largest, off, a.size(),
                100.0 * static_cast<double>(off) / static_cast<double>(a.size()));
}

struct Options {
    bool quick = false;
    bool fast = true;
    bool reference = true;
    std::wstring stage;
};

bool parseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--quick") == 0) {
            options.quick = true;
        } else if (std::wcscmp(argv[i], L"--path") == 0 && i + 1 < argc) {
            const wchar_t* p = argv[++i];
            options.fast = std::wcscmp(p, L"fast") == 0 || std::wcscmp(p, L"both") == 0;
            options.reference = std::wcscmp(p, L"reference") == 0 || std::wcscmp(p, L"both") == 0;
            if (!options.fast && !options.reference)
                return false;
        } else if (std::wcscmp(argv[i], L"--stage") == 0 && i + 1 < argc) {
            options.stage = argv[++i];
        } else {
            return false;
        }
    }
    if (options.stage.empty()) {
        wchar_t module[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, module, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return false;
        std::wstring folder(module, n);
        folder.resize(folder.find_last_of(L'\\'));
        options.stage = folder + L"\\..\\OrvaneGaming";
    }
    return true;
}

struct Row {
    FrameSize size;
    FramePath path;
    ColdResult cold;
    TickResult ticks;
};

void printTargets(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        if (r.path != FramePath::Fast || r.size.width != 1420 || r.size.height != 890)
            continue;
        const double cold = std::max(r.cold.hold, r.cold.fade);
        const double med = median(r.ticks.samples), p99 = percentile(r.ticks.samples, 0.99);
        std::printf("\nFast path at 1420 x 890 against its targets:\n");
        std::printf("  frame from scratch, worse of hold/fade %s  target <= 48 ms: %s\n",
                    timeText(cold).c_str(), cold <= 48.0 ? "met" : "NOT met");
        std::printf("  tick median                           %s  target <=  4 ms: %s\n",
                    timeText(med).c_str(), med <= 4.0 ? "met" : "NOT met");
        std::printf("  tick p99                              %s  target <= 12 ms: %s\n",
                    timeText(p99).c_str(), p99 <= 12.0 ? "met" : "NOT met");
    }
}

// What a screen reader costs the window once it has asked for the object: one look (the tree) and its
// comparison with the last one, every tick.
void readerLookCost(Bench& b) {
    constexpr int kLooks = 2000;
    std::printf("\nA screen reader's look per tick (tree and changes), 1420 x 890, %d looks each:\n", kLooks);
    const Screen screens[] = {Linking, Home, News};
    for (Screen screen : screens) {
        b.ui.screen = screen;
        AccessibleTree last = accessibleTree(b.inputs(), 1420, 890);
        size_t events = 0;
        const double start = nowMs();
        for (int i = 0; i < kLooks; ++i) {
            AccessibleTree now = accessibleTree(b.inputs(), 1420, 890);
            events += accessibleChanges(last, now).size();
            last = std::move(now);
        }
        const double each = (nowMs() - start) / kLooks;
        std::printf("    %-8s %2zu children  %6.1f us a look (%.3f %% of a 16 ms tick), %zu events\n",
                    screen == Linking ? "linking"
                    : screen == Home  ? "home"
                                      : "news",
                    last.items.size(), each * 1000.0, each / kTickMs * 100.0, events);
    }
    b.ui.screen = Linking;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: frame_bench [--quick] [--path fast|reference|both] [--stage FOLDER]\n");
        return 64;
    }
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput startup;
    if (Gdiplus::GdiplusStartup(&token, &startup, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "GDI+ did not start\n");
        return 2;
    }
    int exitCode = 0;
    {
        Bench b;
        b.ui.screen = Linking;
        b.ui.linkingEnabled = true;
        b.ui.focus = LinkSteamButton;
        b.screen = GetDC(nullptr);
        loadScenes(b.scenes, options.stage.c_str(), L"");
        b.clock = b.scenes.clock;
        std::printf("Frame renderer, off-screen (%zu scenes:", b.scenes.scenes.size());
        for (const auto& s : b.scenes.scenes)
            std::printf(" %ls %ux%u", s->name.c_str(), s->width, s->height);
        std::printf(")\n");
        if (b.scenes.scenes.size() < 2) {
            std::printf("  fewer than two scenes: no cross-fade to measure; is the staged folder built?\n");
            exitCode = 1;
        } else {
            // GDI+ and the fonts warm up on the first frame of a process; the window has paid that
            // before any resize, so it is left out.
            {
                FrameRenderer warm;
                stageHold(b);
                coldFrame(b, warm, kSizes[0]);
            }
            std::vector<FramePath> paths;
            if (options.fast)
                paths.push_back(FramePath::Fast);
            if (options.reference)
                paths.push_back(FramePath::Reference);

            std::vector<Row> rows;
            std::printf("\nFrame from scratch, as after a resize: new back buffer, caches dropped, full "
                        "draw.\n    Median of 5 (fast) or 3 (reference) frames.\n");
            std::printf("    %-11s %-10s %-28s %s\n", "size", "path", "hold", "cross-fade (half-way)");
            for (const FrameSize size : kSizes) {
                Row* fast = nullptr;
                Row* reference = nullptr;
                for (const FramePath path : paths) {
                    Row row{size, path, coldFrames(b, path, size, path == FramePath::Fast ? 5 : 3), {}};
                    char label[32];
                    std::snprintf(label, sizeof label, "%d x %d", size.width, size.height);
                    std::printf("    %-11s %-10s %-28s %s\n", label, pathName(path),
                                timeText(row.cold.hold).c_str(), timeText(row.cold.fade).c_str());
                    std::fflush(stdout);
                    rows.push_back(std::move(row));
                }
                for (Row& r : rows)
                    if (r.size.width == size.width && r.size.height == size.height)
                        (r.path == FramePath::Fast ? fast : reference) = &r;
                if (fast != nullptr && reference != nullptr) {
                    compareFrames("hold", fast->cold.holdPixels, reference->cold.holdPixels);
                    compareFrames("cross-fade", fast->cold.fadePixels, reference->cold.fadePixels);
                }
                for (Row& r : rows) {
                    std::vector<uint32_t>().swap(r.cold.holdPixels);
                    std::vector<uint32_t>().swap(r.cold.fadePixels);
                }
            }

            std::printf(
                "\nPaint cost of each tick over 10 s of running: %d ticks of 16 ms, starting 3 s into "
                "a hold,\n    one cross-fade (900 ms) in the middle. Timed per tick: pendingFrameChanges "
                "+ renderFrame.\n",
                kRunTicks);
            std::printf("    %-11s %-10s %-12s %-8s %-27s %-27s %s\n", "size", "path", "ticks timed", "drawn",
                        "median", "p99", "max");
            for (const FrameSize size : kSizes) {
                for (const FramePath path : paths) {
                    const bool sampled = options.quick && path == FramePath::Reference &&
                                         !(size.width == 1420 && size.height == 890);
                    const TickResult ticks = tickRun(b, path, size, sampled ? kQuickStride : 1);
                    char label[32], timed[32];
                    std::snprintf(label, sizeof label, "%d x %d", size.width, size.height);
                    std::snprintf(timed, sizeof timed, "%zu%s", ticks.samples.size(),
                                  sampled ? " (1 in 5)" : "");
                    const double largest =
                        ticks.samples.empty() ? 0.0
                                              : *std::max_element(ticks.samples.begin(), ticks.samples.end());
                    std::printf("    %-11s %-10s %-12s %-8d %-27s %-27s %s\n", label, pathName(path), timed,
                                ticks.painted, timeText(median(ticks.samples)).c_str(),
                                timeText(percentile(ticks.samples, 0.99)).c_str(), timeText(largest).c_str());
                    if (!ticks.drawnSamples.empty() && ticks.drawnSamples.size() < ticks.samples.size())
                        std::printf("    %-22s drawn ticks only:    median %s, p99 %s\n", "",
                                    timeText(median(ticks.drawnSamples)).c_str(),
                                    timeText(percentile(ticks.drawnSamples, 0.99)).c_str());
                    if (ticks.sceneChanges != 1)
                        std::printf("    (this run saw %d scene changes instead of one)\n",
                                    ticks.sceneChanges);
                    std::fflush(stdout);
                    for (Row& r : rows)
                        if (r.path == path && r.size.width == size.width && r.size.height == size.height)
                            r.ticks = ticks;
                }
            }
            if (options.quick && options.reference)
                std::printf(
                    "    --quick: the reference path draws and times 1 tick in %d at 960 x 640 and 1920 x "
                    "1080 (the clocks still advance every tick).\n",
                    kQuickStride);
            printTargets(rows);
        }
        readerLookCost(b);
        destroySceneLibrary(b.scenes);
        releaseBackBuffer(b.buffer);
        ReleaseDC(nullptr, b.screen);
    }
    Gdiplus::GdiplusShutdown(token);
    return exitCode;
}
