// The service's only outbound calls: to Steam and Discord, over verified TLS, bounded in time and size.
#include "providers/providers_internal.h"

#include <curl/curl.h>
#include <malloc.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr long kConnectTimeoutMs = 5000;
constexpr long kTotalTimeoutMs = 10000;
constexpr std::size_t kMaxAnswerBytes = 64 * 1024;
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
// The path must follow the host directly, so no user part, port or look-alike host can slip in.
constexpr std::string_view kProviderOrigins[] = {"https://steamcommunity.com/", "https://discord.com/"};

void* plainMalloc(std::size_t size) {
    return std::malloc(size);
}
void* plainCalloc(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}

void wipingFree(void* block) {
    if (block != nullptr) {
        wipeMemory(block, malloc_usable_size(block));
        std::free(block);
    }
}

void* wipingRealloc(void* block, std::size_t size) {
    if (block == nullptr)
        return std::malloc(size);
    void* moved = std::malloc(size == 0 ? 1 : size);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
    wipingFree(block);
    return moved;
}

char* wipingStrdup(const char* text) {
    std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, text, size);
    return copy;
}

struct Collected {
    SecretString* body;
    std::size_t headerBytes = 0;
    bool tooLarge = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* collected = static_cast<Collected*>(user);
    std::size_t bytes = size * count;
    if (collected->body->size() + bytes > kMaxAnswerBytes) {
        collected->tooLarge = true;
        return 0;
    }
    collected->body->append(data, bytes);
    return bytes;
}

std::size_t onHeader(char*, std::size_t size, std::size_t count, void* user) {
    auto* collected = static_cast<Collected*>(user);
    collected->headerBytes += size * count;
    if (collected->headerBytes > kMaxHeaderBytes) {
        collected->tooLarge = true;
        return 0;
    }
    return size * count;
}

// Received plaintext (a Discord token) is not left in OpenSSL's record buffer.
CURLcode onSslContext(CURL*, void* context, void*) {
    SSL_CTX_set_options(static_cast<SSL_CTX*>(context), SSL_OP_CLEANSE_PLAINTEXT);
    return CURLE_OK;
}

bool isProviderUrl(std::string_view url) {
    return std::any_of(std::begin(kProviderOrigins), std::end(kProviderOrigins),
                       [&](std::string_view origin) { return url.starts_with(origin); });
}

} // namespace

bool initProviderHttps() {
    return curl_global_init_mem(CURL_GLOBAL_DEFAULT, plainMalloc, wipingFree, wipingRealloc, wipingStrdup,
                                plainCalloc) == CURLE_OK;
}

HttpsAnswer httpsExchange(const HttpsCall& call) {
    HttpsAnswer answer;
    if (!isProviderUrl(call.url)) {
        answer.failure = "not a provider URL";
        return answer;
    }
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        answer.failure = "libcurl could not start";
        return answer;
    }
    std::string url(call.url);
    Collected collected{&answer.body};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // never a proxy named by the environment
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTotalTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &collected);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &collected);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "orvane-link-service");
    curl_slist* headers = curl_slist_append(nullptr, "Expect:");
    SecretString authorization;
    if (headers != nullptr && !call.bearerToken.empty()) {
        authorization.append("Authorization: Bearer ").append(call.bearerToken);
        curl_slist* more = curl_slist_append(headers, authorization.c_str());
        if (more == nullptr)
            curl_slist_free_all(headers);
        headers = more;
    }
    if (headers == nullptr) {
        curl_easy_cleanup(curl);
        answer.failure = "out of memory";
        return answer;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (std::strcmp(call.method, "POST") == 0) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.formBody.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.formBody.size()));
    }
    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        answer.reached = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    } else {
        answer.failure = collected.tooLarge ? "answer too large" : curl_easy_strerror(result);
        answer.body.clear();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}
