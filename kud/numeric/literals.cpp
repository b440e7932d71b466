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

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// What from_chars leaves open about a literal: whether text is one (digits with at most one
// point among them, an optional exponent), whether any digit of it is not 0, and the decimal
// exponent of its first significant digit, which tells an overflow from an underflow.
struct Magnitude {
  bool whole = false;
  bool nonzero = false;
  std::int32_t lead = 0;
};

Magnitude measure(std::string_view text) {
  Magnitude d;
  std::size_t i = 0;
  std::int32_t integer_digits = 0;  // counted from the first significant one
  std::int32_t position = 0;        // of the last fraction digit, below the point
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
    if (point) --position;
    if (!d.nonzero && c == '0') continue;  // leading zeros are not significant
    if (!d.nonzero && point) d.lead = position;
    d.nonzero = true;
    if (!point) ++integer_digits;
  }
  if (integer_digits > 0) d.lead = integer_digits - 1;
  if (any && i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    std::size_t j = i + 1;
    const bool minus = j < text.size() && text[j] == '-';
    if (j < text.size() && (text[j] == '-' || text[j] == '+')) ++j;
    const std::size_t first = j;
    std::int32_t exponent = 0;
    for (; j < text.size() && is_digit(text[j]); ++j) {
      if (exponent < 100000) exponent = exponent * 10 + (text[j] - '0');
    }
    if (j > first) {
      i = j;
      d.lead += minus ? -exponent : exponent;
    }
  }
  d.whole = any && i == text.size();
  return d;
}

}  // namespace

void use_exact_literals(bool on) { g_exact_literals = on; }

bool exact_literals() { return g_exact_literals; }

namespace {

constexpr std::uint64_t kExactDigits = std::uint64_t{1} << 53;

// The common literal in one pass: at most 19 digits (leading zeros included, so that nothing
// overflows), a point, an exponent of at most four digits, and digits and scale that
// exact_decimal takes. False for anything else.
bool short_literal(std::string_view text, double& value) {
  const char* p = text.data();
  const char* const end = p + text.size();
  std::uint64_t digits = 0;
  const char* const first = p;
  for (; p != end && is_digit(*p); ++p) digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
  std::int32_t scale = 0;
  std::ptrdiff_t count = p - first;
  if (p != end && *p == '.') {
    const char* const fraction = ++p;
    for (; p != end && is_digit(*p); ++p)
      digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    scale = -static_cast<std::int32_t>(p - fraction);
    count += p - fraction;
  }
  if (count == 0 || count > 19) return false;
  if (p != end && (*p == 'E' || *p == 'e')) {
    ++p;
    const bool minus = p != end && *p == '-';
    if (p != end && (*p == '-' || *p == '+')) ++p;
    const char* const exponent = p;
    std::int32_t e = 0;
    for (; p != end && is_digit(*p) && p - exponent < 4; ++p) e = e * 10 + (*p - '0');
    if (p == exponent) return false;
    scale += minus ? -e : e;
  }
  return p == end && exact_decimal(digits, scale, value);
}

}  // namespace

bool exact_decimal(std::uint64_t digits, std::int32_t scale, double& value) {
  if (digits > kExactDigits || scale < -22 || scale > 22) return false;
  const auto m = static_cast<double>(digits);
  value = scale >= 0 ? m * kExactPowers[static_cast<std::size_t>(scale)]
                     : m / kExactPowers[static_cast<std::size_t>(-scale)];
  return true;
}

double exact_literal(std::string_view text) {
  double value = 0.0;
  if (short_literal(text, value)) return value;
  const Magnitude d = measure(text);
  if (!d.whole) return std::numeric_limits<double>::quiet_NaN();
  if (!d.nonzero) return 0.0;
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
