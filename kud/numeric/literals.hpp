// Integer and real literals: the integer item, the unsigned number operand and the real item.
// They work on RS at the cursor, answer true or false and on false put back what they changed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kud {

inline constexpr double kPi = 3.141592653589793;

// An optional sign, digits whose value fits 32 bits, then a separator. Value into IVAL.
[[nodiscard]] bool ISINT();
[[nodiscard]] std::int32_t IVALUE();
// An unsigned number (digits, fraction, exponent) or PI; value into RVAL.
[[nodiscard]] bool NUMOPD();
// "E", an optional sign and one to four digits; into IEXPO.
[[nodiscard]] bool EXPONT();
// A signed real literal or expression, then a separator; value into RVAL.
[[nodiscard]] bool ISREAL();
[[nodiscard]] double RVALUE();

// The powers of ten that a double holds exactly, 10**0 to 10**22: one multiplication or
// division by one of them rounds a product or quotient of exact values once.
inline constexpr auto kExactPowers = [] {
  std::array<double, 23> table{};
  double power = 1.0;
  for (double& entry : table) {
    entry = power;
    power *= 10.0;
  }
  return table;
}();
static_assert(kExactPowers[22] == 1e22);

// Switches how a written number is valued, for every recogniser that reads one (off by
// default). Off: digit by digit in the reader's double arithmetic, as the reader always has
// (0.12 gives 0.12000000000000001). On: the double nearest to its text, as strtod gives it
// (0.12 gives 0.12). PI and the operators of an expression are the same either way.
void use_exact_literals(bool on);
[[nodiscard]] bool exact_literals();

// The double nearest to digits * 10**scale, when one multiplication or division rounds it once:
// digits up to 2**53 and scale within 22, where both factors are doubles exactly. False
// otherwise (value unchanged).
[[nodiscard]] bool exact_decimal(std::uint64_t digits, std::int32_t scale, double& value);

// The double nearest to text, an unsigned number as NUMOPD takes it (digits, an optional "."
// and digits, an optional "E", sign and digits): correctly rounded, ties to even; beyond the
// largest double +infinity, below the smallest subnormal +0.0. NaN for text of another form.
[[nodiscard]] double exact_literal(std::string_view text);

// 10 to the power e by repeated squaring, in the order the reader has always used: for e < 0
// the base is 1 / 10.0, squared as needed; so 10**-2 is 0.1 * 0.1 = 0.010000000000000002.
[[nodiscard]] constexpr double power_of_ten(std::int32_t e) {
  if (e == 0) return 1.0;
  double base = e > 0 ? 10.0 : 1.0 / 10.0;
  // The magnitude of e in unsigned arithmetic, so that no negation can overflow.
  auto n = e > 0 ? static_cast<std::uint32_t>(e) : 0u - static_cast<std::uint32_t>(e);
  double result = 1.0;
  for (;;) {
    if (n % 2 == 1) result = result * base;
    n /= 2;
    if (n == 0) return result;
    base = base * base;
  }
}

namespace detail {
// Precomputed with the very operations of the reader's loops, so a lookup gives the same bits.
inline constexpr std::int32_t kScales = 400;  // 10**-400 is below the smallest double: 0 on
inline constexpr auto kFractionScales = [] {
  std::array<double, kScales + 1> table{};
  double scale = 1.0;
  for (auto& entry : table) {
    entry = scale;
    scale = scale / 10.0;
  }
  return table;
}();
static_assert(kFractionScales[1] == 0.1 && kFractionScales[kScales] == 0.0);

// The exponents of finite powers; the rest are computed when met.
inline constexpr std::int32_t kTableExponent = 308;
inline constexpr auto kPowers = [] {
  std::array<double, 2 * kTableExponent + 1> table{};
  for (std::int32_t e = -kTableExponent; e <= kTableExponent; ++e)
    table[static_cast<std::size_t>(e + kTableExponent)] = power_of_ten(e);
  return table;
}();
static_assert(kPowers[kTableExponent] == 1.0 && kPowers[kTableExponent + 3] == 1000.0);
}  // namespace detail

// Scale of the k-th fraction digit: 1.0 divided by 10.0 k times, one division after another.
[[nodiscard]] inline double fraction_scale(std::int32_t k) {
  return k >= 0 && k <= detail::kScales ? detail::kFractionScales[static_cast<std::size_t>(k)]
                                        : 0.0;
}

// 10 to the power e, from a table for the exponents of finite powers.
[[nodiscard]] inline double table_power_of_ten(std::int32_t e) {
  if (e < -detail::kTableExponent || e > detail::kTableExponent) return power_of_ten(e);
  return detail::kPowers[static_cast<std::size_t>(e + detail::kTableExponent)];
}

}  // namespace kud
