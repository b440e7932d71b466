// Integer and real literals: the integer item, the unsigned number operand and the real item.
// They work on RS at the cursor, answer true or false and on false put back what they changed.
#pragma once

#include <cstdint>

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

// 10 to the power e by repeated squaring, in the order the reader has always used.
[[nodiscard]] double power_of_ten(std::int32_t e);

}  // namespace kud
