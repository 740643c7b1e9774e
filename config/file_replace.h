#pragma once
#include <cstddef>

// Every file the program replaces is written whole into a fresh file, flushed, and moved over its
// target, so a reader finds the old content or the new one, never a part of either.

// Creates pending exclusively (while a file of that name exists another writer owns it, so the
// write is refused and that file left alone), writes the bytes, flushes them and moves pending over
// target. A failure after the creation removes pending; false always leaves target as it was.
bool replaceFile(const wchar_t* target, const wchar_t* pending, const void* bytes, size_t size);

// Which file a path names: the volume and the file's index on it. A target that was replaced names
// another file afterwards; one rewritten in place is still the same file.
struct FileIdentity {
    unsigned long volume = 0;
    unsigned long long index = 0;
    bool operator==(const FileIdentity&) const = default;
};

// False when path names no file that can be opened.
bool fileIdentity(const wchar_t* path, FileIdentity& identity);
