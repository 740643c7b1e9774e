#pragma once
#include <string>

// The executable's folder without a trailing backslash ("C:" for a drive root), and the paths built
// from it. Set once by start-up; read by every part that touches a file.
bool programFolderFromModulePath(const wchar_t* modulePath, std::wstring& folder);
std::wstring joinPath(const std::wstring& folder, const wchar_t* name);

void setProgramFolder(const std::wstring& folder);
const std::wstring& programFolder();
const std::wstring& configurationPath();

inline constexpr wchar_t kConfigFileName[] = L"OrvaneGaming.ini";
