#include "config/query_text.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool decodeComponent(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] != '%') {
            out.push_back(text[i]);
        } else {
            if (i + 2 >= text.size())
                return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        }
    }
    return true;
}

} // namespace

bool parseQuery(std::string_view raw, QueryParams& out) {
    out.clear();
    if (raw.size() > kMaxQueryLength)
        return false;
    while (!raw.empty()) {
        const std::size_t end = raw.find('&');
        const std::string_view piece = raw.substr(0, end);
        raw = end == std::string_view::npos ? std::string_view() : raw.substr(end + 1);
        if (piece.empty())
            continue;
        if (out.size() == kMaxQueryParams)
            return false;
        const std::size_t equals = piece.find('=');
        std::pair<std::string, std::string> pair;
        if (!decodeComponent(piece.substr(0, equals), pair.first))
            return false;
        if (equals != std::string_view::npos && !decodeComponent(piece.substr(equals + 1), pair.second))
            return false;
        out.push_back(std::move(pair));
    }
    return true;
}

std::string onlyValue(const QueryParams& params, std::string_view name) {
    std::string value;
    int count = 0;
    for (const auto& [key, each] : params)
        if (key == name && ++count == 1)
            value = each;
    return count == 1 ? value : std::string();
}
