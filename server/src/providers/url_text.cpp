// Percent-encoding and UTF-8 measuring for the provider flows.
#include "providers/providers_internal.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

template <typename Out> void encodeInto(Out& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
}

} // namespace

void wipeMemory(void* data, std::size_t size) {
    if (data != nullptr && size > 0)
        OPENSSL_cleanse(data, size);
}

std::string percentEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    encodeInto(out, text);
    return out;
}

void appendPercentEncoded(SecretString& out, std::string_view text) {
    encodeInto(out, text);
}

std::string formEncode(const QueryParams& pairs) {
    std::string out;
    for (const auto& [key, value] : pairs) {
        if (!out.empty())
            out.push_back('&');
        encodeInto(out, key);
        out.push_back('=');
        encodeInto(out, value);
    }
    return out;
}

bool hasRepeatedNames(const QueryParams& query) {
    for (std::size_t i = 0; i < query.size(); ++i)
        for (std::size_t k = i + 1; k < query.size(); ++k)
            if (query[i].first == query[k].first)
                return true;
    return false;
}

bool exceedsQueryBounds(const QueryParams& query) {
    std::size_t bytes = 0;
    for (const auto& [key, value] : query)
        bytes += key.size() + value.size();
    return query.size() > kMaxQueryParams || bytes > kMaxQueryLength;
}

bool isUnreservedText(std::string_view text, std::size_t minLength, std::size_t maxLength) {
    return text.size() >= minLength && text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return isUnreserved(static_cast<unsigned char>(c)); });
}

bool isAsciiDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long utf16Length(std::string_view text) {
    long units = 0;
    for (std::size_t i = 0; i < text.size();) {
        auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
        unsigned char lead = byte(i);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        if (length == 0 || i + length > text.size())
            return -1;
        char32_t value = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            if ((byte(i + k) & 0xC0) != 0x80)
                return -1;
            value = (value << 6) | (byte(i + k) & 0x3F);
        }
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return -1;
        units += value >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}
