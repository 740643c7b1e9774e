#include "app/accessible_object.h"
#include "render/hit_geometry.h"

#include <gtest/gtest.h>
#include <oleacc.h>

namespace {

// A window whose client answers readers the way the launcher's does, over a tree the test sets.
AccessibleTree gTree;
AccessibleHost gHost;

AccessibleTree look(HWND) {
    return gTree;
}

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETOBJECT)
        if (const LRESULT object = answerGetObject(gHost, window, wParam, lParam, look); object > 0)
            return object;
    if (message == WM_DESTROY)
        closeAccessible(gHost);
    return DefWindowProcW(window, message, wParam, lParam);
}

VARIANT child(LONG id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

std::wstring nameOf(IAccessible* object, LONG id) {
    BSTR name = nullptr;
    if (object->get_accName(child(id), &name) != S_OK)
        return L"<none>";
    std::wstring text(name, SysStringLen(name));
    SysFreeString(name);
    return text;
}

LONG numberOf(HRESULT (IAccessible::*get)(VARIANT, VARIANT*), IAccessible* object, LONG id) {
    VARIANT out;
    VariantInit(&out);
    return (object->*get)(child(id), &out) == S_OK && out.vt == VT_I4 ? out.lVal : -1;
}

class AccessibleObject : public testing::Test {
  protected:
    HWND window = nullptr;
    IAccessible* object = nullptr;

    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        gHost = {};
        gTree = {};
        gTree.items = {
            {TabNews, AccessibleRole::PageTab, L"Novedades", {}, {10, 20, 110, 64}, true},
            {LinkSteamButton,
             AccessibleRole::PushButton,
             L"VINCULAR",
             L"Steam",
             {200, 100, 384, 144},
             false,
             true},
            {BoxStatusLine,
             AccessibleRole::StaticText,
             L"Conectando con OrvaneGaming…",
             {},
             {40, 300, 660, 327}},
        };
        gTree.focus = LinkSteamButton;
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = testWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"AccessibleObjectTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, windowClass.lpszClassName, L"Prueba", WS_POPUP | WS_VISIBLE, 50, 60, 800,
                                 500, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        SetForegroundWindow(window);
        SetFocus(window);
        ASSERT_EQ(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object)),
                  S_OK);
        ASSERT_NE(object, nullptr);
    }
    void TearDown() override {
        if (object != nullptr)
            object->Release();
        if (window != nullptr && IsWindow(window))
            DestroyWindow(window);
        CoUninitialize();
    }
};

TEST_F(AccessibleObject, ChildrenAreTheTreesItemsByKey) {
    LONG count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, 3);
    VARIANT ids[4];
    LONG got = 0;
    ASSERT_EQ(AccessibleChildren(object, 0, 4, ids, &got), S_FALSE); // fewer than asked for
    ASSERT_EQ(got, 3);
    const LONG keys[] = {TabNews, LinkSteamButton, BoxStatusLine};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ids[i].vt, VT_I4);
        EXPECT_EQ(ids[i].lVal, keys[i]);
    }

    EXPECT_EQ(nameOf(object, CHILDID_SELF), L"Prueba");
    EXPECT_EQ(nameOf(object, LinkSteamButton), L"VINCULAR");
    EXPECT_EQ(nameOf(object, BoxStatusLine), L"Conectando con OrvaneGaming…");
    EXPECT_EQ(numberOf(&IAccessible::get_accRole, object, CHILDID_SELF), ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(numberOf(&IAccessible::get_accRole, object, TabNews), ROLE_SYSTEM_PAGETAB);
    EXPECT_EQ(numberOf(&IAccessible::get_accRole, object, LinkSteamButton), ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(numberOf(&IAccessible::get_accRole, object, BoxStatusLine), ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(numberOf(&IAccessible::get_accState, object, TabNews),
              STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_SELECTABLE | STATE_SYSTEM_SELECTED);
    const LONG button = numberOf(&IAccessible::get_accState, object, LinkSteamButton);
    EXPECT_TRUE(button & STATE_SYSTEM_UNAVAILABLE);
    EXPECT_EQ(button & STATE_SYSTEM_FOCUSED, GetFocus() == window ? STATE_SYSTEM_FOCUSED : 0);

    BSTR description = nullptr;
    ASSERT_EQ(object->get_accDescription(child(LinkSteamButton), &description), S_OK);
    EXPECT_STREQ(description, L"Steam");
    SysFreeString(description);

    // An id the screen does not show is refused, not guessed at.
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accName(child(PlayButton), &name), E_INVALIDARG);
    EXPECT_EQ(name, nullptr);
}

TEST_F(AccessibleObject, LocationsHitTestsAndNavigationAgree) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    LONG left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&left, &top, &width, &height, child(LinkSteamButton)), S_OK);
    EXPECT_EQ(left, origin.x + 200);
    EXPECT_EQ(top, origin.y + 100);
    EXPECT_EQ(width, 184);
    EXPECT_EQ(height, 44);

    const struct {
        LONG x, y, expected;
    } points[] = {
        {origin.x + 250, origin.y + 120, LinkSteamButton},
        {origin.x + 45, origin.y + 310, BoxStatusLine},
        {origin.x + 700, origin.y + 450, CHILDID_SELF},
    };
    for (const auto& p : points) {
        VARIANT at;
        VariantInit(&at);
        ASSERT_EQ(object->accHitTest(p.x, p.y, &at), S_OK);
        EXPECT_EQ(at.lVal, p.expected) << p.x << "," << p.y;
    }
    VARIANT outside;
    VariantInit(&outside);
    EXPECT_EQ(object->accHitTest(origin.x + 900, origin.y + 10, &outside), S_FALSE);
    EXPECT_EQ(outside.vt, VT_EMPTY);

    const struct {
        LONG direction, from, expected;
        HRESULT hr;
    } steps[] = {
        {NAVDIR_FIRSTCHILD, CHILDID_SELF, TabNews, S_OK},
        {NAVDIR_LASTCHILD, CHILDID_SELF, BoxStatusLine, S_OK},
        {NAVDIR_NEXT, TabNews, LinkSteamButton, S_OK},
        {NAVDIR_PREVIOUS, LinkSteamButton, TabNews, S_OK},
        {NAVDIR_NEXT, BoxStatusLine, 0, S_FALSE},
        {NAVDIR_PREVIOUS, TabNews, 0, S_FALSE},
    };
    for (const auto& s : steps) {
        VARIANT to;
        VariantInit(&to);
        EXPECT_EQ(object->accNavigate(s.direction, child(s.from), &to), s.hr) << s.direction << " " << s.from;
        if (s.hr == S_OK) {
            EXPECT_EQ(to.lVal, s.expected);
        }
    }
}

TEST_F(AccessibleObject, DefaultActionIsPostedAsAPress) {
    ASSERT_EQ(object->accDoDefaultAction(child(LinkSteamButton)), S_OK);
    MSG posted{};
    ASSERT_TRUE(PeekMessageW(&posted, window, kAccessiblePressMessage, kAccessiblePressMessage, PM_REMOVE));
    EXPECT_EQ(posted.wParam, static_cast<WPARAM>(LinkSteamButton));
    EXPECT_EQ(posted.lParam, 0);
    ASSERT_EQ(object->accSelect(SELFLAG_TAKEFOCUS, child(TabNews)), S_OK);
    ASSERT_TRUE(PeekMessageW(&posted, window, kAccessiblePressMessage, kAccessiblePressMessage, PM_REMOVE));
    EXPECT_EQ(posted.wParam, static_cast<WPARAM>(TabNews));
    EXPECT_EQ(posted.lParam, 1);
    // A text has nothing to do.
    EXPECT_EQ(object->accDoDefaultAction(child(BoxStatusLine)), DISP_E_MEMBERNOTFOUND);
    EXPECT_FALSE(PeekMessageW(&posted, window, kAccessiblePressMessage, kAccessiblePressMessage, PM_REMOVE));
}

// A reader may keep the object after the window is gone: every call then fails cleanly, the enumerator's
// clones included, and nothing new is handed out.
TEST_F(AccessibleObject, OutlivedWindowAnswersNotConnected) {
    IEnumVARIANT* children = nullptr;
    ASSERT_EQ(object->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void**>(&children)), S_OK);
    IEnumVARIANT* clone = nullptr;
    ASSERT_EQ(children->Clone(&clone), S_OK);

    ASSERT_TRUE(DestroyWindow(window));
    LONG count = -1;
    EXPECT_EQ(object->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accName(child(LinkSteamButton), &name), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(object->accDoDefaultAction(child(LinkSteamButton)), CO_E_OBJNOTCONNECTED);
    VARIANT id;
    VariantInit(&id);
    EXPECT_EQ(clone->Next(1, &id, nullptr), CO_E_OBJNOTCONNECTED);
    EXPECT_EQ(answerGetObject(gHost, window, 0, static_cast<LPARAM>(OBJID_CLIENT), look), 0);
    clone->Release();
    children->Release();
}

} // namespace
