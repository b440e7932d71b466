// Integer fields of the library's report lines.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kud {

// The decimal digits of value (with "-" when negative) right-aligned in width characters, or
// width asterisks when they do not fit. out must hold width characters.
constexpr std::string_view int_field(std::int32_t value, std::int32_t width, std::span<char> out) {
  const auto w = static_cast<std::size_t>(width);
  char digits[12] = {};
  std::size_t n = 0;
  // Work on the magnitude in 64 bits: -2147483648 has no 32-bit negation.
  std::int64_t magnitude = value < 0 ? -static_cast<std::int64_t>(value) : value;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) digits[n++] = '-';
  for (std::size_t i = 0; i < w; ++i) out[i] = n > w ? '*' : ' ';
  if (n <= w)
    for (std::size_t i = 0; i < n; ++i) out[w - 1 - i] = digits[i];
  return {out.data(), w};
}

}  // namespace kud
