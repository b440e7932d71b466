#include "zelp/shortest.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "zelp/digits.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;

// The powers of ten that a double holds exactly.
constexpr auto kPowers = [] {
  std::array<double, 23> table{};
  double power = 1.0;
  for (double& entry : table) {
    entry = power;
    power *= 10.0;
  }
  return table;
}();

// 10**j for j = -10 .. 16, the nearest doubles.
constexpr std::int32_t kTenBias = 10;
constexpr std::array<double, 27> kTenTo = {1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2,
                                           1e-1,  1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,   1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

std::size_t put(std::string_view text, std::span<char, kShortestWidth> out) {
  std::copy(text.begin(), text.end(), out.begin());
  return text.size();
}

// Copies 16 bytes: whole words, whatever of them the text uses.
void copy16(char* to, const char* from) { std::memcpy(to, from, 16); }

constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"

// To the nearest integer, ties to even: below 2**52, adding 2**52 leaves no fraction bits.
double round_even(double x) {
  constexpr double kNoFraction = 0x1p52;
  return (x + kNoFraction) - kNoFraction;
}

// Trailing '0' characters of the eight digits in word (the first in the lowest byte).
std::size_t trailing_zeros(std::uint64_t word) {
  const std::uint64_t other = word ^ kZeros;
  return other == 0 ? 8 : static_cast<std::size_t>(std::countl_zero(other)) / 8;
}

// Most values have a decimal of eight digits or fewer: the value rounded to eight digits
// (k the exponent of the first), checked to read back. On true, at holds the eight digits and
// n how many of them are significant.
bool eight_digit_decimal(double magnitude, std::int32_t k, char* at, std::size_t& n) {
  const std::int32_t shift = 7 - k;  // -7 to 15: every power exact
  const double power = kPowers[static_cast<std::size_t>(shift >= 0 ? shift : -shift)];
  const double scaled = round_even(shift >= 0 ? magnitude * power : magnitude / power);
  if (!(scaled >= 1e7 && scaled < 1e8)) return false;
  if ((shift >= 0 ? scaled / power : scaled * power) != magnitude) return false;  // one rounding
  const std::uint64_t word = eight_digits(static_cast<std::uint32_t>(scaled));
  std::memcpy(at, &word, 8);
  n = 8 - trailing_zeros(word);
  return true;
}

// The same with fifteen digits, after one '0': at holds the sixteen characters.
bool fifteen_digit_decimal(double magnitude, std::int32_t k, char* at, std::size_t& n) {
  const auto shift = static_cast<std::size_t>(14 - k);  // 0 to 22
  const double scaled = round_even(magnitude * kPowers[shift]);
  if (!(scaled >= 1e14 && scaled < 1e15)) return false;
  if (scaled / kPowers[shift] != magnitude) return false;  // both exact: one rounding
  const auto m = static_cast<std::uint64_t>(scaled);
  constexpr std::uint64_t kEight = 100'000'000;
  const std::uint64_t high = eight_digits(static_cast<std::uint32_t>(m / kEight));
  const std::uint64_t low = eight_digits(static_cast<std::uint32_t>(m % kEight));
  std::memcpy(at, &high, 8);
  std::memcpy(at + 8, &low, 8);
  // The first digit is no '0', so the high word never counts whole.
  const std::size_t trailing = trailing_zeros(low);
  n = 15 - (trailing == 8 ? 8 + trailing_zeros(high) : trailing);
  return true;
}

// The fast path. A decimal of at most 15 significant digits that reads back as the value is
// the shortest text there is: two such decimals round to the same 15 digits (a double keeps 15
// decimal digits through a round trip), so no shorter one reads back as the value too, and
// std::to_chars writes exactly its digits. The candidate is the value rounded to 15 digits;
// whether it reads back is decided exactly, by one correctly rounded division of two doubles
// that hold its digits and the power of ten exactly. Eight digits are tried first. The text is then
// laid out as std::to_chars lays it out: fixed notation when that is no longer than scientific
// notation, which has at least two exponent digits. Returns 0 when the value has no such decimal or
// lies outside the range where the check is exact (1e-8 to 1e15): the caller then asks
// std::to_chars.
std::size_t render_short(double value, char mark, std::span<char, kShortestWidth> out) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-8 && magnitude < 1e15)) return 0;
  // The decimal exponent of the first digit, k: 1233 / 4096 is a hair below log10(2), which
  // gives k or k - 1 from the binary exponent (an arithmetic shift: the floor), and one
  // comparison settles it. Where that misjudges (within rounding of a power of ten) the digits
  // come out 14 or 16, and the value goes the long way.
  const auto binary =
      static_cast<std::int32_t>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7FF) - 1023;
  std::int32_t k = (binary * 1233) >> 12;
  if (magnitude >= kTenTo[static_cast<std::size_t>(k + 1 + kTenBias)]) ++k;
  if (k < -8) return 0;
  // The significant digits, the first at text[1], '0' after them.
  std::array<char, 40> text;
  std::memset(text.data(), '0', text.size());
  std::size_t n = 0;
  if (!eight_digit_decimal(magnitude, k, text.data() + 1, n) &&
      !fifteen_digit_decimal(magnitude, k, text.data(), n))
    return 0;
  const char* digits = text.data() + 1;

  const auto count = static_cast<std::int32_t>(n);
  const std::int32_t magnitude_k = k < 0 ? -k : k;
  const std::int32_t scientific = count + (count > 1 ? 1 : 0) + 4;  // k has two digits here
  const std::int32_t fixed = k >= 0 ? (count <= k + 1 ? k + 1 : count + 1) : count - k + 1;
  std::array<char, 48> buffer;
  char* at = buffer.data();
  if (value < 0) *at++ = '-';
  if (fixed <= scientific) {
    if (k < 0) {
      // "0", the mark, the zeros after it (at most three), the digits.
      *at++ = '0';
      *at++ = mark;
      std::memcpy(at, &kZeros, 8);
      at += -k - 1;
      copy16(at, digits);
      at += n;
    } else {
      const auto whole = static_cast<std::size_t>(k) + 1;
      copy16(at, digits);
      if (n > whole) {
        copy16(at + whole + 1, digits + whole);
        at[whole] = mark;
        at += n + 1;
      } else {
        at += whole;
      }
    }
  } else {
    *at = digits[0];
    copy16(at + 2, digits + 1);
    at[1] = mark;
    at += n > 1 ? n + 1 : 1;
    *at++ = 'e';
    *at++ = k < 0 ? '-' : '+';
    *at++ = static_cast<char>('0' + magnitude_k / 10);
    *at++ = static_cast<char>('0' + magnitude_k % 10);
  }
  std::memcpy(out.data(), buffer.data(), out.size());
  return static_cast<std::size_t>(at - buffer.data());
}

}  // namespace

std::size_t render_shortest_reference(double value, std::span<char, kShortestWidth> out,
                                      char decimal_mark) {
  // Whatever the sign bit of a NaN, the tools read "nan".
  if (std::isnan(value)) return put("nan"sv, out);
  const auto [end, error] = std::to_chars(out.data(), out.data() + out.size(), value);
  if (error != std::errc{}) return put("nan"sv, out);  // cannot happen: 24 characters suffice
  const auto length = static_cast<std::size_t>(end - out.data());
  if (decimal_mark != '.')
    std::replace(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length), '.', decimal_mark);
  return length;
}

std::size_t render_shortest(double value, std::span<char, kShortestWidth> out, char decimal_mark) {
  const std::size_t length = render_short(value, decimal_mark, out);
  return length != 0 ? length : render_shortest_reference(value, out, decimal_mark);
}

}  // namespace zelp
