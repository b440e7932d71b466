#include "kud/numeric/expressions.hpp"

#include <cmath>
#include <cstdint>

#include "kud/numeric/literals.hpp"
#include "kud/reader/cursor.hpp"
#include "kud/reader/reader_state.hpp"

namespace kud {

bool match_operator(Operator& op) {
  if (MATCH("+")) {
    op = Operator::kPlus;
  } else if (MATCH("-")) {
    op = Operator::kMinus;
  } else if (MATCH("*")) {
    op = MATCH("*") ? Operator::kPower : Operator::kTimes;
  } else if (MATCH("/")) {
    op = Operator::kDivide;
  } else {
    return false;
  }
  return true;
}

double apply_operator(Operator op, double a, double v) {
  switch (op) {
    case Operator::kPlus:
      return a + v;
    case Operator::kMinus:
      return a - v;
    case Operator::kTimes:
      return a * v;
    case Operator::kPower:
      return std::pow(a, v);
    case Operator::kDivide:
      return v == 0.0 ? 0.0 : a / v;  // no infinity from a zero divisor
  }
  return a;
}

bool operator_loop(double& accumulator) {
  for (;;) {
    if (ENDITM()) return true;
    Operator op{};
    if (!match_operator(op)) return false;
    if (!NUMOPD() && !FUNOPD()) return false;
    accumulator = apply_operator(op, accumulator, RS.RVAL);
  }
}

bool FUNOPD() {
  if (RS.IPOS > RS.LENLIN) return false;
  const std::int32_t start = RS.IPOS;
  const std::int32_t saved_ncmtch = RS.NCMTCH;
  RS.NCMTCH = 4;  // "SIN(" and "COS(" must stand whole
  bool is_sine = true;
  if (MATCH("SIN(")) {
    is_sine = true;
  } else if (MATCH("COS(")) {
    is_sine = false;
  } else {
    RS.NCMTCH = saved_ncmtch;
    return false;
  }
  const double saved_rval = RS.RVAL;
  const std::int32_t saved_accu = RS.IACCU;
  const std::int32_t saved_digit = RS.IDIGIT;
  const std::int32_t saved_expo = RS.IEXPO;
  const auto restore = [&] {
    RS.IACCU = saved_accu;
    RS.IDIGIT = saved_digit;
    RS.IEXPO = saved_expo;
    RS.NCMTCH = saved_ncmtch;
  };
  int sign = 1;
  if (MATCH("+")) {
    sign = 1;
  } else if (MATCH("-")) {
    sign = -1;
  }
  bool ok = NUMOPD();
  double argument = RS.RVAL;
  while (ok && !MATCH(")")) {
    Operator op{};
    ok = match_operator(op) && NUMOPD();
    if (ok) argument = apply_operator(op, argument, RS.RVAL);
  }
  if (!ok) {
    RS.RVAL = saved_rval;
    RS.IPOS = start;
    restore();
    return false;
  }
  if (sign < 0) argument = -argument;
  RS.RVAL = is_sine ? std::sin(argument) : std::cos(argument);
  restore();
  return true;
}

}  // namespace kud
