#include "scenes/downscale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Which source cells one target cell covers, with the share of each.
struct Span {
    int first = 0;
    std::vector<float> weights;
};

std::vector<Span> spansFor(int sourceLength, int targetLength) {
    std::vector<Span> spans(static_cast<size_t>(targetLength));
    const double step = static_cast<double>(sourceLength) / targetLength;
    for (int t = 0; t < targetLength; ++t) {
        const double from = t * step, to = std::min<double>(sourceLength, (t + 1) * step);
        Span& span = spans[static_cast<size_t>(t)];
        span.first = static_cast<int>(from);
        for (int s = span.first; s < sourceLength && s < to; ++s) {
            const double covered = std::min<double>(s + 1, to) - std::max<double>(s, from);
            span.weights.push_back(static_cast<float>(covered / step));
        }
    }
    return spans;
}

} // namespace

SceneKeep sceneKeep(uint32_t width, uint32_t height, SceneBound bound) {
    // The drift moves the shown part sideways by up to 0.4 % of its width each way.
    constexpr double kDriftRoom = 1.008;
    SceneKeep keep{0, 0, width, height, width, height};
    if (width == 0 || height == 0)
        return keep;
    const double aspect = static_cast<double>(width) / height;
    if (bound.widestAspect > 0 && aspect > bound.widestAspect * kDriftRoom) {
        keep.width = std::min<uint32_t>(
            width, static_cast<uint32_t>(std::ceil(height * bound.widestAspect * kDriftRoom)) + 2);
        keep.x = (width - keep.width) / 2;
    } else if (bound.narrowestAspect > 0 && aspect < bound.narrowestAspect) {
        keep.height =
            std::min<uint32_t>(height, static_cast<uint32_t>(std::ceil(width / bound.narrowestAspect)) + 2);
        keep.y = (height - keep.height) / 2;
    }
    keep.keptWidth = keep.width;
    keep.keptHeight = keep.height;
    if (bound.width == 0 || bound.height == 0)
        return keep;
    const double factor = std::max(static_cast<double>(bound.width) / keep.width,
                                   static_cast<double>(bound.height) / keep.height);
    if (factor >= 1.0)
        return keep;
    keep.keptWidth =
        std::clamp(static_cast<uint32_t>(std::ceil(keep.width * factor - 1e-6)), bound.width, keep.width);
    keep.keptHeight =
        std::clamp(static_cast<uint32_t>(std::ceil(keep.height * factor - 1e-6)), bound.height, keep.height);
    return keep;
}

void downscaleArea(const uint8_t* source, int sourceWidth, int sourceHeight, int sourceStride,
                   uint8_t* target, int targetWidth, int targetHeight, int targetStride) {
    if (targetWidth <= 0 || targetHeight <= 0 || targetWidth > sourceWidth || targetHeight > sourceHeight)
        return;
    const std::vector<Span> columns = spansFor(sourceWidth, targetWidth);
    const std::vector<Span> rows = spansFor(sourceHeight, targetHeight);
    std::vector<float> sum(static_cast<size_t>(targetWidth) * 4);
    for (int ty = 0; ty < targetHeight; ++ty) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        const Span& rowSpan = rows[static_cast<size_t>(ty)];
        for (size_t k = 0; k < rowSpan.weights.size(); ++k) {
            const uint8_t* line =
                source + static_cast<ptrdiff_t>(rowSpan.first + static_cast<int>(k)) * sourceStride;
            for (int tx = 0; tx < targetWidth; ++tx) {
                const Span& columnSpan = columns[static_cast<size_t>(tx)];
                float channels[4] = {};
                for (size_t j = 0; j < columnSpan.weights.size(); ++j) {
                    const uint8_t* pixel =
                        line + static_cast<ptrdiff_t>(columnSpan.first + static_cast<int>(j)) * 4;
                    for (int c = 0; c < 4; ++c)
                        channels[c] += pixel[c] * columnSpan.weights[j];
                }
                for (int c = 0; c < 4; ++c)
                    sum[static_cast<size_t>(tx) * 4 + c] += channels[c] * rowSpan.weights[k];
            }
        }
        uint8_t* out = target + static_cast<ptrdiff_t>(ty) * targetStride;
        for (size_t i = 0; i < sum.size(); ++i)
            out[i] = static_cast<uint8_t>(std::clamp(sum[i] + 0.5f, 0.0f, 255.0f));
    }
}
