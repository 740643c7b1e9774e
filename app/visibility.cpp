#include "app/visibility.h"

#include <algorithm>
#include <vector>

namespace {

// Each cut splits a piece in at most four; past this many the window counts as visible.
constexpr size_t kMostPieces = 1024;

bool isEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

bool overlaps(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// What of `piece` lies outside `cut`, as up to four rectangles added to `out`.
void subtract(const RECT& piece, const RECT& cut, std::vector<RECT>& out) {
    if (!overlaps(piece, cut)) {
        out.push_back(piece);
        return;
    }
    if (piece.top < cut.top)
        out.push_back({piece.left, piece.top, piece.right, cut.top});
    if (cut.bottom < piece.bottom)
        out.push_back({piece.left, cut.bottom, piece.right, piece.bottom});
    const LONG top = std::max(piece.top, cut.top), bottom = std::min(piece.bottom, cut.bottom);
    if (piece.left < cut.left)
        out.push_back({piece.left, top, cut.left, bottom});
    if (cut.right < piece.right)
        out.push_back({cut.right, top, piece.right, bottom});
}

} // namespace

bool coveredCompletely(const RECT& target, const RECT* above, size_t count) {
    if (isEmpty(target))
        return false;
    std::vector<RECT> left = {target}, next;
    for (size_t i = 0; i < count && !left.empty(); ++i) {
        if (isEmpty(above[i]))
            continue;
        next.clear();
        for (const RECT& piece : left)
            subtract(piece, above[i], next);
        if (next.size() > kMostPieces)
            return false;
        left.swap(next);
    }
    return left.empty();
}

WindowShown windowShown(const VisibilityFacts& facts) {
    if (facts.minimised)
        return WindowShown::Minimised;
    if (facts.covered || facts.cloaked || facts.sessionLocked || facts.displayOff)
        return WindowShown::Hidden;
    return WindowShown::Visible;
}

unsigned framePeriodMs(WindowShown shown, unsigned minimisedDueMs) {
    switch (shown) {
    case WindowShown::Visible:
        return kFrameMs;
    case WindowShown::Hidden:
        return kHiddenWakeMs;
    case WindowShown::Minimised:
        break;
    }
    return minimisedDueMs;
}

CoverageCheck coverageCheckDue(WindowShown shown, bool active, double lastWalk, double now) {
    const double since = now - lastWalk;
    switch (shown) {
    case WindowShown::Hidden:
        return since >= kCoverageWalkSeconds ? CoverageCheck::AllWindowsAbove
                                             : CoverageCheck::CoveringWindows;
    case WindowShown::Visible:
        return !active && since >= kCoverageRecheckSeconds ? CoverageCheck::AllWindowsAbove
                                                           : CoverageCheck::None;
    case WindowShown::Minimised:
        break;
    }
    return CoverageCheck::None;
}
