#include "app/program_paths.h"

#include <cwchar>

namespace {
std::wstring gProgramFolder;
std::wstring gConfigurationPath;
} // namespace

bool programFolderFromModulePath(const wchar_t* modulePath, std::wstring& folder) {
    if (modulePath == nullptr)
        return false;
    const wchar_t* lastSlash = std::wcsrchr(modulePath, L'\\');
    if (lastSlash == nullptr)
        return false;
    folder.assign(modulePath, lastSlash);
    return true;
}

std::wstring joinPath(const std::wstring& folder, const wchar_t* name) {
    std::wstring path = folder;
    path += L'\\';
    path += name;
    return path;
}

void setProgramFolder(const std::wstring& folder) {
    gProgramFolder = folder;
    gConfigurationPath = joinPath(folder, kConfigFileName);
}

const std::wstring& programFolder() {
    return gProgramFolder;
}
const std::wstring& configurationPath() {
    return gConfigurationPath;
}
