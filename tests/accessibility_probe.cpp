// A console tool the accessibility tests run beside the launcher: it reads and drives the window's
// accessible object from another process, as a screen reader does (MSAA), so what it prints is what a
// reader gets.
//
//   accessibility_probe [--class NAME] tree          one JSON document (UTF-8): the client object's name,
//                        role, roleText, state, stateText, location [l,t,w,h], childCount, focus (child
//                        id, 0 for none or the object itself) and children [{id, name, role, roleText,
//                        state, stateText, location, defaultAction, value}]; null where the object fails
//   accessibility_probe [--class NAME] do NAME       the default action of the first child named exactly
//                        NAME that is not unavailable; prints "done <id>"
//   accessibility_probe [--class NAME] watch SECONDS prints "watching", then for SECONDS one JSON line per
//                        focus, name, reorder, live-region or state event of the window:
//                        {event, idObject, idChild, name, role} (name and role read at that moment)
//   accessibility_probe [--class NAME] hold SECONDS  keeps the object, prints "holding", waits up to
//                        SECONDS for the window to be destroyed, then calls the object once more:
//                        {childCount_hr, name_hr, windowDestroyed, ownerAlive}
// The window is the first of class NAME (OrvaneGamingLauncher unless --class says otherwise).
// Exit: 0 ok, 1 no window, 2 no accessible object (HRESULT on stderr), 3 bad arguments or no such
// child, 4 the child refused its default action (HRESULT on stderr).
// Under Wine 8 a window that does not answer WM_GETOBJECT still gets an object (the system's plain
// client object, named after the title, no children), so exit 2 is rare; after the owner disconnects
// its object, `hold` sees 0x800706b5 or 0x80010108 while the owner runs (which one depends on what
// other clients did before) and 0x800706ba once it has exited.
#include <windows.h>
#include <oleacc.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Whatever the object hands back is bounded before it reaches the output.
constexpr size_t kMaxText = 4096;
constexpr long kMaxChildren = 1024;
constexpr long kMaxSeconds = 3600;

// Not IID_IAccessible: MinGW's oleacc import library exports that name as a function, and linked
// before uuid it gives the address of a jump thunk, i.e. a garbage IID (E_NOINTERFACE everywhere).
const IID kIidAccessible = __uuidof(IAccessible);

constexpr int kExitNoWindow = 1;
constexpr int kExitNoObject = 2;
constexpr int kExitBadArguments = 3;
constexpr int kExitActionFailed = 4;

// Wine has been seen to miss a window in one lookup while it runs on: a few more, spread over two
// seconds, before saying there is none.
HWND findWindow(const wchar_t* className) {
    for (int attempt = 0;; ++attempt) {
        if (HWND window = FindWindowW(className, nullptr); window != nullptr || attempt == 20)
            return window;
        Sleep(100);
    }
}

void pumpUntil(ULONGLONG end, HWND untilGone = nullptr) {
    MSG msg;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        if (untilGone != nullptr && !IsWindow(untilGone))
            return;
        // Short waits: a window's end posts nothing to this thread.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50)),
                                  QS_ALLINPUT);
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
}

std::string utf8(const wchar_t* text, size_t length) {
    if (length == 0)
        return {};
    const int size = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(bytes, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), bytes, nullptr, nullptr);
    return out;
}

// UTF-8 bytes of multi-byte characters are all >= 0x80, so escaping byte by byte is safe.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

VARIANT childVariant(long id) {
    VARIANT child;
    VariantInit(&child);
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// One element as a reader addresses it: a simple child is its parent plus a child id, a child with an
// object of its own is that object with CHILDID_SELF. The element holds one reference to `object`.
struct Element {
    IAccessible* object;
    long childId;
    long id;
};

// A BSTR property as JSON: null when the object has none or fails.
template <typename Get> std::string textProperty(Get get) {
    BSTR text = nullptr;
    std::string json = "null";
    if (SUCCEEDED(get(&text)) && text != nullptr)
        json = jsonString(utf8(text, std::min<size_t>(SysStringLen(text), kMaxText)));
    SysFreeString(text);
    return json;
}

std::string nameOf(const Element& element) {
    return textProperty(
        [&](BSTR* text) { return element.object->get_accName(childVariant(element.childId), text); });
}

// Role as the ROLE_SYSTEM_ number and the system's text for it; a role given as a string keeps the
// string as its text and no number.
std::string roleFields(const Element& element) {
    VARIANT role;
    VariantInit(&role);
    std::string json = "\"role\":null,\"roleText\":null";
    if (SUCCEEDED(element.object->get_accRole(childVariant(element.childId), &role))) {
        if (role.vt == VT_I4) {
            wchar_t text[128];
            const UINT length = GetRoleTextW(static_cast<DWORD>(role.lVal), text, std::size(text));
            json =
                "\"role\":" + std::to_string(role.lVal) + ",\"roleText\":" + jsonString(utf8(text, length));
        } else if (role.vt == VT_BSTR && role.bstrVal != nullptr) {
            json = "\"role\":null,\"roleText\":" +
                   jsonString(utf8(role.bstrVal, std::min<size_t>(SysStringLen(role.bstrVal), kMaxText)));
        }
    }
    VariantClear(&role);
    return json;
}

struct StateFlag {
    long flag;
    const char* name;
};

constexpr StateFlag kStateFlags[] = {
    {STATE_SYSTEM_UNAVAILABLE, "unavailable"},
    {STATE_SYSTEM_SELECTED, "selected"},
    {STATE_SYSTEM_FOCUSED, "focused"},
    {STATE_SYSTEM_PRESSED, "pressed"},
    {STATE_SYSTEM_CHECKED, "checked"},
    {STATE_SYSTEM_MIXED, "mixed"},
    {STATE_SYSTEM_READONLY, "readonly"},
    {STATE_SYSTEM_HOTTRACKED, "hottracked"},
    {STATE_SYSTEM_DEFAULT, "default"},
    {STATE_SYSTEM_EXPANDED, "expanded"},
    {STATE_SYSTEM_COLLAPSED, "collapsed"},
    {STATE_SYSTEM_BUSY, "busy"},
    {STATE_SYSTEM_FLOATING, "floating"},
    {STATE_SYSTEM_MARQUEED, "marqueed"},
    {STATE_SYSTEM_ANIMATED, "animated"},
    {STATE_SYSTEM_INVISIBLE, "invisible"},
    {STATE_SYSTEM_OFFSCREEN, "offscreen"},
    {STATE_SYSTEM_SIZEABLE, "sizeable"},
    {STATE_SYSTEM_MOVEABLE, "moveable"},
    {STATE_SYSTEM_SELFVOICING, "selfvoicing"},
    {STATE_SYSTEM_FOCUSABLE, "focusable"},
    {STATE_SYSTEM_SELECTABLE, "selectable"},
    {STATE_SYSTEM_LINKED, "linked"},
    {STATE_SYSTEM_TRAVERSED, "traversed"},
    {STATE_SYSTEM_MULTISELECTABLE, "multiselectable"},
    {STATE_SYSTEM_EXTSELECTABLE, "extselectable"},
    {STATE_SYSTEM_ALERT_LOW, "alert_low"},
    {STATE_SYSTEM_ALERT_MEDIUM, "alert_medium"},
    {STATE_SYSTEM_ALERT_HIGH, "alert_high"},
    {STATE_SYSTEM_PROTECTED, "protected"},
    {STATE_SYSTEM_HASPOPUP, "haspopup"},
};

// The state bits, or false when the object gives none.
bool stateOf(const Element& element, long& state) {
    VARIANT value;
    VariantInit(&value);
    const bool read =
        SUCCEEDED(element.object->get_accState(childVariant(element.childId), &value)) && value.vt == VT_I4;
    state = read ? value.lVal : 0;
    VariantClear(&value);
    return read;
}

std::string stateFields(const Element& element) {
    long state = 0;
    if (!stateOf(element, state))
        return "\"state\":null,\"stateText\":null";
    std::string names;
    for (const StateFlag& flag : kStateFlags)
        if ((state & flag.flag) != 0)
            names += (names.empty() ? "\"" : ",\"") + std::string(flag.name) + '"';
    return "\"state\":" + std::to_string(state) + ",\"stateText\":[" + names + ']';
}

std::string locationField(const Element& element) {
    long left = 0, top = 0, width = 0, height = 0;
    if (FAILED(element.object->accLocation(&left, &top, &width, &height, childVariant(element.childId))))
        return "\"location\":null";
    return "\"location\":[" + std::to_string(left) + ',' + std::to_string(top) + ',' + std::to_string(width) +
           ',' + std::to_string(height) + ']';
}

// The fields every element has, without braces.
std::string commonFields(const Element& element) {
    return "\"name\":" + nameOf(element) + ',' + roleFields(element) + ',' + stateFields(element) + ',' +
           locationField(element);
}

long childCountOf(IAccessible* object) {
    long count = 0;
    if (FAILED(object->get_accChildCount(&count)))
        return 0;
    return std::clamp(count, 0L, kMaxChildren);
}

// The children in the object's order; simple children by their child ids, child objects by their
// position (1-based), which is the id a reader would use through the parent.
std::vector<Element> childrenOf(IAccessible* parent) {
    std::vector<Element> children;
    const long count = childCountOf(parent);
    if (count == 0)
        return children;
    std::vector<VARIANT> variants(static_cast<size_t>(count));
    long obtained = 0;
    if (FAILED(AccessibleChildren(parent, 0, count, variants.data(), &obtained)))
        return children;
    obtained = std::clamp(obtained, 0L, count);
    for (long i = 0; i < obtained; ++i) {
        VARIANT& child = variants[static_cast<size_t>(i)];
        if (child.vt == VT_I4) {
            parent->AddRef();
            children.push_back({parent, child.lVal, child.lVal});
        } else if (child.vt == VT_DISPATCH && child.pdispVal != nullptr) {
            IAccessible* object = nullptr;
            if (SUCCEEDED(child.pdispVal->QueryInterface(kIidAccessible, reinterpret_cast<void**>(&object))))
                children.push_back({object, CHILDID_SELF, i + 1});
        }
        VariantClear(&child);
    }
    return children;
}

void release(std::vector<Element>& elements) {
    for (Element& element : elements)
        element.object->Release();
    elements.clear();
}

long focusOf(IAccessible* object) {
    VARIANT focus;
    VariantInit(&focus);
    long id = 0;
    if (SUCCEEDED(object->get_accFocus(&focus)) && focus.vt == VT_I4)
        id = focus.lVal;
    VariantClear(&focus);
    return id;
}

int printTree(IAccessible* root) {
    const Element self{root, CHILDID_SELF, 0};
    long count = 0;
    const HRESULT countResult = root->get_accChildCount(&count);
    std::string json = '{' + commonFields(self) +
                       ",\"childCount\":" + (SUCCEEDED(countResult) ? std::to_string(count) : "null") +
                       ",\"focus\":" + std::to_string(focusOf(root)) + ",\"children\":[";
    std::vector<Element> children = childrenOf(root);
    for (size_t i = 0; i < children.size(); ++i) {
        const Element& child = children[i];
        const VARIANT id = childVariant(child.childId);
        json +=
            (i == 0 ? "{\"id\":" : ",{\"id\":") + std::to_string(child.id) + ',' + commonFields(child) +
            ",\"defaultAction\":" +
            textProperty([&](BSTR* text) { return child.object->get_accDefaultAction(id, text); }) +
            ",\"value\":" + textProperty([&](BSTR* text) { return child.object->get_accValue(id, text); }) +
            '}';
    }
    release(children);
    json += "]}\n";
    std::fwrite(json.data(), 1, json.size(), stdout);
    return 0;
}

int doDefaultAction(IAccessible* root, const wchar_t* name) {
    const std::string wanted = jsonString(utf8(name, std::wcslen(name)));
    std::vector<Element> children = childrenOf(root);
    int result = kExitBadArguments;
    for (const Element& child : children) {
        long state = 0;
        if (nameOf(child) != wanted || !stateOf(child, state) || (state & STATE_SYSTEM_UNAVAILABLE) != 0)
            continue;
        const HRESULT hr = child.object->accDoDefaultAction(childVariant(child.childId));
        if (SUCCEEDED(hr)) {
            std::printf("done %ld\n", child.id);
            result = 0;
        } else {
            std::fprintf(stderr, "the default action of child %ld failed: %s\n", child.id, hex(hr).c_str());
            result = kExitActionFailed;
        }
        break;
    }
    if (result == kExitBadArguments)
        std::fprintf(stderr, "no available child is named so\n");
    release(children);
    return result;
}

// Windows 8's live-region event; the headers only name it for builds targeting Windows 8.
constexpr DWORD kEventLiveRegionChanged = 0x8019;

struct EventName {
    DWORD event;
    const char* name;
};

constexpr EventName kEvents[] = {
    {EVENT_OBJECT_FOCUS, "focus"},
    {EVENT_OBJECT_NAMECHANGE, "namechange"},
    {EVENT_OBJECT_REORDER, "reorder"},
    {kEventLiveRegionChanged, "liveregionchanged"},
    {EVENT_OBJECT_STATECHANGE, "statechange"},
};

HWND watchedWindow = nullptr;

void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG idObject, LONG idChild, DWORD, DWORD) {
    if (window != watchedWindow)
        return;
    const char* name = nullptr;
    for (const EventName& known : kEvents)
        if (known.event == event)
            name = known.name;
    if (name == nullptr)
        return;
    std::string json = "{\"event\":\"" + std::string(name) + "\",\"idObject\":" + std::to_string(idObject) +
                       ",\"idChild\":" + std::to_string(idChild);
    IAccessible* object = nullptr;
    VARIANT child;
    VariantInit(&child);
    if (SUCCEEDED(AccessibleObjectFromEvent(window, static_cast<DWORD>(idObject), static_cast<DWORD>(idChild),
                                            &object, &child)) &&
        object != nullptr && child.vt == VT_I4) {
        const Element element{object, child.lVal, child.lVal};
        VARIANT role;
        VariantInit(&role);
        const bool hasRole = SUCCEEDED(object->get_accRole(child, &role)) && role.vt == VT_I4;
        json +=
            ",\"name\":" + nameOf(element) + ",\"role\":" + (hasRole ? std::to_string(role.lVal) : "null");
        VariantClear(&role);
    } else {
        json += ",\"name\":null,\"role\":null";
    }
    if (object != nullptr)
        object->Release();
    VariantClear(&child);
    json += "}\n";
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fflush(stdout);
}

int watch(HWND window, long seconds) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    watchedWindow = window;
    std::vector<HWINEVENTHOOK> hooks;
    // No WINEVENT_SKIPOWNPROCESS: Wine 8 applies it to the process filtered on, not to the hook's
    // owner, and then delivers nothing at all.
    for (const EventName& known : kEvents) {
        HWINEVENTHOOK hook =
            SetWinEventHook(known.event, known.event, nullptr, onEvent, pid, 0, WINEVENT_OUTOFCONTEXT);
        if (hook == nullptr) {
            std::fprintf(stderr, "SetWinEventHook failed for %s: %lu\n", known.name, GetLastError());
            return kExitBadArguments;
        }
        hooks.push_back(hook);
    }
    std::printf("watching\n");
    std::fflush(stdout);
    pumpUntil(GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000);
    for (HWINEVENTHOOK hook : hooks)
        UnhookWinEvent(hook);
    return 0;
}

// A reader may keep its reference after the window is gone: its calls must fail, not crash it.
int hold(HWND window, IAccessible* object, long seconds) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE owner = OpenProcess(SYNCHRONIZE, FALSE, pid);
    std::printf("holding\n");
    std::fflush(stdout);
    pumpUntil(GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000, window);
    const bool destroyed = !IsWindow(window);
    long count = 0;
    const HRESULT countResult = object->get_accChildCount(&count);
    BSTR name = nullptr;
    const HRESULT nameResult = object->get_accName(childVariant(CHILDID_SELF), &name);
    SysFreeString(name);
    const bool ownerAlive = owner != nullptr && WaitForSingleObject(owner, 0) == WAIT_TIMEOUT;
    if (owner != nullptr)
        CloseHandle(owner);
    std::printf("{\"childCount_hr\":\"%s\",\"name_hr\":\"%s\",\"windowDestroyed\":%s,\"ownerAlive\":%s}\n",
                hex(countResult).c_str(), hex(nameResult).c_str(), destroyed ? "true" : "false",
                ownerAlive ? "true" : "false");
    return 0;
}

bool parseSeconds(const wchar_t* text, long& seconds) {
    wchar_t* end = nullptr;
    seconds = std::wcstol(text, &end, 10);
    return end != text && *end == L'\0' && seconds >= 1 && seconds <= kMaxSeconds;
}

struct Command {
    const wchar_t* className = L"OrvaneGamingLauncher";
    const wchar_t* verb = nullptr;
    const wchar_t* name = nullptr;
    long seconds = 0;
};

bool parseCommand(int argc, wchar_t** argv, Command& command) {
    int next = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"--class") == 0) {
        command.className = argv[2];
        next = 3;
    }
    if (next >= argc)
        return false;
    command.verb = argv[next];
    const int rest = argc - next - 1;
    if (std::wcscmp(command.verb, L"tree") == 0)
        return rest == 0;
    if (rest != 1)
        return false;
    if (std::wcscmp(command.verb, L"do") == 0) {
        command.name = argv[next + 1];
        return true;
    }
    if (std::wcscmp(command.verb, L"watch") == 0 || std::wcscmp(command.verb, L"hold") == 0)
        return parseSeconds(argv[next + 1], command.seconds);
    return false;
}

int run(const Command& command) {
    HWND window = findWindow(command.className);
    if (window == nullptr) {
        std::fprintf(stderr, "no window\n");
        return kExitNoWindow;
    }
    IAccessible* object = nullptr;
    const HRESULT hr = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                                  reinterpret_cast<void**>(&object));
    if (FAILED(hr) || object == nullptr) {
        std::fprintf(stderr, "no accessible object: %s\n", hex(hr).c_str());
        return kExitNoObject;
    }
    int result = 0;
    if (std::wcscmp(command.verb, L"tree") == 0)
        result = printTree(object);
    else if (std::wcscmp(command.verb, L"do") == 0)
        result = doDefaultAction(object, command.name);
    else if (std::wcscmp(command.verb, L"watch") == 0)
        result = watch(window, command.seconds);
    else
        result = hold(window, object, command.seconds);
    object->Release();
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // The JSON is UTF-8 with plain line ends, as the tests read it.
    _setmode(_fileno(stdout), _O_BINARY);
    Command command;
    if (!parseCommand(argc, argv, command)) {
        std::fprintf(stderr, "usage: accessibility_probe [--class NAME] tree | do NAME | watch SECONDS | "
                             "hold SECONDS\n");
        return kExitBadArguments;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = run(command);
    std::fflush(stdout);
    CoUninitialize();
    return result;
}
