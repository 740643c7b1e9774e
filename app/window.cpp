#include "app/window.h"

#include "actions/activate.h"
#include "app/accessible_object.h"
#include "app/app_state.h"
#include "app/monotonic.h"
#include "app/program_paths.h"
#include "app/screen_dpi.h"
#include "app/visibility_watch.h"
#include "app/window_actions.h"
#include "app/window_logic.h"
#include "link/service_hosts.h"
#include "render/carousel.h"
#include "render/hit_geometry.h"
#include "render/home_screen.h"
#include "render/toolkit.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Players always get the cached path; only the benchmark's build of the window draws every frame
// the reference way, to compare the two.
#ifdef ORVANE_REFERENCE_FRAMES
constexpr FramePath kWindowFramePath = FramePath::Reference;
#else
constexpr FramePath kWindowFramePath = FramePath::Fast;
#endif

// Lets a test tool in another process read how often the back buffer was rebuilt.
constexpr wchar_t kRecreationsProperty[] = L"OrvaneGaming.BackBufferRecreations";
// Posted by the link service's worker when a new snapshot waits for the pump.
constexpr UINT kLinkChangedMessage = WM_APP + 25;

MinimisePause gMinimisePause;
// Since when another window has had the focus (0 while the launcher has it), and a tick counter.
double gBackgroundSince = 0.0;
uint64_t gTickCount = 0;
// The DPI of the window's screen as a factor of 96: it scales the window's sizes, its canvas and its
// frame.
float gDpiFactor = 1.0f;
// What screen readers are handed and were last told.
AccessibleHost gAccessible;
// Whether the pointer's leaving is being followed (TrackMouseEvent).
bool gPointerFollowed = false;

void repaint(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

HitConditions hitConditions() {
    return hitConditionsFor(gUiState, gSceneLibrary.scenes.size(), gLinkService.state);
}

SIZE clientSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return {client.right - client.left, client.bottom - client.top};
}

FrameInputs frameInputs() {
    return FrameInputs{gUiState, gLinkService.state, gConfig, gSceneLibrary, gDpiFactor};
}

AccessibleTree lookNow(HWND window) {
    const SIZE size = clientSize(window);
    return accessibleTree(frameInputs(), size.cx, size.cy);
}

void announce(HWND window) {
    announceChanges(gAccessible, window, lookNow);
}

// The emblem and the carousel brought up to now.
void advanceClocks() {
    const EmblemClock clock =
        advanceEmblem({gUiState.emblemAngle, gUiState.lastFrameTime}, monotonicSeconds());
    gUiState.emblemAngle = clock.angle;
    gUiState.lastFrameTime = clock.lastFrameTime;
    tickCarousel(gSceneLibrary, GetTickCount64());
}

// Wine follows the pointer's leaving by asking where it is every 400 ms until it leaves, which it may
// never do once another window covers this one: a window that cannot be seen lets go of it (a hover it
// showed goes too), and the next move over it follows it again.
void letGoOfPointer(HWND window) {
    if (!gPointerFollowed)
        return;
    TRACKMOUSEEVENT cancel{sizeof cancel, TME_LEAVE | TME_CANCEL, window, 0};
    TrackMouseEvent(&cancel);
    gPointerFollowed = false;
    gUiState.hover = None;
}

// After a look at whether the window can be seen. Not seen, it lets go of the pointer at once and the
// link service rests; seen again after being hidden or minimised, the first frame is whole and of now,
// never what was last drawn.
void showIfSeenAgain(HWND window, bool seenAgain) {
    const bool seen = windowShownNow() == WindowShown::Visible;
    gLinkService.setWindowSeen(seen);
    if (!seen)
        letGoOfPointer(window);
    if (!seenAgain)
        return;
    advanceClocks();
    repaint(window);
}

void onPaint(HWND window) {
    showIfSeenAgain(window, visibilityOnPaint(window));
    if (windowShownNow() == WindowShown::Hidden) {
        // Nothing of it can be seen: nothing is drawn, and the whole window is drawn once it can.
        ValidateRect(window, nullptr);
        return;
    }
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    const SIZE size = clientSize(window);
    if (dc != nullptr && size.cx > 0 && size.cy > 0) {
        const uint32_t before = gBackBuffer.recreations;
        if (ensureBackBuffer(gBackBuffer, dc, size.cx, size.cy)) {
            if (gBackBuffer.recreations != before) {
                resetFrameRenderer(gFrameRenderer);
                SetPropW(window, kRecreationsProperty,
                         reinterpret_cast<HANDLE>(uintptr_t{gBackBuffer.recreations}));
            }
            const PixelRect changed =
                renderFrame(gFrameRenderer, gBackBuffer.dc, static_cast<uint32_t*>(gBackBuffer.pixels),
                            size.cx, size.cy, frameInputs());
            RECT copy = ps.rcPaint;
            if (!changed.empty()) {
                const RECT more = {changed.left, changed.top, changed.right, changed.bottom};
                UnionRect(&copy, &copy, &more);
            }
            ++windowCounters().paints;
            BitBlt(dc, copy.left, copy.top, copy.right - copy.left, copy.bottom - copy.top, gBackBuffer.dc,
                   copy.left, copy.top, SRCCOPY);
        } else {
            // Without a back buffer the frame goes straight to the window, drawn in full.
            renderFrame(gFrameRenderer, dc, nullptr, size.cx, size.cy, frameInputs());
            ++windowCounters().paints;
        }
    }
    EndPaint(window, &ps);
}

// Minimised the window has no timer; only "CONFIRMAR CIERRE" running out needs one.
void settleWake(HWND window) {
    const uint64_t due = signOutDisarmDueMs(gUiState, GetTickCount64());
    visibilityWakeWhenMinimisedIn(window, static_cast<unsigned>(std::min<uint64_t>(due, USER_TIMER_MAXIMUM)));
}

void activateControl(HWND window, HitTarget target) {
    runActivate(target);
    settleWake(window);
}

// What the link service has for the window, and what follows from it: screen switches and repaints
// (the pump invalidates), the authorisation page, the test's click, what readers are told.
void followLinkService(HWND window) {
    runLinkPump();
    postSyntheticClickIfDue(gDpiFactor);
    announce(window);
}

// The worker's message: the pump runs at once, whatever the timer's pace (none while minimised).
void onLinkChanged(HWND window) {
    ++windowCounters().linkWakes;
    followLinkService(window);
    settleWake(window);
}

void onTick(HWND window) {
    followLinkService(window);
    showIfSeenAgain(window, visibilityOnTick(window));
    settleWake(window);
    if (windowShownNow() != WindowShown::Visible) {
        // Minimised or hidden: no frame, and the emblem does not jump when it shows again.
        gUiState.lastFrameTime = 0;
        return;
    }
    advanceClocks();
    ++gTickCount;
    if (!paintsThisTick(gBackgroundSince, gUiState.lastFrameTime, gTickCount))
        return;
    const SIZE size = clientSize(window);
    const PixelRect changed = pendingFrameChanges(gFrameRenderer, size.cx, size.cy, frameInputs());
    if (!changed.empty()) {
        const RECT rect = {changed.left, changed.top, changed.right, changed.bottom};
        InvalidateRect(window, &rect, FALSE);
    }
}

void onSize(HWND window, WPARAM kind) {
    const bool minimised = kind == SIZE_MINIMIZED;
    // A minimised window keeps the state it will be restored to.
    if (kind == SIZE_MAXIMIZED || kind == SIZE_RESTORED)
        gUiState.windowMaximised = kind == SIZE_MAXIMIZED;
    carouselMinimised(gSceneLibrary, gMinimisePause, minimised, GetTickCount64());
    showIfSeenAgain(window, visibilityOnSize(window, minimised));
    settleWake(window);
    repaint(window);
}

void onMinMaxInfo(HWND window, MINMAXINFO* info) {
    WindowSize largest = {INT_MAX, INT_MAX};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        info->ptMaxPosition = {work.left - monitor.rcMonitor.left, work.top - monitor.rcMonitor.top};
        info->ptMaxSize = {work.right - work.left, work.bottom - work.top};
        largest = {info->ptMaxSize.x, info->ptMaxSize.y};
    }
    const WindowSize least = minimumTrackSize(gDpiFactor, largest);
    info->ptMinTrackSize = {least.width, least.height};
}

// No system frame: the client is the whole window (restored) or the work area (maximised).
void onNcCalcSize(HWND window, RECT* proposed) {
    const bool maximised = IsZoomed(window) != FALSE;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    const bool known =
        maximised && GetMonitorInfoW(MonitorFromRect(proposed, MONITOR_DEFAULTTONEAREST), &monitor);
    *proposed = clientAreaFor(*proposed, maximised, known ? &monitor.rcWork : nullptr);
}

// Moved to a screen with another DPI: Windows suggests the rectangle that keeps the window's look.
void onDpiChanged(HWND window, WPARAM wParam, const RECT* suggested) {
    gDpiFactor = dpiFactorFor(LOWORD(wParam));
    if (suggested != nullptr)
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    repaint(window);
}

LRESULT onNcHitTest(HWND window, LPARAM lParam) {
    POINT p = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ScreenToClient(window, &p);
    RECT client{};
    GetClientRect(window, &client);
    return frameHitCode(p.x, p.y, client.right, client.bottom, IsZoomed(window) != FALSE, gDpiFactor);
}

HitTarget controlAt(HWND window, int x, int y) {
    const SIZE size = clientSize(window);
    return hitTest(static_cast<float>(x), static_cast<float>(y), size.cx, size.cy, hitConditions(),
                   gDpiFactor);
}

void onMouseMove(HWND window, LPARAM lParam) {
    const HitTarget target = controlAt(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    if (target != gUiState.hover) {
        gUiState.hover = target;
        gUiState.focusVisible = false;
        repaint(window);
    }
    SetCursor(LoadCursorW(nullptr, target != None ? IDC_HAND : IDC_ARROW));
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
    gPointerFollowed = TrackMouseEvent(&track) != FALSE;
}

void onLeftButtonUp(HWND window, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    const HitTarget target = controlAt(window, x, y);
    gUiState.focusVisible = false;
    gUiState.lastMouseX = x;
    gUiState.lastMouseY = y;
    gUiState.lastControl = target;
    writeDiagnosticEvent(DiagnosticStage::MouseUp);
    if (target != None)
        gUiState.focus = target;
    activateControl(window, target);
    announce(window);
}

// A reader pressed a control (or only moved the focus to it): as a click on it, when it is there.
void onAccessiblePress(HWND window, WPARAM key, LPARAM focusOnly) {
    const AccessibleTree tree = lookNow(window);
    const AccessibleItem* item = findItem(tree, static_cast<int32_t>(key));
    if (item == nullptr || item->role == AccessibleRole::StaticText)
        return;
    const HitTarget target = static_cast<HitTarget>(item->key);
    gUiState.focus = target;
    gUiState.focusVisible = focusOnly != 0;
    if (focusOnly == 0)
        activateControl(window, target);
    repaint(window);
    announce(window);
}

void onKeyDown(HWND window, WPARAM key, LPARAM lParam) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0;
    const bool shift = key == VK_TAB && GetKeyState(VK_SHIFT) < 0;
    const bool repeated = (lParam & (1 << 30)) != 0;
    const KeyResult result =
        applyKey(gUiState, hitConditions(), static_cast<unsigned>(key), ctrl, shift, repeated);
    if (result.minimise)
        ShowWindow(window, SW_MINIMIZE);
    if (result.repaint)
        repaint(window);
    if (result.activates)
        activateControl(window, result.target);
    announce(window);
}

} // namespace

LRESULT CALLBACK launcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NCCREATE:
        gDpiFactor = dpiFactorFor(windowDpi(window));
        break;
    case WM_NCCALCSIZE:
        onNcCalcSize(window, reinterpret_cast<RECT*>(lParam));
        return 0;
    case kDpiChangedMessage:
        onDpiChanged(window, wParam, reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CREATE:
        startVisibilityWatch(window);
        gLinkService.notifyOnChange(window, kLinkChangedMessage);
        return 0;
    case kLinkChangedMessage:
        onLinkChanged(window);
        return 0;
    case WM_TIMER:
        if (wParam != kFrameTimer)
            break;
        onTick(window);
        return 0;
    case WM_PAINT:
        onPaint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SIZE:
        onSize(window, wParam);
        return 0;
    case WM_MOVE:
        showIfSeenAgain(window, visibilityOnMove(window));
        return 0;
    case WM_DISPLAYCHANGE:
        showIfSeenAgain(window, visibilityOnDisplayChange(window));
        return 0;
    case WM_WTSSESSION_CHANGE:
        showIfSeenAgain(window, visibilityOnSession(window, wParam));
        return 0;
    case WM_POWERBROADCAST:
        if (wParam != PBT_POWERSETTINGCHANGE)
            break;
        showIfSeenAgain(window, visibilityOnPower(window, lParam));
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            gBackgroundSince = monotonicSeconds();
            showIfSeenAgain(window, visibilityOnActivate(window, false));
            break;
        }
        gBackgroundSince = 0.0;
        showIfSeenAgain(window, visibilityOnActivate(window, true));
        if (gUiState.linkingEnabled)
            gLinkService.requestRefresh();
        repaint(window);
        return 0;
    case WM_GETMINMAXINFO:
        onMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_NCHITTEST:
        return onNcHitTest(window, lParam);
    case WM_MOUSEMOVE:
        onMouseMove(window, lParam);
        return 0;
    case WM_MOUSELEAVE:
        gPointerFollowed = false;
        gUiState.hover = None;
        repaint(window);
        return 0;
    case WM_LBUTTONUP:
        onLeftButtonUp(window, lParam);
        return 0;
    case WM_KEYDOWN:
        onKeyDown(window, wParam, lParam);
        return 0;
    case WM_GETOBJECT:
        if (const LRESULT object = answerGetObject(gAccessible, window, wParam, lParam, lookNow); object > 0)
            return object;
        break;
    case kAccessiblePressMessage:
        onAccessiblePress(window, wParam, lParam);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        gLinkService.notifyOnChange(nullptr, 0);
        closeAccessible(gAccessible);
        stopVisibilityWatch(window);
        RemovePropW(window, kRecreationsProperty);
        releaseBackBuffer(gBackBuffer);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runWindowMode(HINSTANCE instance, int showCommand, RunMode mode) {
    gUiState.diagnoseMode = mode != RunMode::Window;
    gUiState.testSteamClick = mode == RunMode::TestSteamClick;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    gUiState.linkingEnabled = true;
    // A refused start shows in the service's snapshot; the window opens all the same.
    gLinkService.start(programFolder().c_str(), kServiceBaseUrl);
    gUiState.screen = Linking;
    gUiState.focus = LinkSteamButton;
    writeDiagnosticEvent(DiagnosticStage::Startup);
    gFrameRenderer.path = kWindowFramePath;

    // Declared before anything is measured, so every size below is in physical pixels.
    declareDpiAwareness();
    HICON drawnIcon = makeWindowIcon();
    HICON icon = drawnIcon != nullptr ? drawnIcon : LoadIconW(nullptr, IDI_APPLICATION);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = launcherWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = icon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);

    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    gDpiFactor = dpiFactorFor(windowDpi(nullptr));
    const float placedFor = gDpiFactor;
    const WindowPlacement place = windowPlacement(screenWidth, screenHeight, placedFor);
    gMainWindow = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, kWindowTitle,
                                  WS_POPUP | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, place.left,
                                  place.top, place.width, place.height, nullptr, nullptr, instance, nullptr);
    int exitCode = ExitWindowFailed;
    if (gMainWindow != nullptr) {
        // The primary screen's own DPI can differ from the system's (changed since sign-in).
        if (gDpiFactor != placedFor) {
            const WindowPlacement again = windowPlacement(screenWidth, screenHeight, gDpiFactor);
            SetWindowPos(gMainWindow, nullptr, again.left, again.top, again.width, again.height,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        ShowWindow(gMainWindow, showCommand);
        UpdateWindow(gMainWindow);
        SetForegroundWindow(gMainWindow);
        writeDiagnosticEvent(DiagnosticStage::WindowOpen);
        MSG msg{};
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        exitCode = static_cast<int>(msg.wParam);
        gMainWindow = nullptr;
    }

    if (drawnIcon != nullptr)
        DestroyIcon(drawnIcon);
    if (com == S_OK || com == S_FALSE)
        CoUninitialize();
    return exitCode;
}
