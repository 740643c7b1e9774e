#pragma once
#include <cstdint>

// The link service client's rules run over built-in vectors: base and authorisation URLs, the token
// characters, the service's documents, server addresses and the endpoint allow-list. Needs no
// network, file or thread. Returns how many vectors got another verdict than the expected one.
uint32_t runLinkServiceSelfTest();
