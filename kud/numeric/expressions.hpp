// Expressions: operators +, -, *, /, ** of equal rank, strictly left to right, and SIN( / COS(.
#pragma once

namespace kud {

// Operator codes of the loop.
enum class Operator { kPlus, kMinus, kTimes, kPower, kDivide };

// Matches an operator at the cursor ("**" before "*"); false when none stands there.
[[nodiscard]] bool match_operator(Operator& op);
// a op v; a division by 0.0 gives 0.0.
[[nodiscard]] double apply_operator(Operator op, double a, double v);
// The operator loop of ISREAL: pairs of operator and operand until an item end. False when an
// operator or operand is missing; accumulator holds the value so far.
[[nodiscard]] bool operator_loop(double& accumulator);
// SIN( or COS(, a signed argument of NUMOPD operands and operators, ")". Value into RVAL.
[[nodiscard]] bool FUNOPD();

}  // namespace kud
