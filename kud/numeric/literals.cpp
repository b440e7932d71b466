#include "kud/numeric/literals.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

#include "kud/numeric/expressions.hpp"
#include "kud/reader/cursor.hpp"
#include "kud/reader/reader_state.hpp"

namespace kud {
namespace {

// The scratch fields that the number routines borrow and must hand back unchanged.
struct Scratch {
  std::int32_t iaccu = RS.IACCU;
  std::int32_t idigit = RS.IDIGIT;
  std::int32_t iexpo = RS.IEXPO;
  bool accu_wide = RS.accu_wide;
  double accu_real = RS.accu_real;

  void restore() const {
    RS.IACCU = iaccu;
    RS.IDIGIT = idigit;
    RS.IEXPO = iexpo;
    RS.accu_wide = accu_wide;
    RS.accu_real = accu_real;
  }
};

// The fraction of the digits after a decimal point, the first of which DIGIT has just taken.
// Scale first, then the product, then the sum, in doubles: 0.12 gives 0.12000000000000001.
double fraction() {
  std::int32_t k = 0;
  double sum = 0.0;
  do {
    if (k < kMaxLine) ++k;  // a line holds fewer digits; the bound keeps k from overflowing
    const double term = static_cast<double>(RS.IDIGIT) * fraction_scale(k);
    sum = term + sum;
  } while (DIGIT());
  return sum;
}

// Applies an exponent part, if one follows, to x.
double with_exponent(double x) { return EXPONT() ? table_power_of_ten(RS.IEXPO) * x : x; }

// Reads an optional "+" or "-" after blanks; -1 for minus, +1 otherwise.
int leading_sign() {
  if (SKPMAT("+")) return 1;
  if (SKPMAT("-")) return -1;
  return 1;
}

constexpr double kTwoTo31 = 2147483648.0;

bool g_exact_literals = false;

// The powers of ten that a double holds exactly.
constexpr auto kExactPowers = [] {
  std::array<double, 23> table{};
  double power = 1.0;
  for (double& entry : table) {
    entry = power;
    power *= 10.0;
  }
  return table;
}();
static_assert(kExactPowers[22] == 1e22);

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The parts of a literal: its significant digits as an integer (the first 19), how many there
// are, the power of ten that scales them (when there are at most 19), and the decimal exponent
// of the first of them.
struct Decimal {
  std::uint64_t digits = 0;
  std::int32_t count = 0;
  std::int32_t scale = 0;
  std::int32_t lead = 0;
  bool whole = false;  // text is one literal and nothing else
};

Decimal decompose(std::string_view text) {
  Decimal d;
  std::size_t i = 0;
  std::int32_t integer_digits = 0;  // counted from the first significant one
  bool point = false;
  bool any = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    any = true;
    if (point) --d.scale;
    if (d.count == 0 && c == '0') continue;  // leading zeros are not significant
    if (d.count == 0 && point) d.lead = d.scale;
    if (!point) ++integer_digits;
    // Past 19 digits the value is left to from_chars; the magnitude still counts them all.
    if (d.count < 19) d.digits = d.digits * 10 + static_cast<std::uint64_t>(c - '0');
    ++d.count;
  }
  if (integer_digits > 0) d.lead = integer_digits - 1;
  std::int32_t exponent = 0;
  if (any && i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    std::size_t j = i + 1;
    const bool minus = j < text.size() && text[j] == '-';
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    const std::size_t first = j;
    for (; j < text.size() && is_digit(text[j]); ++j) {
      if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
    }
    if (j > first) {
      i = j;
      if (minus) exponent = -exponent;
    }
  }
  d.scale += exponent;
  d.lead += exponent;
  d.whole = any && i == text.size();
  return d;
}

}  // namespace

void use_exact_literals(bool on) { g_exact_literals = on; }

bool exact_literals() { return g_exact_literals; }

double exact_literal(std::string_view text) {
  const Decimal d = decompose(text);
  if (!d.whole) return std::numeric_limits<double>::quiet_NaN();
  if (d.count == 0) return 0.0;
  // Up to 2**53 the digits are a double exactly, and so is 10**22: one multiplication or
  // division of the two rounds the exact value once, which is the correct rounding.
  constexpr std::uint64_t kExactDigits = std::uint64_t{1} << 53;
  if (d.count <= 19 && d.digits <= kExactDigits && d.scale >= -22 && d.scale <= 22) {
    const auto m = static_cast<double>(d.digits);
    return d.scale >= 0 ? m * kExactPowers[static_cast<std::size_t>(d.scale)]
                        : m / kExactPowers[static_cast<std::size_t>(-d.scale)];
  }
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    // A value of 1 or more that does not fit overflowed; anything smaller underflowed.
    return d.lead >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  if (error != std::errc{} || end != text.data() + text.size())
    return std::numeric_limits<double>::quiet_NaN();
  return value;
}

bool ISINT() {
  if (RS.IPOS > RS.LENLIN) return false;
  const std::int32_t start = RS.IPOS;
  const int sign = leading_sign();
  const std::int32_t saved_accu = RS.IACCU;
  if (!DIGRUN()) {
    RS.IPOS = start;
    return false;
  }
  // A run beyond 32 bits is no integer item (it goes on to the real recogniser and keeps its
  // value); only -2147483648 reaches past 2147483647.
  const bool fits = !RS.accu_wide || (sign < 0 && RS.accu_real == kTwoTo31);
  if (!fits || !ENDITM()) {
    RS.IACCU = saved_accu;
    RS.IPOS = start;
    return false;
  }
  const auto magnitude = static_cast<std::int64_t>(RS.accu_wide ? kTwoTo31 : RS.IACCU);
  RS.IVAL = static_cast<std::int32_t>(sign * magnitude);
  return true;
}

std::int32_t IVALUE() { return RS.IVAL; }

bool NUMOPD() {
  const std::int32_t start = RS.IPOS;
  const Scratch scratch;
  const std::int32_t saved_ncmtch = RS.NCMTCH;
  RS.NCMTCH = 2;
  bool found = false;
  bool pi = false;
  if (DIGRUN()) {
    double x = RS.accu_real;  // equals IACCU for every run that fits 32 bits
    if (MATCH(".") && DIGIT()) x = x + fraction();
    RS.RVAL = with_exponent(x);
    found = true;
  } else if (MATCH(".")) {
    if (DIGIT()) {
      const double x = fraction() + 0.0;
      RS.RVAL = with_exponent(x);
      found = true;
    } else {
      RS.IPOS = start;
    }
  } else if (MATCH("PI")) {
    RS.RVAL = kPi;
    found = true;
    pi = true;
  }
  if (found && !pi && g_exact_literals) {
    RS.RVAL = exact_literal(
        {&RS.LINE[static_cast<std::size_t>(start)], static_cast<std::size_t>(RS.IPOS - start)});
  }
  scratch.restore();
  RS.NCMTCH = saved_ncmtch;
  return found;
}

bool EXPONT() {
  const std::int32_t start = RS.IPOS;
  if (!MATCH("E")) return false;
  int sign = 1;
  if (MATCH("+")) {
    sign = 1;
  } else if (MATCH("-")) {
    sign = -1;
  }
  if (!DIGIT()) {
    RS.IPOS = start;
    return false;
  }
  std::int32_t n = RS.IDIGIT;
  for (int more = 0; more < 3 && DIGIT(); ++more) n = n * 10 + RS.IDIGIT;
  RS.IEXPO = sign * n;
  return true;
}

bool ISREAL() {
  if (RS.IPOS > RS.LENLIN) return false;
  const std::int32_t start = RS.IPOS;
  const double saved_rval = RS.RVAL;
  const Scratch scratch;
  const int sign = leading_sign();
  double accumulator = 0.0;
  if ((NUMOPD() || FUNOPD()) && (accumulator = RS.RVAL, operator_loop(accumulator))) {
    if (sign < 0) accumulator = -accumulator;
    RS.RVAL = accumulator;
    scratch.restore();
    return true;
  }
  RS.RVAL = saved_rval;
  RS.IPOS = start;
  scratch.restore();
  return false;
}

double RVALUE() { return RS.RVAL; }

}  // namespace kud
