#include "zelp/shortest.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "kud/numeric/literals.hpp"
#include "zelp/digits.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;

using kud::kExactPowers;

// 10**j for j = -10 .. 16, the nearest doubles.
constexpr std::int32_t kTenBias = 10;
constexpr std::array<double, 27> kTenTo = {1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2,
                                           1e-1,  1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8,   1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

std::size_t put(std::string_view text, std::span<char, kShortestWidth> out) {
  std::copy(text.begin(), text.end(), out.begin());
  return text.size();
}

constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"

void store(char* at, std::uint64_t word) { std::memcpy(at, &word, 8); }

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

// The exponent of the first digit, with two digits: 'e', the sign, |k| below 100.
char* put_exponent(char* at, std::int32_t k) {
  const std::int32_t magnitude = k < 0 ? -k : k;
  at[0] = 'e';
  at[1] = k < 0 ? '-' : '+';
  at[2] = static_cast<char>('0' + magnitude / 10);
  at[3] = static_cast<char>('0' + magnitude % 10);
  return at + 4;
}

// Lays out n significant digits (the first at digits[0], '0' after them up to digits[23]) whose
// first has the exponent k (-8 to 14) as std::to_chars lays them out: fixed notation when that
// is no longer than scientific notation. Writes whole words past the text, up to at + 40.
char* lay_out(char* at, const char* digits, std::size_t n, std::int32_t k, char mark) {
  const auto count = static_cast<std::int32_t>(n);
  const std::int32_t scientific = count + (count > 1 ? 1 : 0) + 4;
  const std::int32_t fixed = k >= 0 ? (count <= k + 1 ? k + 1 : count + 1) : count - k + 1;
  if (fixed > scientific) {
    at[0] = digits[0];
    at[1] = mark;
    std::memcpy(at + 2, digits + 1, 16);
    return put_exponent(at + (n > 1 ? n + 1 : 1), k);
  }
  if (k < 0) {
    // "0", the mark, the zeros after it (at most three here), the digits.
    at[0] = '0';
    at[1] = mark;
    store(at + 2, kZeros);
    std::memcpy(at + 1 - k, digits, 16);
    return at + 1 - k + n;
  }
  const auto whole = static_cast<std::size_t>(k) + 1;
  std::memcpy(at, digits, 16);
  if (n <= whole) return at + whole;  // the zeros after the digits stand in the text already
  std::memcpy(at + whole + 1, digits + whole, 16);
  at[whole] = mark;
  return at + n + 1;
}

// The fast path. A decimal of at most 15 significant digits that reads back as the value is
// the shortest text there is: two such decimals round to the same 15 digits (a double keeps 15
// decimal digits through a round trip), so no shorter one reads back as the value too, and
// std::to_chars writes exactly its digits. The candidate is the value rounded to 8 digits (most
// values have no more), else to 15; whether it reads back is decided exactly, by one correctly
// rounded multiplication or division of two doubles that hold its digits and the power of ten
// exactly. Returns nullptr when the value has no such decimal or lies outside the range where
// the check is exact (1e-8 to 1e15): the caller then asks std::to_chars. Else the text's end;
// whole words are written past it, up to at + 48.
char* render_short(double value, char mark, char* at) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-8 && magnitude < 1e15)) return nullptr;
  // The decimal exponent of the first digit, k: 1233 / 4096 is a hair below log10(2), which
  // gives k or k - 1 from the binary exponent (an arithmetic shift: the floor), and one
  // comparison settles it. Where that misjudges (within rounding of a power of ten) the digits
  // come out too many or too few, and the value goes the long way.
  const auto binary =
      static_cast<std::int32_t>((std::bit_cast<std::uint64_t>(magnitude) >> 52) & 0x7FF) - 1023;
  std::int32_t k = (binary * 1233) >> 12;
  if (magnitude >= kTenTo[static_cast<std::size_t>(k + 1 + kTenBias)]) ++k;
  if (k < -8) return nullptr;
  if (value < 0) *at++ = '-';

  // Eight digits: the power 10**(7 - k) is exact for k from -8 to 14.
  const std::int32_t shift8 = 7 - k;
  const double power8 = kExactPowers[static_cast<std::size_t>(shift8 >= 0 ? shift8 : -shift8)];
  const double scaled8 = round_even(shift8 >= 0 ? magnitude * power8 : magnitude / power8);
  if (scaled8 >= 1e7 && scaled8 < 1e8 &&
      (shift8 >= 0 ? scaled8 / power8 : scaled8 * power8) == magnitude) {
    std::array<char, 24> digits;
    const std::uint64_t word = eight_digits(static_cast<std::uint32_t>(scaled8));
    store(digits.data(), word);
    store(digits.data() + 8, kZeros);
    store(digits.data() + 16, kZeros);
    return lay_out(at, digits.data(), 8 - trailing_zeros(word), k, mark);
  }
  // Fifteen digits: 10**(14 - k), 0 to 22, is exact.
  const auto shift = static_cast<std::size_t>(14 - k);
  const double scaled = round_even(magnitude * kExactPowers[shift]);
  if (!(scaled >= 1e14 && scaled < 1e15) || scaled / kExactPowers[shift] != magnitude)
    return nullptr;
  const auto m = static_cast<std::uint64_t>(scaled);
  constexpr std::uint64_t kEight = 100'000'000;
  const std::uint64_t high = eight_digits(static_cast<std::uint32_t>(m / kEight));  // '0' first
  const std::uint64_t low = eight_digits(static_cast<std::uint32_t>(m % kEight));
  std::array<char, 40> digits;
  store(digits.data(), high);
  store(digits.data() + 8, low);
  store(digits.data() + 16, kZeros);
  store(digits.data() + 24, kZeros);
  // The first digit is no '0', so the high word never counts whole.
  const std::size_t trailing = trailing_zeros(low);
  const std::size_t n = 15 - (trailing == 8 ? 8 + trailing_zeros(high) : trailing);
  return lay_out(at, digits.data() + 1, n, k, mark);
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
  std::array<char, kShortestScratch> text;
  const std::size_t length = render_shortest_into(value, text.data(), decimal_mark);
  std::memcpy(out.data(), text.data(), out.size());
  return length;
}

std::size_t render_shortest_into(double value, char* out, char decimal_mark) {
  if (const char* end = render_short(value, decimal_mark, out)) {
    return static_cast<std::size_t>(end - out);
  }
  return render_shortest_reference(value, std::span<char, kShortestWidth>(out, kShortestWidth),
                                   decimal_mark);
}

}  // namespace zelp
