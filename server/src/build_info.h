#pragma once
// What `orvane-link-service --version` prints: set by the build (server/cmake/build_info.cmake).
extern const char* const BuildVersion;
extern const char* const BuildCommit; // 12 hex digits, with "-modified" for a tree with changes
