#include "storage/secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace {

std::string digest(const std::string& text) {
    unsigned char bytes[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

std::string base64(const std::string& bytes, bool urlSafe) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    if (!urlSafe)
        return text;
    while (!text.empty() && text.back() == '=')
        text.pop_back();
    for (char& c : text)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    return text;
}

} // namespace

bool newRandomToken(std::string& token) {
    std::string bytes(32, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(bytes.size())) != 1)
        return false;
    token = base64(bytes, true);
    wipe(bytes);
    return token.size() == 43;
}

std::string sha256Hex(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest(text)) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string sha256Base64(const std::string& text) {
    return base64(digest(text), false);
}

bool sameSecret(const std::string& a, const std::string& b) {
    const std::string left = digest(a), right = digest(b);
    return CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

void wipe(std::string& text) {
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}
