#pragma once
#include <windows.h>

// The whole life of the process: start-up, the chosen run mode, shutdown. Returns the exit code.
int runLauncher(HINSTANCE instance, int showCommand);
