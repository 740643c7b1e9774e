#include "link/service_documents.h"

#include "link/parser_input.h"
#include "link/shell_url.h"
#include "link/url_policy.h"
#include "link/wipe.h"

#include <windows.h>

#include <cstdint>

using json = ServiceJson;

namespace {

constexpr size_t kMaxTitleBytes = 1024;
constexpr size_t kMaxBodyBytes = 16000;
constexpr size_t kMaxTimestampBytes = 40;
constexpr size_t kMaxNameUnits = 200;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// RFC 3629 UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. Checked here as well as by
// the conversion, so the verdict does not depend on the platform's converter.
bool isStrictUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t extra = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (n - i - 1 < extra)
            return false;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (size_t k = 2; k <= extra; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return false;
        i += extra + 1;
    }
    return true;
}

// The UTF-16 length of strictly valid UTF-8, 0 for empty or invalid text. Only counts: a check that
// converted would leave a copy of the text (perhaps the token) behind.
int wideLength(std::string_view text) {
    if (text.empty() || text.size() > 0x7FFFFFFF || !isStrictUtf8(text))
        return 0;
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                          static_cast<int>(text.size()), nullptr, 0);
    return units > 0 ? units : 0;
}

bool isPositiveInteger(const json& value) {
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>() > 0;
    if (value.is_number_integer())
        return value.get<std::int64_t>() > 0;
    return false;
}

bool readNewsItem(const json& item, std::string& title, std::string& body) {
    if (!item.is_object())
        return false;
    const auto id = item.find("id");
    if (id == item.end() || !isPositiveInteger(*id))
        return false;
    std::string published;
    return getStringField(item, "title", title, kMaxTitleBytes, false, false) &&
           getStringField(item, "body", body, kMaxBodyBytes, true, true) &&
           getStringField(item, "published_at", published, kMaxTimestampBytes, false, false) &&
           isTimestamp(published);
}

bool readTimestamp(const json& object, const char* key) {
    std::string text;
    return getStringField(object, key, text, kMaxTimestampBytes, false, false) && isTimestamp(text);
}

} // namespace

std::wstring utf8ToWide(std::string_view text) {
    const int units = wideLength(text);
    if (units == 0)
        return {};
    std::wstring wide(static_cast<size_t>(units), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                            wide.data(), units) != units) {
        wipeString(wide);
        return {};
    }
    return wide;
}

json parseServiceDocument(std::string_view body) {
    if (body.empty() || body.size() > kMaxDocumentBytes)
        return nullptr;
    // The parser takes a NUL byte for the end of the input and would accept whatever precedes it; JSON
    // text never contains one.
    if (body.find('\0') != std::string_view::npos)
        return nullptr;
    bool tooDeep = false;
    const json::parser_callback_t limitDepth = [&tooDeep](int depth, json::parse_event_t, json&) {
        if (depth <= kMaxDocumentDepth)
            return true;
        tooDeep = true;
        return false;
    };
    const ParserInput first(body.data());
    const ParserInput last(body.data() + body.size());
    json document = json::parse(first, last, limitDepth, false, false);
    if (tooDeep || document.is_discarded() || !document.is_object() || document.size() > kMaxDocumentMembers)
        return nullptr;
    return document;
}

bool getStringField(const json& object, const char* key, std::string& out, size_t maxBytes, bool allowEmpty,
                    bool allowControls) {
    if (!object.is_object())
        return false;
    const auto member = object.find(key);
    if (member == object.end() || !member->is_string())
        return false;
    const ServiceText& text = member->get_ref<const ServiceText&>();
    if (text.size() > maxBytes)
        return false;
    if (text.empty()) {
        if (!allowEmpty)
            return false;
        out.clear();
        return true;
    }
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == 0 || c == 127)
            return false;
        if (c < 32 && !(allowControls && (c == 9 || c == 10 || c == 13)))
            return false;
    }
    if (wideLength(text) == 0)
        return false;
    // Zeroed first: a smaller block given up to make room could hold an earlier secret.
    wipeString(out);
    out.assign(text.data(), text.size());
    return true;
}

bool getBoolField(const json& object, const char* key, bool& out) {
    if (!object.is_object())
        return false;
    const auto member = object.find(key);
    if (member == object.end() || !member->is_boolean())
        return false;
    out = member->get<bool>();
    return true;
}

bool isTimestamp(std::string_view text) {
    if (text.size() < 20 || text.size() > 40)
        return false;
    if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':')
        return false;
    for (char c : text)
        if (!isDigit(c) && c != '+' && c != '-' && c != '.' && c != ':' && c != 'T' && c != 'Z')
            return false;
    if (text.back() == 'Z')
        return true;
    const size_t plus = text.find('+', 19);
    return plus != std::string_view::npos;
}

bool parseConfig(const json& document, LinkState& state) {
    if (!document.is_object())
        return false;
    std::string server;
    std::string community;
    bool requireLinking = true;
    bool discordEnabled = false;
    if (!getStringField(document, "server_address", server, 255, true, false))
        return false;
    if (!server.empty() && !isServerAddressWellFormed(server))
        return false;
    if (!getStringField(document, "community_url", community, kCommunityUrlMaxLength, true, false) ||
        !getBoolField(document, "require_linking", requireLinking) ||
        !getBoolField(document, "discord_enabled", discordEnabled))
        return false;
    std::wstring communityUrl;
    if (!community.empty()) {
        communityUrl = utf8ToWide(community);
        // Refused here, not at the button: a page the window would never open is no configuration.
        UrlParts parts;
        if (communityUrl.empty() || !crackHttpsUrl(communityUrl.c_str(), parts, false, true) ||
            !isValidCommunityUrl(communityUrl.c_str()))
            return false;
    }

    const auto news = document.find("news");
    if (news == document.end() || !news->is_array() || news->size() > kMaxNewsItems)
        return false;
    std::wstring newsTitle;
    std::wstring newsBody;
    bool first = true;
    for (const json& item : *news) {
        std::string title;
        std::string body;
        if (!readNewsItem(item, title, body))
            return false;
        if (first) {
            newsTitle = utf8ToWide(title);
            newsBody = utf8ToWide(body);
            first = false;
        }
    }

    state.serverAddress = utf8ToWide(server);
    state.communityUrl = std::move(communityUrl);
    state.requireLinking = requireLinking;
    state.discordEnabled = discordEnabled;
    state.newsTitle = std::move(newsTitle);
    state.newsBody = std::move(newsBody);
    state.configLoaded = true;
    return true;
}

bool parseAccount(const json& value, bool& linked, std::wstring& name) {
    if (value.is_null()) {
        linked = false;
        name.clear();
        return true;
    }
    if (!value.is_object())
        return false;
    std::string id;
    std::string displayName;
    if (!getStringField(value, "id", id, 24, false, false) || id.size() < 16)
        return false;
    for (char c : id)
        if (!isDigit(c))
            return false;
    if (!getStringField(value, "display_name", displayName, 512, false, false))
        return false;
    std::wstring wide = utf8ToWide(displayName);
    if (wide.empty() || wide.size() > kMaxNameUnits)
        return false;
    linked = true;
    name = std::move(wide);
    return true;
}

bool parseLinkStatus(const json& document, LinkState& state) {
    if (!document.is_object() || !document.contains("steam") || !document.contains("discord"))
        return false;
    bool ready = false;
    if (!readTimestamp(document, "expires_at") || !getBoolField(document, "ready", ready))
        return false;
    bool steamLinked = false;
    bool discordLinked = false;
    std::wstring steamName;
    std::wstring discordName;
    if (!parseAccount(*document.find("steam"), steamLinked, steamName) ||
        !parseAccount(*document.find("discord"), discordLinked, discordName))
        return false;
    state.steamLinked = steamLinked;
    state.discordLinked = discordLinked;
    state.steamName = std::move(steamName);
    state.discordName = std::move(discordName);
    state.ready = ready && state.configLoaded && requiredLinksPresent(state);
    return true;
}

bool parseSession(json& document, SessionToken& token) {
    if (!document.is_object())
        return false;
    std::string candidate;
    const bool accepted = getStringField(document, "token", candidate, 512, false, false) &&
                          candidate.size() == 43 && isTokenWellFormed(candidate) &&
                          readTimestamp(document, "expires_at");
    if (accepted)
        token.assign(candidate);
    wipeString(candidate);
    const auto member = document.find("token");
    if (member != document.end() && member->is_string())
        wipeString(member->get_ref<ServiceText&>());
    return accepted;
}

bool parseLinkUrl(const json& document, std::string& url) {
    return getStringField(document, "url", url, kAuthorizationUrlMaxLength, false, false);
}
