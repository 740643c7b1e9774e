#pragma once
// The network a client address belongs to, as far as one household or one provider's customer reaches:
// an IPv4 /24 or an IPv6 /64. A launcher and the browser beside it share one; an attacker elsewhere does not.
#include <string>

// "203.0.113.0/24", "2001:db8:1:2::/64"; empty for text that is not an address.
std::string networkOf(const std::string& address);
