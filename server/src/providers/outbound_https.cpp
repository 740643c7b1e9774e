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

bool isMethod(const char* method, const char* name) {
    return std::strcmp(method, name) == 0;
}

// delay-seconds, possibly with a fraction (rounded up); an HTTP date or anything else gives -1.
long retryAfterOf(CURL* curl) {
    constexpr long kLongest = 1L << 30;
    curl_header* header = nullptr;
    if (curl_easy_header(curl, "Retry-After", 0, CURLH_HEADER, -1, &header) != CURLHE_OK)
        return -1;
    std::string_view text = header->value;
    std::size_t point = std::min(text.find('.'), text.size());
    std::string_view whole = text.substr(0, point), fraction = text.substr(std::min(point + 1, text.size()));
    if (!isAsciiDigits(whole) || (point < text.size() && !isAsciiDigits(fraction)))
        return -1;
    long seconds = 0;
    for (char digit : whole)
        seconds = std::min(kLongest, seconds * 10 + (digit - '0'));
    bool partial = fraction.find_first_not_of('0') != std::string_view::npos;
    return partial ? seconds + 1 : seconds;
}

// The request's headers; null when one could not be added.
curl_slist* requestHeaders(const HttpsCall& call, SecretString& authorization) {
    std::string audit;
    if (!call.auditReason.empty())
        audit = "X-Audit-Log-Reason: " + percentEncode(call.auditReason);
    if (!call.token.empty())
        authorization.append("Authorization: ").append(call.tokenScheme).append(" ").append(call.token);
    curl_slist* headers = nullptr;
    // "Content-Type:" drops the form type libcurl would give PUT's empty body.
    for (const char* line : {"Expect:", isMethod(call.method, "PUT") ? "Content-Type:" : "",
                             authorization.c_str(), audit.c_str()}) {
        if (*line == '\0')
            continue;
        curl_slist* more = curl_slist_append(headers, line);
        if (more == nullptr) {
            curl_slist_free_all(headers);
            return nullptr;
        }
        headers = more;
    }
    return headers;
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
    bool sendsBody = isMethod(call.method, "POST") || isMethod(call.method, "PUT");
    if (!sendsBody && !isMethod(call.method, "GET") && !isMethod(call.method, "DELETE")) {
        answer.failure = "not a method this client sends";
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
    SecretString authorization;
    curl_slist* headers = requestHeaders(call, authorization);
    if (headers == nullptr) {
        curl_easy_cleanup(curl);
        answer.failure = "out of memory";
        return answer;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (sendsBody) {
        // Never a null body: libcurl would read one from stdin.
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.formBody.empty() ? "" : call.formBody.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(call.formBody.size()));
    }
    if (isMethod(call.method, "PUT") || isMethod(call.method, "DELETE"))
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.method);
    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK) {
        answer.reached = true;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
        answer.retryAfterSeconds = retryAfterOf(curl);
    } else {
        answer.failure = collected.tooLarge ? "answer too large" : curl_easy_strerror(result);
        answer.body.clear();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return answer;
}
