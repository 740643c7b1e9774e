#include "render/preview.h"

#include "app/run_mode.h"

// The screens cannot be drawn yet; until they can, the mode reports failure rather than success.
int renderPreviews() {
    return ExitPreviewFailed;
}
