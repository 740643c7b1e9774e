#pragma once
#include <cstddef>
#include <cwchar>
#include <ios>
#include <iterator>
#include <string>

// The JSON parser keeps the characters of the token it is reading in a std::vector of its input's
// character type, beyond the reach of basic_json's allocator. Fed ParserByte instead of char, that
// record stays clean: each element zeroes itself when the vector drops it (at every new token, when
// the vector grows and at the end), and turned into text, which only the parser's error messages
// do, it reads as '?', so no part of the input ever reaches a message string.
struct ParserByte {
    unsigned char value = 0;

    ParserByte() = default;
    explicit ParserByte(char c) : value(static_cast<unsigned char>(c)) {}
    ParserByte(const ParserByte&) = default;
    ParserByte& operator=(const ParserByte&) = default;
    ~ParserByte() { *static_cast<volatile unsigned char*>(&value) = 0; }

    explicit operator char() const { return '?'; }
    explicit operator unsigned char() const { return '?'; }
    bool operator==(const ParserByte&) const = default;
};

// What the parser asks of its character type, with the same values as for char.
namespace std {
template <> struct char_traits<ParserByte> {
    using char_type = ParserByte;
    using int_type = int;
    using off_type = streamoff;
    using pos_type = streampos;
    using state_type = mbstate_t;

    static constexpr int_type eof() noexcept { return -1; }
    static constexpr int_type not_eof(int_type c) noexcept { return c == eof() ? 0 : c; }
    static constexpr bool eq_int_type(int_type a, int_type b) noexcept { return a == b; }
    static int_type to_int_type(const char_type& c) noexcept { return c.value; }
    static char_type to_char_type(int_type c) noexcept { return char_type(static_cast<char>(c)); }
    static bool eq(const char_type& a, const char_type& b) noexcept { return a == b; }
    static bool lt(const char_type& a, const char_type& b) noexcept { return a.value < b.value; }
};
} // namespace std

// Bytes of a body read as ParserByte values.
class ParserInput {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ParserByte;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = ParserByte;

    ParserInput() = default;
    explicit ParserInput(const char* at) : at_(at) {}

    ParserByte operator*() const { return ParserByte(*at_); }
    ParserInput& operator++() {
        ++at_;
        return *this;
    }
    ParserInput operator++(int) {
        ParserInput before = *this;
        ++at_;
        return before;
    }
    bool operator==(const ParserInput&) const = default;

  private:
    const char* at_ = nullptr;
};
