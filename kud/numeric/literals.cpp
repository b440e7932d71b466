#include "kud/numeric/literals.hpp"

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

}  // namespace

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
