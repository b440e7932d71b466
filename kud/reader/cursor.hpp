// Cursor primitives: the only way the recognisers read the working line RS.LINE at RS.IPOS.
// They print nothing, allocate nothing, and keep IPOS within 1..LENLIN+1.
#pragma once

#include <cstdint>
#include <string_view>

namespace kud {

// Moves IPOS over blanks (the sentinel at LENLIN+1 stops it).
void SKIPBL();
// Skips blanks; true when the line has ended (IPOS > LENLIN).
[[nodiscard]] bool ENDLIN();
// Takes a letter of ALPUPP into CHCUR.
[[nodiscard]] bool LETTER();
// Takes a decimal digit; its value goes to IDIGIT.
[[nodiscard]] bool DIGIT();
// Takes a run of digits; IACCU receives its value (and accu_wide/accu_real for long runs).
[[nodiscard]] bool DIGRUN();
// True when an item may end here; then moves over one separator to the next item.
[[nodiscard]] bool ENDITM();
// True when literal, or an abbreviation of at least NCMTCH characters, stands at IPOS.
[[nodiscard]] bool MATCH(std::string_view literal);
// SKIPBL, then MATCH.
[[nodiscard]] bool SKPMAT(std::string_view literal);
// Moves IPOS by n (clamped to 1..LENLIN+1), or for n = 0 to the next blank.
void MOVCUR(std::int32_t n);
// LINRAW columns first..min(last, NCHLIN); empty when that range is empty.
[[nodiscard]] std::string_view RAWCOL(std::int32_t first, std::int32_t last);

}  // namespace kud
