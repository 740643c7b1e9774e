#include "render/accessible_tree.h"

#include "render/hit_geometry.h"
#include "render/screen_texts.h"

#include <cmath>
#include <cwchar>

namespace {

// Adds items in reading order, each placed by the design rectangle it is drawn in.
struct TreeBuilder {
    AccessibleTree tree;
    UiScale scale;
    HitConditions when;

    PixelBox pixels(const DesignRect& r) const {
        const float s = scale.scale;
        return {static_cast<int>(std::floor(r.x * s)), static_cast<int>(std::floor(r.y * s)),
                static_cast<int>(std::ceil((r.x + r.w) * s)), static_cast<int>(std::ceil((r.y + r.h) * s))};
    }

    AccessibleItem* control(HitTarget target, AccessibleRole role, std::wstring name) {
        if (!isHitTestable(target, when))
            return nullptr;
        tree.items.push_back(
            {target, role, std::move(name), {}, pixels(hitRect(target, scale.width, scale.height))});
        return &tree.items.back();
    }

    AccessibleItem& text(TextBox box, std::wstring name, TextBox drawnIn) {
        tree.items.push_back({box,
                              AccessibleRole::StaticText,
                              std::move(name),
                              {},
                              pixels(textBoxRect(drawnIn, scale.width, scale.height))});
        return tree.items.back();
    }
    AccessibleItem& text(TextBox box, std::wstring name) { return text(box, std::move(name), box); }
};

void addHeader(TreeBuilder& b, const UiState& ui, const LinkState& link) {
    for (HitTarget tab : {TabHome, TabNews, TabCommunity})
        if (AccessibleItem* item = b.control(tab, AccessibleRole::PageTab, tabLabel(tab)))
            item->selected = ui.screen == static_cast<Screen>(tab - TabHome);
    b.control(AccountsButton, AccessibleRole::PushButton,
              link.ready ? L"MIS CUENTAS, vinculadas" : spokenLabel(accountsLabel(false)));
    b.control(MinimizeButton, AccessibleRole::PushButton, L"Minimizar");
    b.control(MaximizeButton, AccessibleRole::PushButton, ui.windowMaximised ? L"Restaurar" : L"Maximizar");
    b.control(CloseButton, AccessibleRole::PushButton, L"Cerrar");
}

void addLinkingCard(TreeBuilder& b, const LinkState& link, const UiState& ui) {
    const LinkingCardView view = linkingCardView(link, ui);
    if (view.signOutShown)
        b.control(SignOutButton, AccessibleRole::PushButton, spokenLabel(view.signOutLabel));
    static const wchar_t* const kServices[] = {L"Steam", L"Discord"};
    for (int k = 0; k < 2; ++k) {
        const LinkRowView& row = view.rows[k];
        std::wstring name = std::wstring(kServices[k]) + (row.linked ? L": vinculado" : L": pendiente");
        if (row.linked && !row.detail.empty())
            name += L", " + row.detail;
        AccessibleItem& text = b.text(k == 0 ? BoxSteamRow : BoxDiscordRow, std::move(name));
        if (!row.linked)
            text.description = row.detail;
        const HitTarget button = k == 0 ? LinkSteamButton : LinkDiscordButton;
        if (AccessibleItem* item =
                b.control(button, AccessibleRole::PushButton, spokenLabel(row.buttonLabel))) {
            item->description = kServices[k];
            item->unavailable = !row.live;
        }
    }
    // One line, error or not, so a reader hears every change of it.
    AccessibleItem& line = view.hasError ? b.text(BoxStatusLine, view.errorText, BoxErrorLine)
                                         : b.text(BoxStatusLine, view.statusLine);
    line.live = true;
    if (view.hasError)
        b.control(RetryButton, AccessibleRole::PushButton, spokenLabel(kRetryLabel));
    if (AccessibleItem* next =
            b.control(ContinueButton, AccessibleRole::PushButton, spokenLabel(view.continueLabel)))
        next->unavailable = !link.ready;
}

void addPlayBlock(TreeBuilder& b, const LauncherConfig& config) {
    if (AccessibleItem* play = b.control(PlayButton, AccessibleRole::PushButton, kPlayLabel))
        play->description = playSubtitle(config);
    b.text(BoxNewsCardTitle, newsCardTitle(config));
    b.text(BoxNewsCardBody, newsCardBody(config));
    b.control(CommunityButton, AccessibleRole::Link, spokenLabel(communityLabel(config)));
}

void addFooter(TreeBuilder& b, const UiState& ui, const SceneLibrary& scenes) {
    // The line as it reads without a pointer over the carousel: hover hints are for the mouse.
    UiState still = ui;
    still.hover = None;
    b.text(BoxFooterLine, footerLine(still, scenes.paused)).live = true;
    for (HitTarget button : {PreviousSceneButton, PauseButton, NextSceneButton}) {
        const std::wstring hint = carouselHint(button, scenes.paused);
        b.control(button, AccessibleRole::PushButton, hint.substr(0, hint.find(L"  ·")));
    }
    const size_t count = scenes.scenes.size();
    for (size_t i = 0; i < kMaxSceneBars; ++i) {
        const std::wstring name = L"Imagen " + std::to_wstring(i + 1) + L" de " + std::to_wstring(count);
        const HitTarget dot = static_cast<HitTarget>(SceneDot0 + static_cast<int>(i));
        if (AccessibleItem* item = b.control(dot, AccessibleRole::RadioButton, name))
            item->selected = scenes.current == i;
    }
}

bool sameState(const AccessibleItem& a, const AccessibleItem& b) {
    return a.selected == b.selected && a.unavailable == b.unavailable;
}

} // namespace

std::wstring spokenLabel(const wchar_t* label) {
    std::wstring spoken;
    for (const wchar_t* c = label; *c != L'\0'; ++c)
        if (*c != L'✓' && *c != L'→')
            spoken += *c;
    while (!spoken.empty() && spoken.back() == L' ')
        spoken.pop_back();
    return spoken;
}

AccessibleTree accessibleTree(const FrameInputs& in, int clientWidth, int clientHeight) {
    const LinkState& link = in.ui.previewLinkState != nullptr ? *in.ui.previewLinkState : in.link;
    TreeBuilder b{{},
                  computeUiScale(clientWidth, clientHeight, in.dpiFactor),
                  hitConditionsFor(in.ui, in.scenes.scenes.size(), link)};
    addHeader(b, in.ui, link);
    switch (in.ui.screen) {
    case News:
    case Community: {
        const PanelTexts texts = panelTexts(in.ui.screen, in.config);
        b.text(BoxPanelTitle, texts.title);
        b.text(BoxPanelHeadline, texts.headline);
        b.text(BoxPanelBody, texts.body);
        break;
    }
    case Linking:
        addLinkingCard(b, link, in.ui);
        break;
    case Home:
        break;
    }
    if (in.ui.screen != Linking)
        addPlayBlock(b, in.config);
    addFooter(b, in.ui, in.scenes);
    if (findItem(b.tree, in.ui.focus) != nullptr)
        b.tree.focus = in.ui.focus;
    return b.tree;
}

const AccessibleItem* findItem(const AccessibleTree& tree, int32_t key) {
    for (const AccessibleItem& item : tree.items)
        if (item.key == key)
            return &item;
    return nullptr;
}

std::vector<AccessibleEvent> accessibleChanges(const AccessibleTree& before, const AccessibleTree& after) {
    std::vector<AccessibleEvent> events;
    bool sameChildren = before.items.size() == after.items.size();
    for (size_t i = 0; sameChildren && i < after.items.size(); ++i)
        sameChildren = before.items[i].key == after.items[i].key;
    if (!sameChildren)
        events.push_back({kEventReorder, 0});
    for (const AccessibleItem& now : after.items) {
        const AccessibleItem* was = findItem(before, now.key);
        if (was == nullptr)
            continue;
        if (was->name != now.name) {
            events.push_back({kEventNameChange, now.key});
            if (now.live)
                events.push_back({kEventLiveRegion, now.key});
        }
        if (!sameState(*was, now))
            events.push_back({kEventStateChange, now.key});
    }
    if (after.focus != 0 && after.focus != before.focus)
        events.push_back({kEventFocus, after.focus});
    return events;
}
