// Feeds mutated service documents through parseServiceDocument and every reader, and checks that a
// refused document never changes the LinkState and an accepted one stays within the limits.
//
//   link_mutation_run [documents] [seed]     (default 1,000,000 documents, seed 20261008)
//
// Deterministic for a given seed. Prints its figures; exits 1 on the first broken rule.
#include "link/service_documents.h"
#include "link/url_policy.h"
#include "link_test_support.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }
};

std::vector<json> samples() {
    const json item = {{"id", 1},
                       {"title", "Comunidad"},
                       {"body", "Texto\nsegunda l\xC3\xADnea\tcon tabulador\r\n"},
                       {"published_at", "2026-10-08T17:00:00Z"}};
    json config = {{"server_address", "203.0.113.7:27015"},
                   {"community_url", "https://orvanegaming.com:8443/foro#noticias"},
                   {"require_linking", true},
                   {"discord_enabled", true},
                   {"news", json::array({item})}};
    json wide = config;
    wide["server_address"] = "[2001:db8::1]:27015";
    wide["news"][0]["title"] = fourByteText(158);
    wide["news"][0]["body"] = fourByteText(1190);
    json many = config;
    many["server_address"] = "";
    many["community_url"] = "";
    for (int id = 2; id <= 25; ++id) {
        json next = item;
        next["id"] = id;
        next["published_at"] = "2026-10-08T19:00:00+02:00";
        many["news"].push_back(next);
    }
    const json steam = {{"id", "76561198000000001"}, {"display_name", "Jugador"}};
    const json discord = {{"id", "123456789012345678"}, {"display_name", fourByteText(100)}};
    return {
        config,
        wide,
        many,
        {{"steam", steam}, {"discord", discord}, {"ready", true}, {"expires_at", "2026-10-09T17:00:00Z"}},
        {{"steam", nullptr}, {"discord", nullptr}, {"ready", true}, {"expires_at", "2026-10-09T17:00:00Z"}},
        {{"token", "abcdefghijklmnopqrstuvwxyz0123456789_-ABCDE"}, {"expires_at", "2026-11-08T17:00:00.5Z"}},
        {{"url", "https://steamcommunity.com/openid/login?openid.mode=checkid_setup"}},
    };
}

// Every node of the tree, so one can be picked at random.
void collect(json& node, std::vector<json*>& nodes) {
    nodes.push_back(&node);
    if (node.is_structured())
        for (json& child : node)
            collect(child, nodes);
}

const char* const kRawNumbers[] = {
    "1e999",
    "-1e999",
    "123456789012345678901234567890",
    "18446744073709551616",
    "-9223372036854775809",
    "0.0",
    "-0",
    "1.0",
    "1e2",
    "4.9e-324",
    "9007199254740993",
    "0x10",
    "01",
    "+1",
    ".5",
    "1.",
    "NaN",
};
const char* const kInvalidUtf8[] = {
    "\xC0\x80",     "\xED\xA0\x80", "\xF5\x80\x80\x80", "\x80",
    "\xF0\x9F\x98", "\xFF",         "\xF4\x90\x80\x80", "\xC3",
};
const char* const kOddStrings[] = {
    "",
    "true",
    "0",
    "2026-10-08 17:00:00Z",
    "2026-10-08T17:00:00z",
    "javascript:alert(1)",
    "203.0.113.7:27015 +exec evil",
    "https://discord.com/oauth2/authorize?state=x",
    "\\u0000",
};

// Changes one node of the tree; returns a raw number text to splice in for the placeholder, if any.
std::string mutateTree(json& document, Random& random) {
    std::vector<json*> nodes;
    collect(document, nodes);
    json& node = *nodes[random.below(nodes.size())];
    switch (random.below(9)) {
    case 0: { // nesting around the limit; far past it as text, so no deep tree is ever built here
        if (random.chance(10)) {
            const size_t depth = 41 + random.below(5000);
            node = "@@RAW@@";
            return std::string(depth, '[') + "0" + std::string(depth, ']');
        }
        for (size_t i = 0, depth = 1 + random.below(20); i < depth; ++i) {
            json wrapper = random.chance(50) ? json::array() : json::object();
            if (wrapper.is_array())
                wrapper.push_back(std::move(node));
            else
                wrapper["n"] = std::move(node);
            node = std::move(wrapper);
        }
        return {};
    }
    case 1: {
        static const json values[] = {
            nullptr, true, false, 0, -1, 1.5, 18446744073709551615ull, json::array(), json::object(), 1e308};
        node = values[random.below(std::size(values))];
        return {};
    }
    case 2:
        node = "@@RAW@@";
        return kRawNumbers[random.below(std::size(kRawNumbers))];
    case 3:
        node = kOddStrings[random.below(std::size(kOddStrings))];
        return {};
    case 4: // lengths around the limits
        if (node.is_string()) {
            static const size_t targets[] = {24,  25,   40,   41,   200,  201,  255,  256,   512,
                                             513, 1024, 1025, 2048, 2049, 8192, 8193, 16000, 16001};
            const size_t target = targets[random.below(std::size(targets))];
            node = random.chance(50) ? std::string(target, 'x') : fourByteText(target / 4 + random.below(2));
        }
        return {};
    case 5: // members around the count limit
        if (node.is_object())
            for (size_t i = 0, extra = random.below(70); i < extra; ++i)
                node["extra" + std::to_string(i)] = static_cast<int>(i);
        return {};
    case 6:
        if (node.is_object() && !node.empty()) {
            auto it = node.begin();
            std::advance(it, static_cast<long>(random.below(node.size())));
            node.erase(it);
        }
        return {};
    case 7:
        if (node.is_array())
            for (size_t i = 0, extra = random.below(30); i < extra; ++i)
                node.push_back(node.empty() ? json(1) : node[random.below(node.size())]);
        return {};
    default:
        if (node.is_string())
            node = node.get<std::string>() + "\t\x01\x7F";
        return {};
    }
}

void spliceRaw(std::string& text, const std::string& raw) {
    const size_t at = text.find("\"@@RAW@@\"");
    if (at != std::string::npos)
        text.replace(at, 9, raw);
}

// Byte-level damage after serialising: flips, cuts, duplicate keys, invalid UTF-8 inside a string.
void mutateText(std::string& text, Random& random) {
    switch (random.below(6)) {
    case 0:
        for (size_t i = 0, flips = 1 + random.below(4); i < flips && !text.empty(); ++i)
            text[random.below(text.size())] ^= static_cast<char>(1u << random.below(8));
        break;
    case 1:
        text.resize(random.below(text.size() + 1));
        break;
    case 2: { // a duplicate of a member the readers look at, before or after the original
        static const char* const keys[] = {"\"ready\":\"true\"",
                                           "\"news\":[]",
                                           "\"require_linking\":1",
                                           "\"steam\":{}",
                                           "\"token\":\"x\"",
                                           "\"url\":\"http://evil\"",
                                           "\"server_address\":\"a b:1\"",
                                           "\"expires_at\":null"};
        const std::string member = keys[random.below(std::size(keys))];
        if (text.size() > 2 && random.chance(50))
            text.insert(1, member + ",");
        else if (text.size() > 2)
            text.insert(text.size() - 1, "," + member);
        break;
    }
    case 3: { // invalid UTF-8 right after an opening quote
        const size_t quote = text.find('"', random.below(text.size() + 1));
        if (quote != std::string::npos)
            text.insert(quote + 1, kInvalidUtf8[random.below(std::size(kInvalidUtf8))]);
        break;
    }
    case 4:
        text.insert(random.below(text.size() + 1), std::string(1, static_cast<char>(random.below(256))));
        break;
    default: // padding up to and past the body limit
        if (random.chance(20) && text.size() > 2 && text.size() < 131062)
            text.insert(text.size() - 1,
                        ",\"pad\":\"" + std::string(131072 - 10 - text.size() + random.below(3), 'p') + "\"");
        break;
    }
}

struct Figures {
    unsigned long long documents = 0, parsed = 0, accepted = 0, rejected = 0;
    unsigned long long config = 0, status = 0, session = 0, link = 0;
};

bool fail(const char* rule, const std::string& text) {
    std::fprintf(stderr, "broken rule: %s\ndocument (%zu bytes): %.400s\n", rule, text.size(), text.c_str());
    return false;
}

bool checkDocument(const std::string& text, Figures& figures) {
    const ServiceJson document = parseServiceDocument(text);
    if (!document.is_null() && !document.is_object())
        return fail("parseServiceDocument returned neither an object nor null", text);
    if (document.is_object()) {
        ++figures.parsed;
        if (text.empty() || text.size() > kMaxDocumentBytes || document.size() > kMaxDocumentMembers)
            return fail("a document beyond the size or member limits was parsed", text);
    }
    const LinkState sentinel = sentinelLinkState();
    bool anyAccepted = false;

    LinkState state = sentinel;
    if (parseConfig(document, state)) {
        anyAccepted = true;
        ++figures.config;
        if (!state.configLoaded || state.newsTitle.size() > 1024 || state.newsBody.size() > 16000 ||
            state.communityUrl.size() > 2048 || state.serverAddress.size() > 255)
            return fail("accepted configuration beyond its limits", text);
        std::string address(state.serverAddress.begin(), state.serverAddress.end());
        if (!address.empty() && !isServerAddressWellFormed(address))
            return fail("accepted configuration with a malformed server address", text);
        if (state.steamName != sentinel.steamName || state.message != sentinel.message)
            return fail("configuration reader wrote fields it does not own", text);
    } else if (!sameLinkState(state, sentinel)) {
        return fail("refused configuration changed the state", text);
    }

    state = sentinel;
    state.requireLinking = true;
    const LinkState before = state;
    if (parseLinkStatus(document, state)) {
        anyAccepted = true;
        ++figures.status;
        if (state.steamName.size() > 200 || state.discordName.size() > 200 ||
            state.steamLinked == state.steamName.empty() ||
            state.discordLinked == state.discordName.empty() ||
            (state.ready && !(state.steamLinked && state.discordLinked)))
            return fail("accepted link status breaks its rules", text);
    } else if (!sameLinkState(state, before)) {
        return fail("refused link status changed the state", text);
    }

    ServiceJson copy = document;
    SessionToken token;
    if (parseSession(copy, token)) {
        anyAccepted = true;
        ++figures.session;
        if (token.length != 43 || !isTokenWellFormed(token.view()))
            return fail("accepted session token of another shape", text);
    } else if (!token.empty()) {
        return fail("refused session left a token", text);
    }

    std::string url;
    if (parseLinkUrl(document, url)) {
        anyAccepted = true;
        ++figures.link;
        if (url.empty() || url.size() > 8192 || utf8ToWide(url).empty())
            return fail("accepted link URL beyond its rules", text);
    }

    if (anyAccepted)
        ++figures.accepted;
    else
        ++figures.rejected;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long long documents = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000ull;
    Random random{argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261008ull};
    const std::vector<json> bases = samples();
    std::vector<std::string> baseTexts;
    for (const json& base : bases)
        baseTexts.push_back(base.dump());

    Figures figures;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (unsigned long long n = 0; n < documents; ++n) {
        const size_t pick = random.below(bases.size());
        std::string text;
        if (n % 8 == 0) {
            text = baseTexts[pick]; // the samples themselves, lightly damaged or not at all
            if (random.chance(50))
                mutateText(text, random);
        } else {
            json document = bases[pick];
            std::string raw;
            for (size_t i = 0, changes = 1 + random.below(3); i < changes; ++i) {
                std::string next = mutateTree(document, random);
                if (!next.empty())
                    raw = next;
            }
            text = document.dump();
            if (!raw.empty())
                spliceRaw(text, raw);
            if (random.chance(40))
                mutateText(text, random);
        }
        ++figures.documents;
        if (!checkDocument(text, figures))
            return 1;
    }
    QueryPerformanceCounter(&end);
    const double seconds =
        static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("documents %llu accepted %llu rejected %llu seconds %.1f\n", figures.documents,
                figures.accepted, figures.rejected, seconds);
    std::printf(
        "parsed as objects %llu; accepted by parseConfig %llu, parseLinkStatus %llu, parseSession %llu, "
        "parseLinkUrl %llu\n",
        figures.parsed, figures.config, figures.status, figures.session, figures.link);
    return 0;
}
