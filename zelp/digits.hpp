// Decimal digits eight at a time, for the renderers of both output formats.
#pragma once

#include <bit>
#include <cstdint>

namespace zelp {

// The eight decimal digits of v < 10**8 as characters, the first in the lowest byte, computed
// in parallel lanes of one 64-bit word.
[[gnu::always_inline]] constexpr std::uint64_t eight_digits(std::uint32_t v) {
  std::uint64_t merged = (v / 10000) | (static_cast<std::uint64_t>(v % 10000) << 32);
  std::uint64_t tens = ((merged * 10486) >> 20) & ((std::uint64_t{0x7F} << 32) | 0x7F);
  merged = tens | ((merged - tens * 100) << 16);
  tens = ((merged * 103) >> 10) & 0x000F000F000F000F;
  merged = tens | ((merged - tens * 10) << 8);
  return merged + 0x3030303030303030;
}
static_assert(std::endian::native == std::endian::little, "digits are stored byte by byte");
static_assert(eight_digits(12345678) == 0x3837363534333231);
static_assert(eight_digits(0) == 0x3030303030303030);
static_assert(eight_digits(99999999) == 0x3939393939393939);
static_assert(eight_digits(10000001) == 0x3130303030303031);

}  // namespace zelp
