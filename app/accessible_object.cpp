#include "app/accessible_object.h"

#include "render/hit_geometry.h"

// The import library gives IID_IAccessible as a thunk into oleacc.dll, not the GUID: the interfaces'
// own ids are taken with __uuidof instead.
#include <oleacc.h>

#include <memory>

namespace {

void setChild(VARIANT* out, int32_t key) {
    VariantInit(out);
    out->vt = VT_I4;
    out->lVal = key;
}

HRESULT giveText(const std::wstring& text, BSTR* out) {
    *out = text.empty() ? nullptr : SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (text.empty())
        return S_FALSE;
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

LONG roleOf(AccessibleRole role) {
    switch (role) {
    case AccessibleRole::PageTab:
        return ROLE_SYSTEM_PAGETAB;
    case AccessibleRole::PushButton:
        return ROLE_SYSTEM_PUSHBUTTON;
    case AccessibleRole::RadioButton:
        return ROLE_SYSTEM_RADIOBUTTON;
    case AccessibleRole::Link:
        return ROLE_SYSTEM_LINK;
    case AccessibleRole::StaticText:
        return ROLE_SYSTEM_STATICTEXT;
    }
    return ROLE_SYSTEM_CLIENT;
}

const wchar_t* defaultActionOf(AccessibleRole role) {
    switch (role) {
    case AccessibleRole::PageTab:
    case AccessibleRole::RadioButton:
        return L"Seleccionar";
    case AccessibleRole::PushButton:
        return L"Pulsar";
    case AccessibleRole::Link:
        return L"Abrir";
    case AccessibleRole::StaticText:
        break;
    }
    return L"";
}

LONG stateOf(const AccessibleItem& item, bool focused) {
    if (item.role == AccessibleRole::StaticText)
        return STATE_SYSTEM_READONLY;
    LONG state = STATE_SYSTEM_FOCUSABLE | (focused ? STATE_SYSTEM_FOCUSED : 0);
    if (item.unavailable)
        state |= STATE_SYSTEM_UNAVAILABLE;
    if (item.role == AccessibleRole::Link)
        state |= STATE_SYSTEM_LINKED;
    if (item.role == AccessibleRole::PageTab)
        state |= STATE_SYSTEM_SELECTABLE | (item.selected ? STATE_SYSTEM_SELECTED : 0);
    if (item.role == AccessibleRole::RadioButton && item.selected)
        state |= STATE_SYSTEM_CHECKED;
    return state;
}

} // namespace

// One object serves the client and, as its own enumerator, the list of its children.
struct ClientAccessible final : IAccessible, IEnumVARIANT {
    // Shared with the enumerator's clones, so closing the window cuts them all off at once.
    std::shared_ptr<HWND> connection;
    AccessibleLook look;
    LONG references = 1;
    size_t cursor = 0; // the enumerator's place

    ClientAccessible(std::shared_ptr<HWND> c, AccessibleLook l) : connection(std::move(c)), look(l) {}

    HWND window() const { return *connection; }

    bool hasFocus() const { return GetFocus() == window(); }

    // Runs `answer` with the current tree and the item `id` names (null for the client itself).
    template <class Answer> HRESULT withItem(const VARIANT& id, Answer answer) {
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        if (id.vt != VT_I4)
            return E_INVALIDARG;
        const AccessibleTree tree = look(window());
        if (id.lVal == CHILDID_SELF)
            return answer(tree, static_cast<const AccessibleItem*>(nullptr));
        const AccessibleItem* item = findItem(tree, id.lVal);
        return item != nullptr ? answer(tree, item) : E_INVALIDARG;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(IAccessible))
            *out = static_cast<IAccessible*>(this);
        else if (iid == __uuidof(IEnumVARIANT))
            *out = static_cast<IEnumVARIANT*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: readers use the IAccessible methods, never Invoke.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        if (parent == nullptr)
            return E_POINTER;
        return AccessibleObjectFromWindow(window(), static_cast<DWORD>(OBJID_WINDOW), IID_IDispatch,
                                          reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        if (count == nullptr)
            return E_POINTER;
        *count = static_cast<LONG>(look(window()).items.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT id, IDispatch** child) override {
        if (child == nullptr)
            return E_POINTER;
        *child = nullptr;
        // Children are simple elements: the reader asks this object about them by id.
        return withItem(id, [](const AccessibleTree&, const AccessibleItem* item) {
            return item != nullptr ? S_FALSE : E_INVALIDARG;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT id, BSTR* name) override {
        if (name == nullptr)
            return E_POINTER;
        *name = nullptr;
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            if (item != nullptr)
                return giveText(item->name, name);
            wchar_t title[128] = {};
            GetWindowTextW(window(), title, 128);
            return giveText(title, name);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT id, BSTR* value) override { return noText(id, value); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT id, BSTR* text) override {
        if (text == nullptr)
            return E_POINTER;
        *text = nullptr;
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            return item != nullptr ? giveText(item->description, text) : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT id, VARIANT* role) override {
        if (role == nullptr)
            return E_POINTER;
        VariantInit(role);
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            setChild(role, item != nullptr ? roleOf(item->role) : ROLE_SYSTEM_CLIENT);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT id, VARIANT* state) override {
        if (state == nullptr)
            return E_POINTER;
        VariantInit(state);
        return withItem(id, [&](const AccessibleTree& tree, const AccessibleItem* item) {
            const bool focused = hasFocus() && (item != nullptr ? item->key == tree.focus : tree.focus == 0);
            setChild(state, item != nullptr ? stateOf(*item, focused)
                                            : STATE_SYSTEM_FOCUSABLE | (focused ? STATE_SYSTEM_FOCUSED : 0));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT id, BSTR* help) override { return noText(id, help); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT id, LONG* topic) override {
        if (file == nullptr || topic == nullptr)
            return E_POINTER;
        *file = nullptr;
        *topic = 0;
        return withItem(id, [](const AccessibleTree&, const AccessibleItem*) { return S_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT id, BSTR* keys) override {
        return noText(id, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr)
            return E_POINTER;
        VariantInit(focus);
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        if (!hasFocus())
            return S_FALSE;
        setChild(focus, look(window()).focus);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr)
            return E_POINTER;
        VariantInit(selection);
        return window() != nullptr ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT id, BSTR* action) override {
        if (action == nullptr)
            return E_POINTER;
        *action = nullptr;
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            return item != nullptr ? giveText(defaultActionOf(item->role), action) : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT id) override {
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            if (item == nullptr || item->role == AccessibleRole::StaticText || flags != SELFLAG_TAKEFOCUS)
                return DISP_E_MEMBERNOTFOUND;
            return PostMessageW(window(), kAccessiblePressMessage, static_cast<WPARAM>(item->key), 1)
                       ? S_OK
                       : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT id) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr)
            return E_POINTER;
        *left = *top = *width = *height = 0;
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            RECT client{};
            GetClientRect(window(), &client);
            PixelBox box = {client.left, client.top, client.right, client.bottom};
            if (item != nullptr)
                box = item->box;
            POINT origin = {box.left, box.top};
            ClientToScreen(window(), &origin);
            *left = origin.x;
            *top = origin.y;
            *width = box.right - box.left;
            *height = box.bottom - box.top;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr)
            return E_POINTER;
        VariantInit(end);
        return withItem(start, [&](const AccessibleTree& tree, const AccessibleItem* item) {
            const auto& items = tree.items;
            const size_t at = item != nullptr ? static_cast<size_t>(item - items.data()) : 0;
            const AccessibleItem* to = nullptr;
            if (item == nullptr && direction == NAVDIR_FIRSTCHILD && !items.empty())
                to = &items.front();
            else if (item == nullptr && direction == NAVDIR_LASTCHILD && !items.empty())
                to = &items.back();
            else if (item != nullptr && direction == NAVDIR_NEXT && at + 1 < items.size())
                to = &items[at + 1];
            else if (item != nullptr && direction == NAVDIR_PREVIOUS && at > 0)
                to = &items[at - 1];
            if (to == nullptr)
                return S_FALSE;
            setChild(end, to->key);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* at) override {
        if (at == nullptr)
            return E_POINTER;
        VariantInit(at);
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        POINT p = {x, y};
        ScreenToClient(window(), &p);
        RECT client{};
        GetClientRect(window(), &client);
        if (!PtInRect(&client, p))
            return S_FALSE;
        // Controls before texts: a control drawn over a text is what a click there reaches.
        const AccessibleTree tree = look(window());
        int32_t hit = CHILDID_SELF;
        for (bool controls : {true, false})
            for (const AccessibleItem& item : tree.items)
                if (hit == CHILDID_SELF && (item.role != AccessibleRole::StaticText) == controls &&
                    p.x >= item.box.left && p.x < item.box.right && p.y >= item.box.top &&
                    p.y < item.box.bottom)
                    hit = item.key;
        setChild(at, hit);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT id) override {
        return withItem(id, [&](const AccessibleTree&, const AccessibleItem* item) {
            if (item == nullptr || item->role == AccessibleRole::StaticText)
                return DISP_E_MEMBERNOTFOUND;
            return PostMessageW(window(), kAccessiblePressMessage, static_cast<WPARAM>(item->key), 0)
                       ? S_OK
                       : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

    // IEnumVARIANT: the children's ids, which are their keys rather than 1..n.
    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* ids, ULONG* fetched) override {
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        if (ids == nullptr || (wanted > 1 && fetched == nullptr))
            return E_POINTER;
        const AccessibleTree tree = look(window());
        ULONG given = 0;
        for (; given < wanted && cursor < tree.items.size(); ++given, ++cursor)
            setChild(&ids[given], tree.items[cursor].key);
        if (fetched != nullptr)
            *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        const size_t size = look(window()).items.size();
        cursor += count;
        if (cursor <= size)
            return S_OK;
        cursor = size;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        cursor = 0;
        return window() != nullptr ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
        if (copy == nullptr)
            return E_POINTER;
        *copy = nullptr;
        if (window() == nullptr)
            return CO_E_OBJNOTCONNECTED;
        auto* twin = new ClientAccessible(connection, look);
        twin->cursor = cursor;
        *copy = twin;
        return S_OK;
    }

  private:
    HRESULT noText(const VARIANT& id, BSTR* text) {
        if (text == nullptr)
            return E_POINTER;
        *text = nullptr;
        return withItem(id, [](const AccessibleTree&, const AccessibleItem*) { return S_FALSE; });
    }
};

namespace {

// UI Automation (Narrator) reads the object through its MSAA proxy, which cannot know that a line is
// live; this annotation tells it, so each change of the status or footer line is spoken where the player
// is. Wine answers E_NOTIMPL: the events alone are what readers get there.
constexpr GUID kAccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID kAccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kLivePolite = 1;
constexpr DWORD kLiveLines[] = {BoxStatusLine, BoxFooterLine};

void annotateLiveLines(HWND window, bool live) {
    IAccPropServices* services = nullptr;
    if (FAILED(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                kAccPropServicesInterface, reinterpret_cast<void**>(&services))))
        return;
    for (DWORD line : kLiveLines) {
        if (live) {
            VARIANT polite;
            VariantInit(&polite);
            polite.vt = VT_I4;
            polite.lVal = kLivePolite;
            services->SetHwndProp(window, static_cast<DWORD>(OBJID_CLIENT), line, kLiveSettingProperty,
                                  polite);
        } else {
            services->ClearHwndProps(window, static_cast<DWORD>(OBJID_CLIENT), line, &kLiveSettingProperty,
                                     1);
        }
    }
    services->Release();
}

} // namespace

LRESULT answerGetObject(AccessibleHost& host, HWND window, WPARAM wParam, LPARAM lParam,
                        AccessibleLook look) {
    if (host.closed || static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT)
        return 0;
    if (host.object == nullptr) {
        host.object = new ClientAccessible(std::make_shared<HWND>(window), look);
        host.last = look(window);
        annotateLiveLines(window, true);
    }
    return LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(host.object));
}

void announceChanges(AccessibleHost& host, HWND window, AccessibleLook look) {
    if (host.object == nullptr || host.closed)
        return;
    AccessibleTree now = look(window);
    for (const AccessibleEvent& event : accessibleChanges(host.last, now))
        NotifyWinEvent(event.event, window, OBJID_CLIENT, event.key == 0 ? CHILDID_SELF : event.key);
    host.last = std::move(now);
}

void closeAccessible(AccessibleHost& host) {
    host.closed = true;
    if (host.object == nullptr)
        return;
    annotateLiveLines(*host.object->connection, false);
    *host.object->connection = nullptr;
    CoDisconnectObject(static_cast<IAccessible*>(host.object), 0);
    host.object->Release();
    host.object = nullptr;
    host.last = {};
}
