#pragma once
#include "render/home_screen.h"

#include <cstdint>
#include <string>
#include <vector>

// What a screen reader is told the window shows: the current screen's controls and texts in reading
// order, with the names the player reads, where they are in client pixels, and what changed since the
// last look. Built from the same records, texts and hit geometry as the frame, so the reader and the
// picture agree.

enum class AccessibleRole { PageTab, PushButton, RadioButton, Link, StaticText };

struct PixelBox {
    int left, top, right, bottom;
};

struct AccessibleItem {
    // A HitTarget for a control, a TextBox for a text: stable across screens, so it is also the child
    // id the reader is given.
    int32_t key;
    AccessibleRole role;
    std::wstring name;
    std::wstring description;
    PixelBox box;
    bool selected = false;    // the shown tab, the shown picture
    bool unavailable = false; // drawn muted: pressing it only explains why not
    bool live = false;        // a status line: its changes are announced
};

struct AccessibleTree {
    std::vector<AccessibleItem> items;
    int32_t focus = 0; // key of the control with the keyboard focus, 0 when none is shown
};

AccessibleTree accessibleTree(const FrameInputs& in, int clientWidth, int clientHeight);
const AccessibleItem* findItem(const AccessibleTree& tree, int32_t key);
// The item would die with a temporary tree.
const AccessibleItem* findItem(AccessibleTree&& tree, int32_t key) = delete;

// "VINCULADO  ✓" as a reader says it: the symbols the label draws for decoration dropped, the check
// mark of a label that does not already say it spoken as "vinculado".
std::wstring spokenLabel(const wchar_t* label);

// The events that tell a reader what changed between two looks (MSAA event ids; key 0 = the whole
// client): the children's order, a name or state, a live line's text, the focus.
struct AccessibleEvent {
    uint32_t event;
    int32_t key;
};
inline constexpr uint32_t kEventFocus = 0x8005;       // EVENT_OBJECT_FOCUS
inline constexpr uint32_t kEventReorder = 0x8004;     // EVENT_OBJECT_REORDER
inline constexpr uint32_t kEventStateChange = 0x800A; // EVENT_OBJECT_STATECHANGE
inline constexpr uint32_t kEventNameChange = 0x800C;  // EVENT_OBJECT_NAMECHANGE
inline constexpr uint32_t kEventLiveRegion = 0x8019;  // EVENT_OBJECT_LIVEREGIONCHANGED
std::vector<AccessibleEvent> accessibleChanges(const AccessibleTree& before, const AccessibleTree& after);
