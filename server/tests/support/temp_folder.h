#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at the end of the test.
#include <filesystem>
#include <string>

#include <stdlib.h>

struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orvane-service-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};
