#pragma once
#include "link/link_state.h"
#include "link/session_token.h"
#include "link/wipe.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Readers of the link service's JSON answers. A document is accepted whole or refused whole: a
// refused document never changes the LinkState it was read into.

inline constexpr size_t kMaxDocumentBytes = 131072;
inline constexpr int kMaxDocumentDepth = 16;
inline constexpr size_t kMaxDocumentMembers = 64;
inline constexpr size_t kMaxNewsItems = 25;

// Any answer may carry the session token, so parsed documents, and the parser's own text buffers,
// live in memory that is zeroed when released.
using ServiceText = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;
using ServiceJson = nlohmann::basic_json<std::map, std::vector, ServiceText, bool, std::int64_t,
                                         std::uint64_t, double, WipingAllocator>;

// The parsed body when it is an object of at most 64 members nested at most 16 deep; null otherwise.
ServiceJson parseServiceDocument(std::string_view body);

// The configuration document: server address, community URL (one the window can open), linking rules
// and the first news item.
bool parseConfig(const ServiceJson& document, LinkState& state);

// The link status document; readiness also depends on state.configLoaded and requiredLinksPresent.
bool parseLinkStatus(const ServiceJson& document, LinkState& state);

// null (not linked) or an account object with a numeric id and a display name.
bool parseAccount(const ServiceJson& value, bool& linked, std::wstring& name);

// The session document: a 43-character well-formed token and a timestamp. The document's copy of
// the token is zeroed, accepted or not; token receives it only on success.
bool parseSession(ServiceJson& document, SessionToken& token);

// The link document's url: 1 to 900 bytes of text. Whether the page is allowed is the caller's rule.
bool parseLinkUrl(const ServiceJson& document, std::string& url);

// A string member within maxBytes, with no NUL, DEL or control bytes (TAB, LF and CR only when
// allowed), empty only when allowed, and valid UTF-8.
bool getStringField(const ServiceJson& object, const char* key, std::string& out, size_t maxBytes,
                    bool allowEmpty, bool allowControls);

bool getBoolField(const ServiceJson& object, const char* key, bool& out);

// An ISO 8601 shaped UTC or positive-offset timestamp; never converted to a time.
bool isTimestamp(std::string_view text);

// Strict UTF-8 to UTF-16; empty for empty or invalid input.
std::wstring utf8ToWide(std::string_view text);
