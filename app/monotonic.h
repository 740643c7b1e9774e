#pragma once

// Seconds from the performance counter (GetTickCount64 / 1000 where there is none).
double monotonicSeconds();
