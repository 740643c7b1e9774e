#include "render/geometry.h"

#include <algorithm>
#include <cmath>

float boundedDpiFactor(float factor) {
    return std::isnan(factor) ? 1.0f : std::clamp(factor, 1.0f, 5.0f);
}

float dpiFactorFor(int dpi) {
    return boundedDpiFactor(static_cast<float>(dpi) / kBaseDpi);
}

int dpiPixels(int pixels, float dpiFactor) {
    return static_cast<int>(std::lround(pixels * boundedDpiFactor(dpiFactor)));
}

UiScale computeUiScale(int pixelWidth, int pixelHeight, float dpiFactor) {
    const float cap = boundedDpiFactor(dpiFactor);
    const float sx = static_cast<float>(pixelWidth) / 960.0f;
    const float sy = static_cast<float>(pixelHeight) / 640.0f;
    float s = std::isnan(sx) ? sy : std::fmin(sx, sy);
    s = std::fmin(s, cap);
    if (!(s > 0.0f))
        s = cap;
    return {s, static_cast<int>(std::ceil(pixelWidth / s)), static_cast<int>(std::ceil(pixelHeight / s))};
}
