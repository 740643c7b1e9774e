#include "link/session_store.h"

#include "link/url_policy.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

namespace {

constexpr char kEntropy[] = "OrvaneGamingHQ.Launcher.Session.v1";
constexpr wchar_t kDescription[] = L"OrvaneGaming launcher session";
constexpr LONGLONG kMaxFileBytes = 8192;

DATA_BLOB entropyBlob() {
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(sizeof kEntropy - 1);
    blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy));
    return blob;
}

bool finalPath(HANDLE handle, std::wstring& path) {
    path.assign(32768, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0 || length >= path.size())
        return false;
    path.resize(length);
    return true;
}

// The opened file must be the entry the path names, not something reached through it. Wine shows a
// Unix symbolic link as a plain file (no reparse point, one link), but its final path gives it away:
// it differs from the folder's final path plus the file's own name.
bool opensItself(HANDLE file, const wchar_t* path) {
    std::wstring full(32768, L'\0');
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), &name);
    if (length == 0 || length >= full.size() || name == nullptr || name == full.data())
        return false;
    const std::wstring fileName = name;
    full.resize(static_cast<size_t>(name - full.data()));
    HANDLE folder = CreateFileW(full.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    std::wstring folderPath;
    std::wstring filePath;
    const bool resolved = finalPath(folder, folderPath) && finalPath(file, filePath);
    CloseHandle(folder);
    if (!resolved)
        return false;
    if (folderPath.empty() || folderPath.back() != L'\\')
        folderPath += L'\\';
    folderPath += fileName;
    return CompareStringOrdinal(folderPath.c_str(), static_cast<int>(folderPath.size()), filePath.c_str(),
                                static_cast<int>(filePath.size()), TRUE) == CSTR_EQUAL;
}

// The file's protected bytes, only when it is a plain file with one name and a size of 1 to 8192.
bool readProtectedFile(const wchar_t* path, std::vector<BYTE>& bytes) {
    // Opened as itself, so a symbolic link or junction is seen and refused instead of followed.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    bool ok = GetFileInformationByHandle(file, &info) &&
              !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && info.nNumberOfLinks == 1 &&
              GetFileSizeEx(file, &size) && size.QuadPart >= 1 && size.QuadPart <= kMaxFileBytes &&
              opensItself(file, path);
    if (ok) {
        bytes.assign(static_cast<size_t>(size.QuadPart), 0);
        DWORD got = 0;
        ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
             got == bytes.size();
    }
    CloseHandle(file);
    return ok;
}

} // namespace

SessionToken loadSessionToken(const wchar_t* path) {
    SessionToken token;
    std::vector<BYTE> stored;
    if (path == nullptr || !readProtectedFile(path, stored))
        return token;

    DATA_BLOB in{static_cast<DWORD>(stored.size()), stored.data()};
    DATA_BLOB entropy = entropyBlob();
    DATA_BLOB plain{};
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return token;
    if (plain.cbData == 43)
        token.assign(std::string_view(reinterpret_cast<const char*>(plain.pbData), plain.cbData));
    if (plain.pbData != nullptr) {
        SecureZeroMemory(plain.pbData, plain.cbData);
        LocalFree(plain.pbData);
    }
    if (!isTokenWellFormed(token.view()))
        token.wipe();
    return token;
}

bool saveSessionToken(const wchar_t* path, std::string_view token) {
    if (path == nullptr || path[0] == L'\0' || !isTokenWellFormed(token))
        return false;

    DATA_BLOB in{static_cast<DWORD>(token.size()), reinterpret_cast<BYTE*>(const_cast<char*>(token.data()))};
    DATA_BLOB entropy = entropyBlob();
    DATA_BLOB blob{};
    if (!CryptProtectData(&in, kDescription, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &blob))
        return false;

    const std::wstring temporary = std::wstring(path) + L".tmp." + std::to_wstring(GetCurrentProcessId()) +
                                   L"." + std::to_wstring(GetTickCount64());
    HANDLE file =
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        DWORD written = 0;
        ok = WriteFile(file, blob.pbData, blob.cbData, &written, nullptr) && written == blob.cbData &&
             FlushFileBuffers(file);
        CloseHandle(file);
    }
    LocalFree(blob.pbData);
    if (ok && MoveFileExW(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    // Also after a failed create: whatever may have appeared under the temporary name goes.
    DeleteFileW(temporary.c_str());
    return false;
}
