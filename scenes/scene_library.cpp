#include "scenes/scene_library.h"

#include "config/launcher_config.h"

#include <wincrypt.h>

#include <cwchar>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

extern const char kEmbeddedSceneBase64[];

namespace {

constexpr DWORD kMaxPathUnits = 32768;

const wchar_t* const kFixedSceneNames[] = {L"vexil-squad.jpg", L"galactic-battle.jpg", L"orvane-ground.jpg"};

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Ask for the length first, then fetch; both answers must be in range.
bool finalPathOf(HANDLE handle, std::wstring& path) {
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, 0);
    if (needed < 1 || needed > kMaxPathUnits)
        return false;
    std::wstring buffer(needed + 1, L'\0');
    const DWORD got = GetFinalPathNameByHandleW(handle, buffer.data(), needed + 1, 0);
    if (got < 1 || got > needed)
        return false;
    path.assign(buffer.data(), got);
    return true;
}

bool fullPathOf(const wchar_t* folder, std::wstring& full) {
    if (folder == nullptr || folder[0] == L'\0')
        return false;
    // An exe in a drive root has the folder "Q:", which on its own means Q:'s current folder,
    // not its root: ask for the root itself.
    std::wstring asked = folder;
    if (asked.size() == 2 && asked[1] == L':')
        asked += L'\\';
    const DWORD needed = GetFullPathNameW(asked.c_str(), 0, nullptr, nullptr);
    if (needed < 1 || needed > kMaxPathUnits)
        return false;
    std::wstring buffer(needed, L'\0');
    const DWORD got = GetFullPathNameW(asked.c_str(), needed, buffer.data(), nullptr);
    if (got == 0 || got >= needed)
        return false;
    full.assign(buffer.data(), got);
    return true;
}

// The assets folder must be exactly where it claims to be: no junction or link standing in for it.
bool isContainedFolder(HANDLE folder, const std::wstring& assetsFolder) {
    std::wstring finalPath;
    if (!finalPathOf(folder, finalPath))
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    return equalsIgnoringCase(finalPath, canonicalPath(assetsFolder));
}

// Decoding every pixel now means a truncated or corrupt file fails here, not while drawing.
bool decodesFully(GpBitmap* image, uint32_t width, uint32_t height) {
    GpRect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
    BitmapData data{};
    if (GdipBitmapLockBits(image, &all, ImageLockModeRead, PixelFormat32bppARGB, &data) != Ok)
        return false;
    return GdipBitmapUnlockBits(image, &data) == Ok;
}

// The kept part of the decoded picture at its kept size; empty when it cannot be decoded or made.
OwnedBitmap keptCopy(GpBitmap* image, const SceneKeep& keep) {
    GpRect all(static_cast<INT>(keep.x), static_cast<INT>(keep.y), static_cast<INT>(keep.width),
               static_cast<INT>(keep.height));
    BitmapData from{};
    OwnedBitmap copy;
    if (GdipBitmapLockBits(image, &all, ImageLockModeRead, PixelFormat32bppPARGB, &from) != Ok)
        return copy;
    GpRect kept(0, 0, static_cast<INT>(keep.keptWidth), static_cast<INT>(keep.keptHeight));
    BitmapData to{};
    bool ok = GdipCreateBitmapFromScan0(kept.Width, kept.Height, 0, PixelFormat32bppPARGB, nullptr,
                                        copy.out()) == Ok &&
              GdipBitmapLockBits(copy.get(), &kept, ImageLockModeWrite, PixelFormat32bppPARGB, &to) == Ok;
    if (ok) {
        downscaleArea(static_cast<const uint8_t*>(from.Scan0), all.Width, all.Height, from.Stride,
                      static_cast<uint8_t*>(to.Scan0), kept.Width, kept.Height, to.Stride);
        ok = GdipBitmapUnlockBits(copy.get(), &to) == Ok;
    }
    ok = GdipBitmapUnlockBits(image, &from) == Ok && ok;
    if (!ok)
        copy.reset();
    return copy;
}

bool hasAcceptableSize(uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width > kMaxSceneSide || height > kMaxSceneSide)
        return false;
    return static_cast<uint64_t>(width) * height <= kMaxScenePixels;
}

// The stream takes ownership of the memory: releasing the stream frees it.
IStream* streamOverMemory(HGLOBAL memory) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    return stream;
}

bool readWholeFile(HANDLE file, uint64_t size, HGLOBAL& memory) {
    memory = GlobalAlloc(GMEM_MOVEABLE, static_cast<SIZE_T>(size));
    if (memory == nullptr)
        return false;
    void* bytes = GlobalLock(memory);
    DWORD read = 0;
    const bool ok = bytes != nullptr && ReadFile(file, bytes, static_cast<DWORD>(size), &read, nullptr) &&
                    read == static_cast<DWORD>(size);
    if (bytes != nullptr)
        GlobalUnlock(memory);
    if (!ok) {
        GlobalFree(memory);
        memory = nullptr;
    }
    return ok;
}

} // namespace

SceneLibrary::~SceneLibrary() {
    destroySceneLibrary(*this);
}

bool isValidSceneName(const wchar_t* name) {
    return name != nullptr && name[0] != L'\0' && isValidBackgroundName(name);
}

std::wstring canonicalPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

void emptySceneLibrary(SceneLibrary& library) {
    while (!library.scenes.empty())
        library.scenes.pop_back();
    library.current = library.previous = 0;
    library.fading = library.paused = false;
    library.clock = library.currentShownAt = library.previousShownAt = 0;
    library.lastAdvanceAt = library.fadeStartedAt = library.pausedAt = 0;
}

void destroySceneLibrary(SceneLibrary& library) {
    emptySceneLibrary(library);
    std::vector<std::unique_ptr<Scene>>().swap(library.scenes);
}

bool createScene(SceneLibrary& library, IStream* stream, const wchar_t* name, const wchar_t* path) {
    if (stream == nullptr)
        return false;
    auto scene = std::make_unique<Scene>();
    scene->stream.reset(stream);
    scene->name = name;
    scene->path = path;
    scene->opaqueAttributes.status = GdipCreateImageAttributes(scene->opaqueAttributes.handle.out());
    scene->fadeAttributes.status = GdipCreateImageAttributes(scene->fadeAttributes.handle.out());

    UINT width = 0, height = 0;
    bool ok = GdipCreateBitmapFromStream(stream, scene->image.out()) == Ok && scene->image &&
              GdipGetImageWidth(scene->image.get(), &width) == Ok &&
              GdipGetImageHeight(scene->image.get(), &height) == Ok && hasAcceptableSize(width, height);
    const SceneKeep keep = sceneKeep(width, height, library.bound);
    if (ok && (keep.keptWidth != width || keep.keptHeight != height)) {
        OwnedBitmap copy = keptCopy(scene->image.get(), keep);
        ok = static_cast<bool>(copy);
        if (ok) {
            // The copy owns its pixels: the decoded picture and the file's bytes can go now.
            scene->image = std::move(copy);
            scene->stream.reset();
        }
    } else if (ok) {
        ok = decodesFully(scene->image.get(), width, height);
    }
    if (!ok)
        return false;
    scene->width = keep.keptWidth;
    scene->height = keep.keptHeight;
    for (SceneAttributes* attributes : {&scene->opaqueAttributes, &scene->fadeAttributes})
        if (attributes->handle)
            attributes->status = GdipSetImageAttributesWrapMode(attributes->handle.get(), WrapModeTileFlipXY,
                                                                0xFF000000, FALSE);
    library.scenes.push_back(std::move(scene));
    return true;
}

bool loadSceneFile(SceneLibrary& library, const std::wstring& assetsFolder, const wchar_t* name) {
    if (!isValidSceneName(name))
        return false;
    const std::wstring expected = canonicalPath(assetsFolder + L"\\" + name);
    for (const auto& scene : library.scenes)
        if (equalsIgnoringCase(scene->path, expected))
            return false;

    // Sharing read only: a picture another program is still writing is not read half-done.
    HANDLE file = CreateFileW(expected.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::wstring finalPath;
    LARGE_INTEGER size{};
    HGLOBAL memory = nullptr;
    const bool read = finalPathOf(file, finalPath) && equalsIgnoringCase(finalPath, expected) &&
                      GetFileSizeEx(file, &size) && size.QuadPart >= 1 &&
                      static_cast<uint64_t>(size.QuadPart) <= kMaxSceneFileBytes &&
                      readWholeFile(file, static_cast<uint64_t>(size.QuadPart), memory);
    CloseHandle(file);
    if (!read)
        return false;
    IStream* stream = streamOverMemory(memory);
    return stream != nullptr && createScene(library, stream, name, finalPath.c_str());
}

bool addEmbeddedScene(SceneLibrary& library) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(kEmbeddedSceneBase64, 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                              nullptr) ||
        size == 0)
        return false;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr)
        return false;
    BYTE* bytes = static_cast<BYTE*>(GlobalLock(memory));
    const bool decoded =
        bytes != nullptr &&
        CryptStringToBinaryA(kEmbeddedSceneBase64, 0, CRYPT_STRING_BASE64, bytes, &size, nullptr, nullptr);
    if (bytes != nullptr)
        GlobalUnlock(memory);
    if (!decoded) {
        GlobalFree(memory);
        return false;
    }
    IStream* stream = streamOverMemory(memory);
    return stream != nullptr && createScene(library, stream, kEmbeddedSceneName, kEmbeddedScenePath);
}

bool loadScenes(SceneLibrary& library, const wchar_t* programFolder, const wchar_t* background) {
    emptySceneLibrary(library);

    std::wstring folder;
    if (fullPathOf(programFolder, folder)) {
        // A drive root such as "C:\" keeps its backslash.
        while (folder.size() >= 4 && folder.back() == L'\\')
            folder.pop_back();
        const std::wstring assets = folder + (folder.back() == L'\\' ? L"assets" : L"\\assets");

        HANDLE handle = CreateFileW(assets.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            if (isContainedFolder(handle, assets)) {
                if (isValidSceneName(background))
                    loadSceneFile(library, assets, background);
                for (const wchar_t* name : kFixedSceneNames)
                    loadSceneFile(library, assets, name);
            }
            CloseHandle(handle);
        }
    }

    if (library.scenes.empty())
        addEmbeddedScene(library);

    const uint64_t now = GetTickCount64();
    library.clock = library.currentShownAt = library.previousShownAt = library.lastAdvanceAt = now;
    return !library.scenes.empty();
}
