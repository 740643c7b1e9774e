#pragma once

// The --render-preview mode: draws the screens off-screen into PNG files in the reports folder and
// returns the process exit code (0 on success, 3 on failure).
int renderPreviews();
