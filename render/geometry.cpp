#include "render/geometry.h"

#include <cmath>

UiScale computeUiScale(int pixelWidth, int pixelHeight) {
    const float sx = static_cast<float>(pixelWidth) / 960.0f;
    const float sy = static_cast<float>(pixelHeight) / 640.0f;
    float s = std::isnan(sx) ? sy : std::fmin(sx, sy);
    s = std::fmin(s, 1.0f);
    if (!(s > 0.0f))
        s = 1.0f;
    return {s, static_cast<int>(std::ceil(pixelWidth / s)), static_cast<int>(std::ceil(pixelHeight / s))};
}
