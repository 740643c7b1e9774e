#pragma once
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include "app/owned.h"
#include "scenes/downscale.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct SceneAttributes {
    OwnedImageAttributes handle;
    Gdiplus::GpStatus status = Gdiplus::GenericError;
};

// One decoded picture, released with it. The bitmap reads from the stream, so the stream is declared
// first and goes last; a picture larger than the library's bound is kept as a downscaled copy
// instead, without a stream.
struct Scene {
    OwnedStream stream;
    OwnedBitmap image;
    std::wstring name;
    std::wstring path;
    uint32_t width = 0;
    uint32_t height = 0;
    SceneAttributes opaqueAttributes;
    SceneAttributes fadeAttributes;
};

// The carousel's pictures (at most four) and its playback clock; UI thread only.
struct SceneLibrary {
    std::vector<std::unique_ptr<Scene>> scenes;
    uint32_t current = 0;
    uint32_t previous = 0;
    bool fading = false;
    bool paused = false;
    uint64_t clock = 0;
    uint64_t currentShownAt = 0;
    uint64_t previousShownAt = 0;
    uint64_t lastAdvanceAt = 0;
    uint64_t fadeStartedAt = 0;
    uint64_t pausedAt = 0;
    // Pictures are kept no larger than this (set before loading; 0 x 0 keeps them whole), so a huge
    // picture costs memory by the screen, not by the file.
    SceneBound bound;

    SceneLibrary() = default;
    SceneLibrary(const SceneLibrary&) = delete;
    SceneLibrary& operator=(const SceneLibrary&) = delete;
    ~SceneLibrary();
};

inline constexpr uint32_t kMaxSceneSide = 16384;
inline constexpr uint64_t kMaxScenePixels = 64000000;
inline constexpr uint64_t kMaxSceneFileBytes = 64ull * 1024 * 1024;
inline constexpr wchar_t kEmbeddedSceneName[] = L"orvane-scene.jpg";
inline constexpr wchar_t kEmbeddedScenePath[] = L"embedded:scene";

// Replaces the library's content from "<programFolder>\assets", falling back on the built-in picture.
// True when at least one scene is loaded.
bool loadScenes(SceneLibrary& library, const wchar_t* programFolder, const wchar_t* background);
void emptySceneLibrary(SceneLibrary& library);
void destroySceneLibrary(SceneLibrary& library);

bool isValidSceneName(const wchar_t* name);
std::wstring canonicalPath(const std::wstring& path);

// Each returns whether a scene was appended; a refusal leaves the library unchanged.
bool loadSceneFile(SceneLibrary& library, const std::wstring& assetsFolder, const wchar_t* name);
bool createScene(SceneLibrary& library, IStream* stream, const wchar_t* name, const wchar_t* path);
bool addEmbeddedScene(SceneLibrary& library);
