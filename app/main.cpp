#include "app/launcher.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return runLauncher(instance, showCommand);
}
