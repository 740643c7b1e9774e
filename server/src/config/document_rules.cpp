#include "config/document_rules.h"

#include <cctype>
#include <ctime>

namespace {

// Length of the UTF-8 sequence at text[at], or 0 when it is not a valid, shortest-form scalar value.
std::size_t sequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned long value = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    const unsigned long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

bool isDigits(const std::string& text) {
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

bool isValidUtf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceAt(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::size_t utf16Units(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceAt(text, at);
        if (length == 0)
            return units;
        units += length == 4 ? 2 : 1;
        at += length;
    }
    return units;
}

bool isCleanText(const std::string& text, bool allowLineBreaks) {
    if (!isValidUtf8(text))
        return false;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0x7F)
            return false;
        if (byte < 0x20 && !(allowLineBreaks && (c == '\t' || c == '\n' || c == '\r')))
            return false;
    }
    return true;
}

bool isBanReason(const std::string& text) {
    return !text.empty() && text.size() <= limits::BanReasonBytes && isCleanText(text, false);
}

bool isTimestamp(const std::string& text) {
    if (text.size() < 20 || text.size() > 40)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        if (separator) {
            if (c != (i == 10 ? 'T' : (i < 10 ? '-' : ':')))
                return false;
        } else if (i < 19 && (c < '0' || c > '9')) {
            return false;
        } else if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' &&
                   c != ':' && c != 'T' && c != 'Z') {
            return false;
        }
    }
    if (text.back() == 'Z')
        return true;
    const std::size_t plus = text.find('+', 19);
    return plus != std::string::npos && text.find('-', 19) == std::string::npos;
}

std::string timestampOf(long long unixSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

bool isServerAddress(const std::string& text) {
    if (text.empty())
        return true;
    const std::size_t colon = text.find(':');
    if (text.size() > limits::ServerAddressBytes || colon == 0 || colon == std::string::npos ||
        text.find(':', colon + 1) != std::string::npos)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.')
            return false;
    }
    const std::string port = text.substr(colon + 1);
    return isDigits(port) && port.size() <= 5 && std::stoul(port) >= 1 && std::stoul(port) <= 65535;
}

bool isCommunityUrl(const std::string& text) {
    if (text.empty())
        return true;
    const std::string scheme = "https://";
    if (text.size() > limits::CommunityUrlBytes || text.compare(0, scheme.size(), scheme) != 0)
        return false;
    for (char c : text)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    const std::size_t authorityEnd = text.find_first_of("/?#", scheme.size());
    const std::string authority = text.substr(scheme.size(), authorityEnd - scheme.size());
    return !authority.empty() && authority.find('@') == std::string::npos && authority.front() != ':';
}
