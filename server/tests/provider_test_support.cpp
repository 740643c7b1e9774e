#include "provider_test_support.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string controlAddress() {
    const char* address = std::getenv("ORVANE_PROVIDERS_CONTROL");
    return address != nullptr ? address : "";
}

} // namespace

Fetched fetch(const std::string& url, const std::string* postBody) {
    Fetched fetched;
    CURL* curl = curl_easy_init();
    if (curl == nullptr)
        return fetched;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &fetched.body);
    if (postBody != nullptr) {
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->c_str());
    }
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &fetched.status);
        char* location = nullptr;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
        fetched.location = location != nullptr ? location : "";
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return fetched;
}

nlohmann::json controlGet(const std::string& path) {
    Fetched fetched = fetch("http://" + controlAddress() + path);
    EXPECT_EQ(fetched.status, 200) << "control GET " << path << " (is ORVANE_PROVIDERS_CONTROL set?)";
    return nlohmann::json::parse(fetched.body, nullptr, false);
}

nlohmann::json controlPost(const std::string& path, const nlohmann::json& document) {
    std::string body = document.dump();
    Fetched fetched = fetch("http://" + controlAddress() + path, &body);
    EXPECT_EQ(fetched.status, 200) << "control POST " << path << ": " << fetched.body;
    return nlohmann::json::parse(fetched.body, nullptr, false);
}

nlohmann::json receivedRequests() {
    return controlGet("/log")["requests"];
}

ParsedUrl parseWithCurl(const std::string& url) {
    ParsedUrl parsed;
    CURLU* handle = curl_url();
    EXPECT_EQ(curl_url_set(handle, CURLUPART_URL, url.c_str(), 0), CURLUE_OK) << url;
    auto part = [&](CURLUPart which, std::string& out) {
        char* text = nullptr;
        if (curl_url_get(handle, which, &text, 0) == CURLUE_OK && text != nullptr)
            out = text;
        curl_free(text);
    };
    std::string rawQuery;
    part(CURLUPART_SCHEME, parsed.scheme);
    part(CURLUPART_USER, parsed.user);
    part(CURLUPART_HOST, parsed.host);
    part(CURLUPART_PORT, parsed.port);
    part(CURLUPART_PATH, parsed.path);
    part(CURLUPART_QUERY, rawQuery);
    curl_url_cleanup(handle);
    auto unescape = [](const std::string& text) {
        int length = 0;
        char* plain = curl_easy_unescape(nullptr, text.c_str(), static_cast<int>(text.size()), &length);
        std::string out(plain, static_cast<std::size_t>(length));
        curl_free(plain);
        return out;
    };
    std::size_t start = 0;
    while (start <= rawQuery.size() && !rawQuery.empty()) {
        std::size_t end = std::min(rawQuery.find('&', start), rawQuery.size());
        std::string piece = rawQuery.substr(start, end - start);
        std::size_t equals = std::min(piece.find('='), piece.size());
        parsed.query.emplace_back(unescape(piece.substr(0, equals)),
                                  unescape(equals < piece.size() ? piece.substr(equals + 1) : ""));
        start = end + 1;
    }
    return parsed;
}

QueryParams queryOf(const std::string& url) {
    QueryParams query;
    std::size_t mark = url.find('?');
    EXPECT_NE(mark, std::string::npos) << "no query in the URL";
    EXPECT_TRUE(parseQuery(mark == std::string::npos ? "" : url.substr(mark + 1), query))
        << "malformed query";
    return query;
}

std::string valueOf(const QueryParams& query, const std::string& name) {
    for (const auto& [key, value] : query)
        if (key == name)
            return value;
    return "";
}

void setValue(QueryParams& query, const std::string& name, const std::string& value) {
    for (auto& [key, existing] : query)
        if (key == name)
            existing = value;
}

std::vector<nlohmann::json> FakeProviders::requestsTo(const std::string& host, const std::string& method) {
    std::vector<nlohmann::json> found;
    for (const auto& request : receivedRequests())
        if (request["host"] == host && request["method"] == method)
            found.push_back(request);
    return found;
}

QueryParams FakeProviders::formOf(const nlohmann::json& request) {
    QueryParams form;
    for (const auto& pair : request["form"])
        form.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
    return form;
}

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!initProviderHttps())
        return 1;
    return RUN_ALL_TESTS();
}
