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

// Digits only, no leading zero (the store never writes one), at most `most` of them.
bool readNumber(const wchar_t*& at, size_t most, unsigned long long& value) {
    const wchar_t* start = at;
    value = 0;
    while (*at >= L'0' && *at <= L'9' && static_cast<size_t>(at - start) < most)
        value = value * 10 + static_cast<unsigned>(*at++ - L'0');
    const size_t digits = static_cast<size_t>(at - start);
    return digits > 0 && !(digits > 1 && *start == L'0') && !(*at >= L'0' && *at <= L'9');
}

// The process id in a name this store gives its temporary files: "<file>.tmp.<pid>.<tick>".
bool temporaryOwner(const wchar_t* name, const std::wstring& prefix, DWORD& pid) {
    if (wcslen(name) <= prefix.size() ||
        CompareStringOrdinal(name, static_cast<int>(prefix.size()), prefix.c_str(),
                             static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL)
        return false;
    const wchar_t* at = name + prefix.size();
    unsigned long long id = 0;
    unsigned long long tick = 0;
    if (!readNumber(at, 10, id) || id > MAXDWORD || *at++ != L'.' || !readNumber(at, 20, tick) ||
        *at != L'\0')
        return false;
    pid = static_cast<DWORD>(id);
    return true;
}

// Unknown counts as running: a process of another user cannot be opened but may still be saving.
bool processRuns(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool running = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

// A save killed between its create and its move leaves its temporary file behind, and nothing else
// would ever remove it. Files of processes that ended (or of an earlier holder of our own id: our
// own saves never overlap) go; another launcher's save in progress keeps its file.
void removeStaleTemporaries(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring prefix = path.substr(folder.size()) + L".tmp.";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW((path + L".tmp.*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        DWORD pid = 0;
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
            temporaryOwner(found.cFileName, prefix, pid) &&
            (pid == GetCurrentProcessId() || !processRuns(pid)))
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
    // First, so that on a full disk the leftovers' space is free for this save.
    removeStaleTemporaries(path);

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
