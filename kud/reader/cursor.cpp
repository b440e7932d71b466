#include "kud/reader/cursor.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>

#include "kud/reader/reader_state.hpp"

namespace kud {
namespace {

// Digit values by character; -1 for every other byte.
constexpr std::array<std::int8_t, 256> kDigitValue = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    table[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
  return table;
}();
static_assert(kDigitValue['0'] == 0 && kDigitValue['9'] == 9 && kDigitValue['/'] == -1 &&
              kDigitValue[':'] == -1 && kDigitValue[0xB9] == -1);

std::size_t at(std::int32_t column) { return static_cast<std::size_t>(column); }

// The character at column p of the line, for 1 <= p <= LENLIN + 1; the sentinel elsewhere, so
// that no cursor value can make a primitive read outside the line.
char line_at(std::int32_t p) {
  if (p < 1 || p > RS.LENLIN + 1 || p > kMaxLine + 1) return kSentinel;
  return RS.LINE[at(p)];
}

bool in_line(std::int32_t p) { return p >= 1 && p <= RS.LENLIN; }

}  // namespace

void SKIPBL() {
  // Locals: a store to IPOS on every step would have to be re-read after each character.
  std::int32_t p = RS.IPOS;
  if (p < 1) return;
  const std::int32_t end = RS.LENLIN;
  const char blank = RS.CHBLNK;
  while (p <= end && RS.LINE[at(p)] == blank) ++p;
  RS.IPOS = p;
}

bool ENDLIN() {
  SKIPBL();
  return RS.IPOS > RS.LENLIN;
}

bool LETTER() {
  if (!in_line(RS.IPOS)) return false;
  const char c = RS.LINE[at(RS.IPOS)];
  // is_letter mirrors ALPUPP: one lookup instead of a walk through the 26 letters.
  if (!RS.is_letter[static_cast<unsigned char>(c)]) return false;
  RS.CHCUR = c;
  ++RS.IPOS;
  return true;
}

bool DIGIT() {
  if (!in_line(RS.IPOS)) return false;
  const std::int8_t value = kDigitValue[static_cast<unsigned char>(RS.LINE[at(RS.IPOS)])];
  if (value < 0) return false;
  RS.IDIGIT = value;
  ++RS.IPOS;
  return true;
}

bool DIGRUN() {
  if (!DIGIT()) return false;
  // The run is valued three ways at once: the low 32 bits (IACCU, as the field has always
  // held), whether it exceeds 2147483647, and its value in double arithmetic (x * 10 + d), which
  // the real recogniser uses for runs too long for 32 bits. No signed arithmetic can overflow.
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint32_t>::max();
  auto exact = static_cast<std::uint64_t>(RS.IDIGIT);
  double real = RS.IDIGIT;
  bool wide = false;
  while (DIGIT()) {
    const auto d = static_cast<std::uint64_t>(RS.IDIGIT);
    real = real * 10.0 + static_cast<double>(RS.IDIGIT);
    exact = exact * 10 + d;
    if (exact > kLimit) {
      wide = true;
      exact &= kLimit;  // keeps the low 32 bits meaningful and the product bounded
    }
  }
  if (exact > std::numeric_limits<std::int32_t>::max()) wide = true;
  RS.IACCU = static_cast<std::int32_t>(static_cast<std::uint32_t>(exact));
  RS.accu_wide = wide;
  RS.accu_real = real;
  return true;
}

bool ENDITM() {
  if (RS.IPOS <= 0) RS.IPOS = 1;
  const char c = line_at(RS.IPOS);
  if (in_line(RS.IPOS) && c == RS.CHBLNK) {
    SKIPBL();
    if (in_line(RS.IPOS) && RS.LINE[at(RS.IPOS)] == RS.CHDELM) {
      ++RS.IPOS;
      SKIPBL();
    }
    return true;
  }
  if (in_line(RS.IPOS) && c == RS.CHDELM) {
    ++RS.IPOS;
    SKIPBL();
    return true;
  }
  return ENDLIN();
}

bool MATCH(std::string_view literal) {
  if (!in_line(RS.IPOS) || literal.empty()) return false;
  const auto n = static_cast<std::int32_t>(literal.size());
  std::int32_t k = 0;
  std::int32_t p = RS.IPOS;
  while (k < n && p <= RS.LENLIN && RS.LINE[at(p)] == literal[at(k)]) {
    ++k;
    ++p;
  }
  if (k < n && k < RS.NCMTCH) return false;
  RS.IPOS = p;
  if (k < n) MOVCUR(0);  // an abbreviation: pass over the rest of the word in the line
  return true;
}

bool SKPMAT(std::string_view literal) {
  SKIPBL();
  return MATCH(literal);
}

void MOVCUR(std::int32_t n) {
  if (n != 0) {
    // 64-bit sum: a cursor near the 32-bit limits cannot overflow.
    const std::int64_t c = std::max<std::int64_t>(std::int64_t{RS.IPOS} + n, 1);
    RS.IPOS = c > RS.LENLIN ? RS.LENLIN + 1 : static_cast<std::int32_t>(c);
    return;
  }
  if (RS.IPOS > RS.LENLIN) return;
  if (RS.IPOS < 1) RS.IPOS = 1;
  while (RS.IPOS <= RS.LENLIN && RS.LINE[at(RS.IPOS)] != RS.CHBLNK) ++RS.IPOS;
}

std::string_view RAWCOL(std::int32_t first, std::int32_t last) {
  const std::int32_t end = std::min(last, RS.NCHLIN);
  if (first < 1 || end < first) return {};
  return {&RS.LINRAW[at(first)], at(end - first + 1)};
}

}  // namespace kud
