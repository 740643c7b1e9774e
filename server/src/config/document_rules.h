#pragma once
// What the launcher accepts in the service's documents. Configuration values are held to these limits
// when the service starts, and provider names before they are stored, so every answer fits.
#include <cstddef>
#include <string>

namespace limits {
constexpr std::size_t DocumentBytes = 131072;
constexpr std::size_t NewsItems = 25;
constexpr std::size_t NewsTitleBytes = 1024;
constexpr std::size_t NewsBodyBytes = 16000;
constexpr std::size_t AccountIdMin = 16;
constexpr std::size_t AccountIdMax = 24;
constexpr std::size_t DisplayNameUnits = 200;
constexpr std::size_t DisplayNameBytes = 512;
constexpr std::size_t LinkUrlBytes = 8192;
// The launcher's window keeps the community URL and the game server address in fixed fields of 510 and
// 191 UTF-16 units, one of them the terminator, and builds steam://connect/<host>:<port> from the address.
constexpr std::size_t CommunityUrlBytes = 509;
constexpr std::size_t ServerAddressBytes = 190;
// An admin's note on a ban, shown to admins only.
constexpr std::size_t BanReasonBytes = 200;
} // namespace limits

bool isValidUtf8(const std::string& text);
// UTF-16 code units of valid UTF-8 text.
std::size_t utf16Units(const std::string& text);
// Valid UTF-8 without NUL, DEL or other control characters; TAB, LF and CR only when allowed.
bool isCleanText(const std::string& text, bool allowLineBreaks);
// 1 to BanReasonBytes of clean text on one line.
bool isBanReason(const std::string& text);
// 2026-10-08T17:00:00Z, with an optional fraction, or a positive offset; 20-40 characters.
bool isTimestamp(const std::string& text);
std::string timestampOf(long long unixSeconds);
// Empty, or host:port with one colon: letters, digits, '-' and '.', and a port of 1-65535.
bool isServerAddress(const std::string& text);
// Empty, or an https:// URL of visible ASCII without user information.
bool isCommunityUrl(const std::string& text);
