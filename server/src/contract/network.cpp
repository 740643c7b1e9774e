#include "contract/network.h"

#include <arpa/inet.h>

#include <cstring>

std::string networkOf(const std::string& address) {
    unsigned char bytes[16] = {};
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, address.c_str(), bytes) == 1) {
        bytes[3] = 0;
        return inet_ntop(AF_INET, bytes, text, sizeof text) ? std::string(text) + "/24" : std::string();
    }
    if (inet_pton(AF_INET6, address.c_str(), bytes) == 1) {
        std::memset(bytes + 8, 0, 8);
        return inet_ntop(AF_INET6, bytes, text, sizeof text) ? std::string(text) + "/64" : std::string();
    }
    return {};
}
