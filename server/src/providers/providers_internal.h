#pragma once
// Pieces shared by the Steam and Discord flows; not part of the layer's interface.
#include "providers/provider_flows.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// Memory that held a secret (a code, a client secret, a bearer token) is zeroed before it is freed.
void wipeMemory(void* data, std::size_t size);

template <typename T> struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <typename U> WipingAllocator(const WipingAllocator<U>&) {}
    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) {
        wipeMemory(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }
    template <typename U> bool operator==(const WipingAllocator<U>&) const { return true; }
};
using SecretString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// Percent-encodes everything but RFC 3986's unreserved characters, so the result is printable ASCII
// holding none of the characters a browser or a shell might treat specially.
std::string percentEncode(std::string_view text);
void appendPercentEncoded(SecretString& out, std::string_view text);
// "key=value&..." with both sides percent-encoded.
std::string formEncode(const QueryParams& pairs);

bool hasRepeatedNames(const QueryParams& query);
// More pairs or bytes than parseQuery would ever produce: a query the callbacks refuse unread.
bool exceedsQueryBounds(const QueryParams& query);
bool isAsciiDigits(std::string_view text); // non-empty, 0-9 only

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF); answers the UTF-16 length, or -1.
long utf16Length(std::string_view text);

// One HTTPS exchange with a provider. Only the fixed provider origins are accepted; see outbound_https.cpp.
struct HttpsCall {
    const char* method = "GET";   // GET or POST
    std::string_view url;         // https://steamcommunity.com/... or https://discord.com/...
    std::string_view formBody;    // POST body, application/x-www-form-urlencoded
    std::string_view bearerToken; // sent as Authorization: Bearer when not empty
};
struct HttpsAnswer {
    bool reached = false; // a complete HTTP answer arrived within the bounds
    long status = 0;
    SecretString body;   // may hold a token
    std::string failure; // why it was not reached: libcurl's text, never a URL or a header
};
HttpsAnswer httpsExchange(const HttpsCall& call);
