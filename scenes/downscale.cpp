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

void keptSceneSize(uint32_t width, uint32_t height, SceneBound bound, uint32_t& keptWidth,
                   uint32_t& keptHeight) {
    keptWidth = width;
    keptHeight = height;
    if (bound.width == 0 || bound.height == 0 || width == 0 || height == 0)
        return;
    const double factor =
        std::max(static_cast<double>(bound.width) / width, static_cast<double>(bound.height) / height);
    if (factor >= 1.0)
        return;
    keptWidth = std::max<uint32_t>(bound.width, static_cast<uint32_t>(std::ceil(width * factor - 1e-6)));
    keptHeight = std::max<uint32_t>(bound.height, static_cast<uint32_t>(std::ceil(height * factor - 1e-6)));
    keptWidth = std::min(keptWidth, width);
    keptHeight = std::min(keptHeight, height);
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
