#pragma once
#include "app/ui_state.h"
#include "config/launcher_config.h"
#include "link/link_state.h"
#include "render/theme.h"

#include <string>

// Which text and colour each element shows, decided from the state alone (no drawing here).

// Footer: a hovered carousel control's hint, else the Play result, else the signature line.
const wchar_t* footerLine(const UiState& ui, bool carouselPaused);

// The header's tab labels (TabHome, TabNews, TabCommunity) and its accounts button.
const wchar_t* tabLabel(HitTarget tab);
const wchar_t* accountsLabel(bool ready);
inline constexpr wchar_t kPlayLabel[] = L"Jugar";
inline constexpr wchar_t kRetryLabel[] = L"REINTENTAR  →";

// A carousel button's footer hint ("Imagen anterior  ·  Flecha izquierda"), or null for other controls.
const wchar_t* carouselHint(HitTarget control, bool carouselPaused);

// News and Community panel texts, and the home news card; empty settings fall back to fixed texts.
struct PanelTexts {
    const wchar_t* label;
    const wchar_t* title;
    float titleSize;
    const wchar_t* headline;
    const wchar_t* body;
};
PanelTexts panelTexts(Screen screen, const LauncherConfig& config);
const wchar_t* newsCardTitle(const LauncherConfig& config);
const wchar_t* newsCardBody(const LauncherConfig& config);
const wchar_t* playSubtitle(const LauncherConfig& config);
const wchar_t* communityLabel(const LauncherConfig& config);

struct LinkRowView {
    std::wstring detail;
    bool linked;
    bool live;
    Argb buttonFill;
    const wchar_t* buttonLabel;
    Argb labelColour;
};

struct LinkingCardView {
    LinkRowView rows[2]; // Steam, Discord
    bool hasError;
    std::wstring errorText;  // when hasError
    std::wstring statusLine; // when not
    Argb retryColour;
    bool signOutShown;
    const wchar_t* signOutLabel; // "CERRAR SESIÓN", or "CONFIRMAR CIERRE" while it waits for the second press
    Argb signOutColour;
    Argb continueFill;
    const wchar_t* continueLabel;
    Argb continueLabelColour;
};
LinkingCardView linkingCardView(const LinkState& link, const UiState& ui);
