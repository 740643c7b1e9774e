#pragma once
// A query or form body, as the callbacks, the confirmation form and the provider flows all read one.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Percent-decoded pairs in the order received. Duplicates are kept so they can be refused.
using QueryParams = std::vector<std::pair<std::string, std::string>>;

inline constexpr std::size_t kMaxQueryParams = 64;
inline constexpr std::size_t kMaxQueryLength = 8192;

// Splits a raw query (the text after '?', '+' meaning a space) into decoded pairs. False when it is
// malformed: a bad %-escape, more than kMaxQueryParams pairs or more than kMaxQueryLength bytes.
bool parseQuery(std::string_view raw, QueryParams& out);

// The value of the one pair named `name`; empty when there is none or more than one.
std::string onlyValue(const QueryParams& params, std::string_view name);
