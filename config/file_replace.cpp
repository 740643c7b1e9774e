#include "config/file_replace.h"

#include <windows.h>

namespace {

bool writeAndFlush(HANDLE file, const void* bytes, size_t size) {
    if (size > MAXDWORD)
        return false;
    const DWORD count = static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written != count)
        return false;
    return FlushFileBuffers(file) != FALSE;
}

} // namespace

bool replaceFile(const wchar_t* target, const wchar_t* pending, const void* bytes, size_t size) {
    HANDLE file = CreateFileW(pending, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool written = writeAndFlush(file, bytes, size);
    const bool closed = CloseHandle(file) != FALSE;
    if (written && closed && MoveFileExW(pending, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(pending);
    return false;
}

bool fileIdentity(const wchar_t* path, FileIdentity& identity) {
    // No access rights asked and every sharing mode granted: looking must not disturb a writer.
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (!known)
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}
