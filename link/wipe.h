#pragma once
#include <windows.h>

#include <string>

// Secrets (the session token, bodies and headers that carried it) are zeroed before their memory
// goes back to the heap. The whole capacity is cleared, not just the current length, because
// earlier contents may sit beyond it.
inline void wipeString(std::string& text) {
    text.resize(text.capacity());
    SecureZeroMemory(text.data(), text.size());
    text.clear();
}

inline void wipeString(std::wstring& text) {
    text.resize(text.capacity());
    SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
    text.clear();
}
