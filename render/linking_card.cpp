#include "render/hit_geometry.h"
#include "render/home_screen.h"
#include "render/screen_texts.h"

void paintLinkingCard(DrawContext& ctx, int W, int H, const LinkState& link, const UiState& ui) {
    const DesignPoint o = linkingCardOrigin(W, H);
    const LinkingCardView view = linkingCardView(link, ui);

    fillRoundRect(ctx, {o.x, o.y, 700, 430}, 13, 0xF00A131F, 0x507D97B2);
    drawText(ctx, L"IDENTIFICACIÓN  /  ORVANE GAMING", {o.x + 40, o.y + 21, 620, 24}, 10, ThemeTextMuted, 1,
             AlignNear);
    if (view.signOutShown)
        drawText(ctx, view.signOutLabel, hitRect(SignOutButton, W, H), 10, view.signOutColour, 1, AlignFar);
    drawTitle(ctx, L"TU HISTORIA EMPIEZA AQUÍ", {o.x + 37, o.y + 54, 626, 49}, 30, ThemeText);
    drawText(ctx, L"Vincula tus cuentas de Steam y Discord para entrar en la Orvane.",
             {o.x + 40, o.y + 105, 620, 27}, 13, ThemeTextMuted, 0, AlignNear);

    static const wchar_t* const kServiceNames[] = {L"Steam®  /  Garry's Mod", L"Discord"};
    for (int k = 0; k < 2; ++k) {
        const DesignRect box = textBoxRect(k == 0 ? BoxSteamRow : BoxDiscordRow, W, H);
        const float r = box.y;
        const LinkRowView& row = view.rows[k];
        fillRoundRect(ctx, box, 8, 0xB4142131, 0x2A7C9AB9);
        const DesignRect logo = {o.x + 56, r + 25, 36, 36};
        if (k == 0)
            drawSteamLogo(ctx, logo);
        else
            drawDiscordLogo(ctx, logo);
        drawText(ctx, kServiceNames[k], {o.x + 106, r + 11, 358, 28}, 16, ThemeText, 1, AlignNear);
        drawText(ctx, row.detail.c_str(), {o.x + 106, r + 41, 358, 28}, 11, ThemeTextMuted, 0, AlignNear);
        const DesignRect button = hitRect(k == 0 ? LinkSteamButton : LinkDiscordButton, W, H);
        fillRoundRect(ctx, button, 6, row.buttonFill, 0);
        drawText(ctx, row.buttonLabel, button, 11, row.labelColour, 1, AlignCenter);
    }

    if (view.hasError) {
        drawText(ctx, view.errorText.c_str(), textBoxRect(BoxErrorLine, W, H), 10, 0xFFFCA799, 0, AlignNear);
        drawText(ctx, kRetryLabel, hitRect(RetryButton, W, H), 10, view.retryColour, 1, AlignFar);
    } else {
        drawText(ctx, view.statusLine.c_str(), textBoxRect(BoxStatusLine, W, H), 11, ThemeTextMuted, 0,
                 AlignNear);
    }

    const DesignRect next = hitRect(ContinueButton, W, H);
    fillRoundRect(ctx, next, 7, view.continueFill, 0);
    drawText(ctx, view.continueLabel, next, 13, view.continueLabelColour, 1, AlignCenter);
}
