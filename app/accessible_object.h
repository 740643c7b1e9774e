#pragma once
#include "render/accessible_tree.h"

#include <windows.h>

// The window's answer to screen readers: an IAccessible for its client area whose children (simple
// elements, child id = the item's key) are what accessibleTree says the screen shows now.

// The window reads its current tree for the object through this.
using AccessibleLook = AccessibleTree (*)(HWND window);

// Posted to the window when a reader presses a control (wParam: its HitTarget), and, with lParam 1,
// when it only moves the keyboard focus there. A post, not a call: the control acts in the window's
// own turn, as after a click, never inside the reader's call.
inline constexpr UINT kAccessiblePressMessage = WM_APP + 24;

struct ClientAccessible;
struct AccessibleHost {
    ClientAccessible* object = nullptr; // made on the first ask
    AccessibleTree last;                // what the reader was last told
    bool closed = false;                // the window is gone: nothing is handed out any more
};

// WM_GETOBJECT: the client object for OBJID_CLIENT; 0 (let DefWindowProc answer) for anything else
// and once the window is closing.
LRESULT answerGetObject(AccessibleHost& host, HWND window, WPARAM wParam, LPARAM lParam, AccessibleLook look);

// Raises the events for what changed since the reader's last look; nothing until a reader has asked.
void announceChanges(AccessibleHost& host, HWND window, AccessibleLook look);

// WM_DESTROY: the object is cut off; a reader still holding it gets CO_E_OBJNOTCONNECTED.
void closeAccessible(AccessibleHost& host);
