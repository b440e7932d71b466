#include "kud/reader/items.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "kud/numeric/literals.hpp"
#include "kud/reader/cursor.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/text.hpp"

namespace kud {
namespace {

std::size_t at(std::int32_t column) { return static_cast<std::size_t>(column); }

// A piece starting with one of these ends the line's items.
constexpr std::string_view kStopCharacters = "%!#'*";

// Copies the first min(8, width) characters of a 16-character text field into slot, blank-pads
// the rest of the slot.
void keep_text(std::span<const char> field, std::span<char> slot) {
  std::array<char, kItemText> holder;
  std::memcpy(holder.data(), field.data(), holder.size());
  const std::size_t n = std::min(holder.size(), slot.size());
  std::copy_n(holder.begin(), n, slot.begin());  // slots of width 0 may have no storage at all
  std::fill(slot.begin() + static_cast<std::ptrdiff_t>(n), slot.end(), ' ');
}

bool g_fast_numbers = true;
bool g_last_line_numeric = false;

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The word-wide scans take the first byte of a word as its lowest.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHigh = 0x8080808080808080;
constexpr std::uint64_t kLow7 = kOnes * 0x7F;

// Whole eight-byte loads from the line stay inside the LINE array: from column p on, when
// p <= kLastLoad. The scans below walk the line with a pointer, which spares the index
// arithmetic on every character.
constexpr std::int32_t kLastLoad = kMaxLine + 2 - 8;
static_assert(sizeof(ReaderState{}.LINE) == kMaxLine + 2);

std::uint64_t load8(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

constexpr std::uint64_t kZeros = kOnes * '0';

// 0x80 in each byte of t = w ^ kZeros whose byte in w is no digit 0..9: a digit is exactly a
// byte of t below 10, and t holds its value. Exact per byte: the sum stays below 0x100.
constexpr std::uint64_t non_digits(std::uint64_t t) {
  return (((t & kLow7) + kOnes * (0x80 - 10)) | t) & kHigh;
}

// The blanks from c on; stops at the sentinel. An eight-byte load may start up to last_load.
// kInside: every load up to the sentinel stays inside LINE (the line ends before kLastLoad), so
// no bound is checked.
template <bool kInside>
const char* skip_blanks(const char* c, const char* last_load) {
  while (kInside || c <= last_load) {
    const std::uint64_t other = load8(c) ^ (kOnes * ' ');
    if (other != 0) return c + std::countr_zero(other) / 8;
    c += 8;
  }
  while (*c == ' ') ++c;
  return c;
}

// Digit k's share of a fraction, d * fraction_scale(k), as the reader's loop computes it, for
// the first kTermDigits fraction digits: one table lookup per digit instead of the product.
constexpr std::int32_t kTermDigits = 16;
constexpr auto kTerms = [] {
  std::array<std::array<double, 10>, kTermDigits + 1> table{};
  for (std::size_t k = 1; k <= kTermDigits; ++k)
    for (std::size_t d = 0; d < 10; ++d)
      table[k][d] = static_cast<double>(d) * detail::kFractionScales[k];
  return table;
}();
static_assert(kTerms[1][3] == 3 * 0.1 && kTerms[2][7] == 7 * detail::kFractionScales[2]);

// The sum of the first two fraction digits d1 d2, indexed by their digit values as two bytes,
// d1 + 256 * d2, as the reader's loop leaves it after them. A shorter fraction has the same sum
// as itself padded with zeros: a zero digit adds +0.0, which leaves a sum of non-negative terms
// unchanged.
constexpr auto kPairSums = [] {
  std::array<double, 9 + 256 * 9 + 1> table{};
  for (std::size_t d1 = 0; d1 < 10; ++d1) {
    for (std::size_t d2 = 0; d2 < 10; ++d2) {
      double sum = 0.0;
      sum = kTerms[1][d1] + sum;
      sum = kTerms[2][d2] + sum;
      table[d1 + 256 * d2] = sum;
    }
  }
  return table;
}();
static_assert(kPairSums[5] == 0.5 && kPairSums[1 + 256 * 2] == kTerms[2][2] + kTerms[1][1]);

// The digit bytes a fraction of n = 0, 1 or 2 digits keeps of an eight-byte load.
constexpr std::array<std::uint64_t, 3> kShortFraction = {0, 0xFF, 0xFFFF};

// Fraction digits from the k-th on, from c on, one at a time; c moves past them.
double fraction_tail(double sum, std::int32_t k, const char*& c) {
  for (; is_digit(*c); ++k, ++c) {
    const double term = k <= kTermDigits ? kTerms[at(k)][at(*c - '0')]
                                         : static_cast<double>(*c - '0') * fraction_scale(k);
    sum = term + sum;
  }
  return sum;
}

// The fraction after a decimal point, from c on (no digit at all gives 0.0), in the reader's
// order: scale, product, sum, digit after digit. The first two digits come from kPairSums in
// one lookup. c moves past the digits; an eight-byte load may start up to last_load.
template <bool kInside>
double fraction_sum(const char*& c, const char* last_load) {
  // The last columns of the longest line: digit by digit.
  if (!kInside && c > last_load) return fraction_tail(0.0, 1, c);
  const std::uint64_t values = load8(c) ^ kZeros;
  const std::int32_t n = std::countr_zero(non_digits(values)) / 8;  // 8 for all digits
  c += n;
  if (n < 3) return kPairSums[values & kShortFraction[at(n)]];
  double sum = kPairSums[values & 0xFFFF];
  sum = kTerms[3][(values >> 16) & 0xFF] + sum;
  std::int32_t k = 4;
  for (; k <= n; ++k) sum = kTerms[at(k)][(values >> (8 * (k - 1))) & 0xFF] + sum;
  return n == 8 ? fraction_tail(sum, k, c) : sum;
}

// The value of eight digit values in the bytes of w, the first in the lowest byte: pairs, then
// fours, then the eight, in three multiplications.
constexpr std::uint64_t eight_digit_value(std::uint64_t w) {
  w = w * 10 + (w >> 8);
  return ((w & 0x000000FF000000FF) * (100 + (std::uint64_t{1000000} << 32)) +
          ((w >> 16) & 0x000000FF000000FF) * (1 + (std::uint64_t{10000} << 32))) >>
         32;
}
static_assert(eight_digit_value(0x0807060504030201) == 12345678);
static_assert(eight_digit_value(0x0909090909090909) == 99999999);

constexpr auto kDecimalPowers = [] {
  std::array<std::uint64_t, 20> table{};
  std::uint64_t power = 1;
  for (auto& entry : table) {
    entry = power;
    power *= 10;
  }
  return table;
}();

// The digits after a decimal point, from c on, as an integer and their count, for exact
// literals, eight at a time; c moves past them. False when there are more than 19, too many for
// the integer (c is past them all still).
template <bool kInside>
bool fraction_digits(const char*& c, const char* last_load, std::uint64_t& value,
                     std::int32_t& count) {
  value = 0;
  count = 0;
  for (;;) {
    if (!kInside && c > last_load) {
      for (; is_digit(*c); ++c, ++count) {
        if (count < 19) value = value * 10 + static_cast<std::uint64_t>(*c - '0');
      }
      return count <= 19;
    }
    const std::uint64_t values = load8(c) ^ kZeros;
    const std::int32_t n = std::countr_zero(non_digits(values)) / 8;  // 8 for all digits
    c += n;
    if (n > 0 && count + n <= 19) {
      // The n digits to the top bytes, zeros below them: leading zeros of an eight-digit number.
      value = value * kDecimalPowers[at(n)] + eight_digit_value(values << (8 * (8 - n)));
    }
    count += n;
    if (n < 8) return count <= 19;
  }
}

// The digit run from c on (the first character a digit): its value, and c moved past it. False
// for more than 15 digits (beyond 2**53, the full way).
bool digit_run(const char*& c, std::uint64_t& run) {
  run = static_cast<std::uint64_t>(*c - '0');
  if (!is_digit(c[1])) {
    ++c;  // one digit, the most common run
    return true;
  }
  // Digit by digit: most longer runs have two to four digits, too few to gain from word-wide
  // work.
  const char* q = c + 1;
  do {
    if (q - c == 15) return false;
    run = run * 10 + static_cast<std::uint64_t>(*q - '0');
  } while (is_digit(*++q));
  c = q;
  return true;
}

// The state the fast items of one line leave, set once after them: the digit-run fields of the
// very last item, whose integer digits had the value run, IVAL and IACCU of the last integer,
// RVAL of the last real (slot kNone for none), as ISINT and ISREAL would have left them.
constexpr std::size_t kNone = ~std::size_t{0};
inline void settle_fast_state(std::uint64_t run, std::size_t last_integer, std::size_t last_real,
                              const double* values) {
  RS.IDIGIT = static_cast<std::int32_t>(run % 10);  // the run's last digit
  RS.accu_wide = run > 2147483647;
  RS.accu_real = static_cast<double>(static_cast<std::int64_t>(run));  // 15 digits at most
  if (last_integer != kNone) {
    const auto value = static_cast<std::int32_t>(values[last_integer]);
    RS.IVAL = value;
    // The low 32 bits of the magnitude: -2147483648 has the same bits either way.
    RS.IACCU =
        value >= 0 ? value : static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(value));
  }
  if (last_real != kNone) RS.RVAL = values[last_real];
}

// The plain numbers that make up most data lines, recognised in one pass each: an optional
// sign, up to 15 digits, an optional fraction and an optional exponent of one to four digits,
// then an item end. Items go to kinds, values and texts from slot n on while they take this
// path; the count of slots filled comes back, position moves past them. Values and state come
// out exactly as ISINT or ISREAL leave them (the same double operations, from the same tables);
// the state is written once, after the run. Anything else (a leading point, long digit runs,
// PI, operators, a malformed exponent) ends the run and goes the full way.
//
// It relies on the line as the fetch leaves it: the sentinel "S" after the last column stops
// every scan, since it is no digit, sign, point, "E", blank or delimiter (see fast_numbers_fit).
// Eight-byte loads may look past the sentinel, never past the LINE array.
//
// kInside: the line ends before kLastLoad, so that eight-byte loads need no bound checks, and
// the arrays have room for every item the rest of the line can hold (each takes at least two
// columns, but the last), so that the count needs no check either. kExact: reals are valued
// from their text (exact_literals()).
template <bool kInside, bool kExact>
std::size_t fast_numbers(const char* line, std::int32_t& position, std::size_t n,
                         std::size_t capacity, std::int32_t* kinds, double* values, char* texts,
                         std::size_t slot) {
  const char* const end = line + RS.LENLIN;
  const char* const last_load = line + kLastLoad;
  const char delimiter = RS.CHDELM;
  constexpr std::uint64_t kMaxInt = 2147483647;
  const std::size_t first = n;
  std::size_t last_integer = kNone;
  std::size_t last_real = kNone;
  const char* p = line + position;
  std::uint64_t run = 0;  // the value of the last item's integer digits
  // Past the line's end p stands on the sentinel, which no item starts with.
  while (kInside || n < capacity) {
    const char* q = p;
    const bool negative = *q == '-';
    if (negative || *q == '+') ++q;
    const char* const number = q;
    std::uint64_t digits = 0;
    if (!is_digit(*q) || !digit_run(q, digits)) break;
    // At most 15 digits: the run converts exactly as a signed value, a cheaper conversion.
    double x = static_cast<double>(static_cast<std::int64_t>(digits));
    const auto whole_digits = static_cast<std::int32_t>(q - number);
    bool real = false;
    // Exact literals: the fraction's digits as an integer, their count, the exponent.
    std::uint64_t fraction = 0;
    std::int32_t fraction_count = 0;
    bool short_fraction = true;
    std::int32_t scale = 0;
    if (*q == '.') {
      real = true;
      ++q;
      if constexpr (kExact) {
        short_fraction = fraction_digits<kInside>(q, last_load, fraction, fraction_count);
      } else {
        // No digit after the point adds +0.0, which leaves x unchanged.
        x = x + fraction_sum<kInside>(q, last_load);
      }
    }
    if (*q == 'E') {
      real = true;
      ++q;
      const bool minus = *q == '-';
      if (minus || *q == '+') ++q;
      // One to four exponent digits; none means the number would end before the "E".
      std::int32_t exponent = *q - '0';
      if (exponent < 0 || exponent > 9) break;
      if (is_digit(*++q)) {
        exponent = exponent * 10 + (*q - '0');
        if (is_digit(*++q)) {
          exponent = exponent * 10 + (*q - '0');
          if (is_digit(*++q)) exponent = exponent * 10 + (*q++ - '0');
        }
      }
      scale = minus ? -exponent : exponent;
      if constexpr (!kExact) x = table_power_of_ten(scale) * x;
    }
    if (kExact && real) {
      // Valued from its text instead: the digits, point and exponent just taken, at once when
      // they fit the exact arithmetic, else by the general conversion.
      const bool fits = short_fraction && whole_digits + fraction_count <= 19;
      if (!fits || !exact_decimal(digits * kDecimalPowers[at(fraction_count)] + fraction,
                                  scale - fraction_count, x))
        x = exact_literal({number, static_cast<std::size_t>(q - number)});
    }
    // What ENDITM does after an item: blanks, at most one delimiter, blanks.
    if (*q == ' ') {
      q = skip_blanks<kInside>(q + 1, last_load);
      if (*q == delimiter) {
        ++q;
        if (*q == ' ') q = skip_blanks<kInside>(q + 1, last_load);
      }
    } else if (*q == delimiter) {
      ++q;
      if (*q == ' ') q = skip_blanks<kInside>(q + 1, last_load);
    } else if (q <= end) {
      break;  // no item end here
    }
    if (real) {
      kinds[n] = kReal;
      values[n] = negative ? -x : x;
      last_real = n;
    } else {
      if (digits > kMaxInt && !(negative && digits == kMaxInt + 1)) break;  // a real after all
      kinds[n] = kInteger;
      // -0 is the integer 0, a positive zero.
      values[n] = negative ? 0.0 - x : x;
      last_integer = n;
    }
    ++n;
    run = digits;
    p = q;
  }
  position = static_cast<std::int32_t>(p - line);
  // The numbers' text slots are blank; no call with a null pointer for no slots.
  if (slot > 0 && n > first) std::memset(texts + first * slot, ' ', (n - first) * slot);
  if (last_integer != kNone || last_real != kNone)
    settle_fast_state(run, last_integer, last_real, values);
  return n;
}

// fast_numbers with exact literals, out of line: RDMIX stays as small as it was for the default
// values, small enough to be inlined where it is called once per line.
[[gnu::noinline]] std::size_t exact_fast_numbers(bool inside, const char* line,
                                                 std::int32_t& position, std::size_t n,
                                                 std::size_t capacity, std::int32_t* kinds,
                                                 double* values, char* texts, std::size_t slot) {
  return inside
             ? fast_numbers<true, true>(line, position, n, capacity, kinds, values, texts, slot)
             : fast_numbers<false, true>(line, position, n, capacity, kinds, values, texts, slot);
}

// Delimiters the one-pass recogniser can take: no blank and nothing that can be part of a number.
constexpr auto kFastDelimiter = [] {
  std::array<bool, 256> table{};
  table.fill(true);
  for (const char c : std::string_view("0123456789+-.E "))
    table[static_cast<unsigned char>(c)] = false;
  table[static_cast<unsigned char>(kSentinel)] = false;
  return table;
}();
static_assert(kFastDelimiter[','] && !kFastDelimiter['E'] && !kFastDelimiter['S'] &&
              !kFastDelimiter[' '] && !kFastDelimiter['7']);

// The one-pass recogniser needs the line as the fetch leaves it and separators that cannot be
// part of a number.
bool fast_numbers_fit() {
  return g_fast_numbers && RS.LENLIN >= 0 && RS.LENLIN <= kMaxLine &&
         RS.LINE[at(RS.LENLIN + 1)] == kSentinel && RS.CHBLNK == ' ' &&
         kFastDelimiter[static_cast<unsigned char>(RS.CHDELM)];
}

}  // namespace

void use_fast_numbers(bool on) { g_fast_numbers = on; }

bool last_line_numeric() { return g_last_line_numeric; }

bool ISWORD() {
  if (RS.IPOS > RS.LENLIN) return false;
  SKIPBL();
  const std::int32_t start = RS.IPOS;
  const char saved_chcur = RS.CHCUR;
  const std::int32_t saved_digit = RS.IDIGIT;
  if (!LETTER()) return false;
  std::array<char, kWordMax> word;
  std::size_t length = 0;
  word[length++] = RS.CHCUR;
  while (length < word.size()) {
    if (LETTER()) {
      word[length++] = RS.CHCUR;
    } else if (DIGIT()) {
      word[length++] = RS.LINE[at(RS.IPOS - 1)];
    } else {
      break;
    }
  }
  if (!ENDITM()) {
    RS.IPOS = start;
    RS.CHCUR = saved_chcur;
    RS.IDIGIT = saved_digit;
    return false;
  }
  std::memcpy(&RS.TXTITM[1], word.data(), length);
  RS.LTXITM = static_cast<std::int32_t>(length);
  return true;
}

void WRDTXT(std::span<char> field) {
  const std::size_t length = static_cast<std::size_t>(std::clamp(RS.LTXITM, 0, kWordMax));
  const std::size_t n = std::min(length, field.size());
  std::memcpy(field.data(), &RS.TXTITM[1], n);
  std::memset(field.data() + n, ' ', field.size() - n);
}

bool ISFREE() {
  RS.ITMBEG = RS.IPOS;
  if (RDEOF() || ENDLIN() || ISINT() || ISREAL() || ISWORD()) {
    const std::int32_t back = RS.ITMBEG - RS.IPOS;
    RS.ITMBEG = 0;
    RS.ITMEND = 0;
    if (back != 0) MOVCUR(back);
    return false;
  }
  if (RDSTAT() != 0) return false;
  RS.ITMBEG = RS.IPOS;
  const std::string_view first = RAWCOL(RS.ITMBEG, RS.ITMBEG);
  if (first.empty() || kStopCharacters.find(first.front()) != std::string_view::npos) {
    RS.ITMBEG = 0;
    RS.ITMEND = 0;
    return false;
  }
  MOVCUR(0);
  RS.ITMEND = RS.IPOS;
  return true;
}

void FRETXT(std::span<char> field) {
  std::memset(field.data(), ' ', field.size());
  const std::int32_t length = RS.ITMEND - RS.ITMBEG;
  if (length <= 0 || RS.ITMBEG < 1) return;
  const std::int32_t m = std::min(length, static_cast<std::int32_t>(field.size()));
  const std::string_view text = RAWCOL(RS.ITMBEG, RS.ITMBEG + m - 1);
  std::memcpy(field.data(), text.data(), text.size());
  if (RS.IUPCAS == 1) zelp::UPCASE(field.first(text.size()));
}

void RDMIX(std::int32_t& count, std::span<std::int32_t> kinds, std::span<double> values,
           std::span<char> texts, std::int32_t width, std::int32_t unit, std::int32_t message_unit,
           std::int32_t& ierr) {
  g_last_line_numeric = false;
  if (unit <= 0) return;
  RDLINE();
  if (RDSTAT() != 0) {
    write_message(message_unit, "");
    write_message(message_unit, "  *** ERROR IN RDMIX");
    write_message(message_unit, "");
    if (ierr > INT32_MIN) --ierr;
    return;
  }
  if (RDEOF()) {
    count = -1;
    return;
  }
  // The fetch leaves the cursor on the line's first non-blank, where ENDLIN would neither move
  // it nor find the end: only another cursor needs the call.
  const std::int32_t first = RS.IPOS;
  const bool on_item =
      first >= 1 && first <= RS.LENLIN && first <= kMaxLine && RS.LINE[at(first)] != RS.CHBLNK;
  if (!on_item && ENDLIN()) {
    count = 0;
    return;
  }
  // The arrays are never written past their ends, whatever the line holds.
  const std::size_t slot = width > 0 ? static_cast<std::size_t>(width) : 0;
  std::size_t capacity = std::min(kinds.size(), values.size());
  if (slot > 0) capacity = std::min(capacity, texts.size() / slot);
  std::array<char, kItemField> field;
  const bool fast = fast_numbers_fit();
  const bool exact = exact_literals();
  std::size_t n = 0;
  bool numeric = true;  // no text item yet
  for (;;) {
    if (fast) {
      std::int32_t p = RS.IPOS;
      // Room for every item the rest of the line can hold: at most one per two columns.
      const auto rest = static_cast<std::size_t>(RS.LENLIN - p + 2) / 2;
      const bool inside = RS.LENLIN < kLastLoad && capacity - n >= rest;
      char* const line = RS.LINE.data();
      if (exact) {
        n = exact_fast_numbers(inside, line, p, n, capacity, kinds.data(), values.data(),
                               texts.data(), slot);
      } else if (inside) {
        n = fast_numbers<true, false>(line, p, n, capacity, kinds.data(), values.data(),
                                      texts.data(), slot);
      } else {
        n = fast_numbers<false, false>(line, p, n, capacity, kinds.data(), values.data(),
                                       texts.data(), slot);
      }
      RS.IPOS = p;
      if (p > RS.LENLIN) break;
    }
    if (n == capacity) break;
    std::span<char> text = texts.subspan(std::min(n * slot, texts.size()), slot > 0 ? slot : 0);
    if (ISWORD()) {
      numeric = false;
      kinds[n] = kText;
      values[n] = 0.0;
      WRDTXT(field);
      keep_text(field, text);
    } else if (ISINT()) {
      kinds[n] = kInteger;
      values[n] = IVALUE();
      std::fill(text.begin(), text.end(), ' ');
    } else if (ISREAL()) {
      kinds[n] = kReal;
      values[n] = RVALUE();
      std::fill(text.begin(), text.end(), ' ');
    } else if (ISFREE()) {
      numeric = false;
      kinds[n] = kText;
      values[n] = 0.0;
      FRETXT(field);
      keep_text(field, text);
    } else {
      break;
    }
    ++n;
    if (ENDLIN()) break;
  }
  count = static_cast<std::int32_t>(n);
  g_last_line_numeric = numeric && n > 0;
}

}  // namespace kud
