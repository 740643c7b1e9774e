#include "app/run_mode.h"

#include <cwchar>

RunMode parseRunMode(int argc, wchar_t** argv) {
    if (argv == nullptr || argc < 1 || argc > 2)
        return RunMode::Rejected;
    if (argc == 1)
        return RunMode::Window;
    struct Switch {
        const wchar_t* text;
        RunMode mode;
    };
    static const Switch switches[] = {
        {L"--self-test", RunMode::SelfTest},
        {L"--render-preview", RunMode::RenderPreview},
        {L"--diagnose-linking", RunMode::DiagnoseLinking},
        {L"--test-steam-click", RunMode::TestSteamClick},
    };
    for (const Switch& s : switches)
        if (argv[1] != nullptr && std::wcscmp(argv[1], s.text) == 0)
            return s.mode;
    return RunMode::Rejected;
}
