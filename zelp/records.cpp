#include "zelp/records.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

#include "kud/text/text.hpp"
#include "zelp/digits.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kBlank54 = "                                                      "sv;
constexpr std::string_view kBlank59 =
    "                                                           "sv;
constexpr std::string_view kFrameEdge =
    "           ================================================"sv;
constexpr std::string_view kFrameEmpty =
    "           -                                              -"sv;
constexpr std::string_view kFrameTitle =
    "           -             **** Z E L P ****                -"sv;
constexpr std::string_view kFrameLine1 =
    "           -     Extracts lines with plot data            -"sv;
constexpr std::string_view kFrameLine2 =
    "           -     Prints data separated with TAB           -"sv;
constexpr std::string_view kFrameLine3 =
    "           -     for fast import in EXCEL.                -"sv;
constexpr std::string_view kFrameContact =
    "           -                        see: man zelp         -"sv;

constexpr std::array<std::string_view, 16> kBanner = {
    kBlank54,    kBlank59,    kBlank59,    kBlank59,    kFrameEdge,  kFrameEmpty,
    kFrameTitle, kFrameEmpty, kFrameLine1, kFrameLine2, kFrameLine3, kFrameContact,
    kFrameEdge,  kBlank59,    kBlank59,    kBlank59};

constexpr bool banner_shape_ok() {
  if (kBlank54.size() != 54 || kBlank54.find_first_not_of(' ') != std::string_view::npos)
    return false;
  if (kBlank59.size() != 59 || kBlank59.find_first_not_of(' ') != std::string_view::npos)
    return false;
  for (std::size_t i = 4; i <= 12; ++i) {
    const std::string_view r = kBanner[i];
    if (r.size() != 59 || r.substr(0, 11).find_first_not_of(' ') != std::string_view::npos)
      return false;
    const char border = (i == 4 || i == 12) ? '=' : '-';
    if (r[11] != border || r[58] != border) return false;
  }
  return true;
}
static_assert(banner_shape_ok());

constexpr std::string_view kSummaryText = " lines with plot data found"sv;
static_assert(kCountWidth + kSummaryText.size() == 33);

// Widest finite value worth formatting: anything at or above this is asterisks whatever the
// rounding, and the text of anything below it fits kScratch.
constexpr double kFormatLimit = 1.0e11;
constexpr std::size_t kScratch = 32;

void right_align(std::string_view text, std::span<char> field) {
  const std::size_t pad = field.size() - text.size();
  std::fill_n(field.begin(), pad, ' ');
  std::copy(text.begin(), text.end(), field.begin() + static_cast<std::ptrdiff_t>(pad));
}

}  // namespace

void render_field_reference(double value, std::span<char, kFieldWidth> field, char decimal_mark) {
  if (std::isnan(value)) return right_align("NaN"sv, field);
  if (std::isinf(value)) return right_align(value < 0 ? "-Infinity"sv : "Infinity"sv, field);
  if (std::fabs(value) >= kFormatLimit) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  std::array<char, kScratch> text{};
  // to_chars works on the exact binary value and breaks ties to even.
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 3);
  if (ec != std::errc{}) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  std::string_view shown(text.data(), static_cast<std::size_t>(end - text.data()));
  // A value that rounds to zero, and negative zero, are shown without a sign.
  if (shown.front() == '-' && shown.find_first_not_of("-0."sv) == std::string_view::npos)
    shown.remove_prefix(1);
  if (shown.size() > field.size()) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  right_align(shown, field);
  const std::size_t point = field.size() - 4;
  field[point] = decimal_mark;
}

namespace {

// The rounded value in thousandths, half to even on the exact double, for a finite value below
// kFormatLimit in magnitude. The value is m * 2**e exactly. Rounding m * 1000 * 2**e to an
// integer is exact in 64-bit integer arithmetic: m < 2**53 and 1000 < 2**10, so m * 1000 < 2**63.
std::uint64_t thousandths(std::uint64_t bits) {
  const auto biased = static_cast<std::int32_t>((bits >> 52) & 0x7FF);
  constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
  const std::uint64_t fraction = bits & (kHidden - 1);
  const std::uint64_t mantissa = biased == 0 ? fraction : fraction | kHidden;
  const std::int32_t exponent = (biased == 0 ? 1 : biased) - 1075;
  const std::uint64_t scaled = mantissa * 1000;
  if (exponent >= 0) return scaled << exponent;  // below 1e11 * 1000 < 2**47: no bits lost
  if (exponent <= -64) return 0;                 // below 2**-64 * 2**63, under half a thousandth
  const auto shift = static_cast<std::uint32_t>(-exponent);
  std::uint64_t q = scaled >> shift;
  const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
  const std::uint64_t half = std::uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  return q;
}

// The field of q thousandths (below 10**13, or 10**12 with minus) from its 16 zero-padded
// digits: digits 4..13, the mark, digits 14..16.
void render_wide(std::uint64_t q, bool minus, std::span<char, kFieldWidth> field,
                 char decimal_mark) {
  constexpr std::uint64_t kEight = 100'000'000;
  constexpr std::uint64_t kZeros = 0x3030303030303030;  // "00000000"
  const std::uint64_t high =
      q < kEight ? kZeros : eight_digits(static_cast<std::uint32_t>(q / kEight));
  const std::uint64_t low = eight_digits(static_cast<std::uint32_t>(q % kEight));
  std::array<char, 16> digits;
  std::memcpy(digits.data(), &high, 8);
  std::memcpy(digits.data() + 8, &low, 8);
  std::memcpy(field.data(), digits.data() + 3, 10);
  field[10] = decimal_mark;
  std::memcpy(field.data() + 11, digits.data() + 13, 3);
  // Leading zeros of the integer part become blanks ('0' - 0x10); its last digit stays.
  std::uint64_t head;
  std::memcpy(&head, field.data(), 8);
  const std::uint64_t others = head ^ 0x3030303030303030;  // zero bytes where a '0' stands
  std::size_t zeros = others == 0 ? 8 : static_cast<std::size_t>(std::countr_zero(others)) / 8;
  const std::uint64_t leading =
      zeros == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * zeros)) - 1;
  head -= leading & 0x1010101010101010;
  std::memcpy(field.data(), &head, 8);
  if (zeros == 8 && field[8] == '0') {
    field[8] = ' ';
    zeros = 9;
  }
  if (minus) field[zeros - 1] = '-';  // a minus always has a blank to stand in
}

// render_step for q thousandths of 10**8 or more, rounded already (minus: a negative value):
// the field and its TAB. Kept out of the common path.
[[gnu::noinline]] void render_step_large(std::uint64_t q, bool minus, char* out,
                                         char decimal_mark) {
  const std::span<char, kFieldWidth> field(out, kFieldWidth);
  out[kFieldWidth] = kTab;
  // 10 integer digits fit, or 9 after a minus sign: q below 10**13, or 10**12.
  if (q >= (minus ? 1'000'000'000'000u : 10'000'000'000'000u)) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  render_wide(q, minus, field, decimal_mark);
}

// render_step for a value that is not finite or of 2**37 or more in magnitude.
void render_step_rare(double value, char* out, char decimal_mark) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (((bits >> 52) & 0x7FF) == 0x7FF || std::fabs(value) >= kFormatLimit) {
    out[kFieldWidth] = kTab;
    return render_field_reference(value, std::span<char, kFieldWidth>(out, kFieldWidth),
                                  decimal_mark);
  }
  const std::uint64_t q = thousandths(bits);
  const bool minus = (bits >> 63) != 0 && q != 0;  // no sign on a value that rounds to zero
  render_step_large(q, minus, out, decimal_mark);
}

// Blank masks for k = 0..4 leading zeros of the integer part: '0' - 0x10 is the blank.
constexpr std::array<std::uint64_t, 5> kLeadingBlanks = {0, 0x10, 0x1010, 0x101010, 0x10101010};

// Field columns 7..10 (the last four before the mark) for an integer part a below 1000, index
// a, and with a minus sign, index 1000 + a: a right-aligned, blank-padded, the first character
// in the lowest byte.
constexpr auto kIntegerParts = [] {
  std::array<std::uint32_t, 2000> table{};
  for (std::uint32_t i = 0; i < table.size(); ++i) {
    std::uint32_t a = i % 1000;
    std::uint32_t word = 0;
    std::uint32_t shift = 24;
    do {
      word |= ('0' + a % 10) << shift;
      a /= 10;
      shift -= 8;
    } while (a != 0);
    if (i >= 1000) {
      word |= std::uint32_t{'-'} << shift;
      shift -= 8;
    }
    for (; shift < 32; shift -= 8) word |= std::uint32_t{' '} << shift;  // wraps below 0
    table[i] = word;
  }
  return table;
}();
static_assert(kIntegerParts[7] == 0x37202020 && kIntegerParts[1999] == 0x3939392D &&
              kIntegerParts[1012] == 0x32312D20 && kIntegerParts[1000] == 0x302D2020);

// The three digits of b below 1000, zero-padded, the first in the lowest byte.
constexpr auto kThousandths = [] {
  std::array<std::uint32_t, 1000> table{};
  for (std::uint32_t b = 0; b < table.size(); ++b)
    table[b] = ('0' + b / 100) | ('0' + b / 10 % 10) << 8 | ('0' + b % 10) << 16;
  return table;
}();
static_assert(kThousandths[7] == 0x373030 && kThousandths[980] == 0x303839);

// 2**(shift - 1) - 1 for shift = 1075 - biased, indexed by biased mod 64: the biased exponents
// 1012..1059 that render_step shifts for fall on distinct indexes.
constexpr auto kHalfLessOne = [] {
  std::array<std::uint64_t, 64> table{};
  for (std::uint32_t biased = 1012; biased < 1060; ++biased)
    table[biased & 63] = (std::uint64_t{1} << (1075 - biased - 1)) - 1;
  return table;
}();
static_assert(kHalfLessOne[1059 & 63] == (1u << 15) - 1 &&
              kHalfLessOne[1012 & 63] == (1ull << 62) - 1);

// Writes the field of value, its TAB and one byte of scratch: 16 bytes from out on. mark_tab
// holds the decimal mark in byte 2 and the TAB in byte 6.
inline void render_step(double value, char* out, std::uint64_t mark_tab) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  constexpr std::uint64_t kEight = 100'000'000;
  const auto biased = static_cast<std::uint32_t>((bits >> 52) & 0x7FF);
  // Below 2**-11 < 0.0005 in magnitude (zeros and subnormals included) a value rounds to 0.
  std::uint64_t q = 0;
  if (biased >= 1023 - 11) {
    // Finite and below 2**37 > 1e11 in magnitude; the finer checks happen in the rare path.
    if (biased >= 1023 + 37) {
      return render_step_rare(value, out, static_cast<char>((mark_tab >> 16) & 0xFF));
    }
    // As thousandths(), for an exponent that always shifts right, by 16 to 63 bits:
    // m * 1000 * 2**-shift rounded half to even. Adding half - 1, and one more when the
    // truncated quotient is odd, carries into the quotient exactly when it must round up;
    // m * 1000 < 2**63 leaves room for the sum.
    constexpr std::uint64_t kHidden = std::uint64_t{1} << 52;
    const std::uint64_t scaled = ((bits & (kHidden - 1)) | kHidden) * 1000;
    const std::uint32_t shift = 1075 - biased;
    const std::uint64_t odd = (scaled >> shift) & 1;
    q = (scaled + kHalfLessOne[biased & 63] + odd) >> shift;
  }
  const bool minus = (bits >> 63) != 0 && q != 0;  // no sign on a value rounding to 0
  if (q < 1'000'000) {
    // An integer part below 1000: six blanks, its four columns from a table (sign included),
    // the mark, the three decimals from a table and the TAB, as two eight-byte words.
    // q / 1000 by a reciprocal: 4294968 / 2**32 exceeds 1 / 1000 by less than 2**-32, which
    // moves no quotient below 10**6 past the next integer.
    const std::uint64_t a = (q * 4294968) >> 32;
    const std::uint64_t integer = kIntegerParts[a + (minus ? 1000 : 0)];
    const std::uint64_t first = 0x0000202020202020 | integer << 48;
    const std::uint64_t second =
        integer >> 16 | std::uint64_t{kThousandths[q - a * 1000]} << 24 | mark_tab;
    std::memcpy(out, &first, 8);
    std::memcpy(out + 8, &second, 8);
    return;
  }
  if (q >= kEight) return render_step_large(q, minus, out, static_cast<char>(mark_tab >> 16));
  // Below 10**8 thousandths: five blanks, the five integer digits d0..d4, the mark, d5..d7 and
  // the TAB, as two eight-byte words. Leading zeros among d0..d3 become blanks.
  std::uint64_t digits = eight_digits(static_cast<std::uint32_t>(q));  // d0 in the lowest byte
  // Bit 32 caps the count at four: d4 always shows.
  const auto zeros = static_cast<std::size_t>(
      std::countr_zero((digits - 0x3030303030303030) | (std::uint64_t{1} << 32)) / 8);
  digits -= kLeadingBlanks[zeros];
  const std::uint64_t first = 0x0000002020202020 | (digits << 40);
  const std::uint64_t second =
      ((digits >> 24) & 0xFFFF) | ((digits >> 16) & 0x00FFFFFF000000) | mark_tab;
  std::memcpy(out, &first, 8);
  std::memcpy(out + 8, &second, 8);
  if (minus) out[4 + zeros] = '-';
}

std::uint64_t mark_and_tab(char decimal_mark) {
  return static_cast<std::uint64_t>(static_cast<unsigned char>(decimal_mark)) << 16 |
         static_cast<std::uint64_t>(kTab) << 48;
}

}  // namespace

void render_field(double value, std::span<char, kFieldWidth> field, char decimal_mark) {
  std::array<char, 16> step;
  render_step(value, step.data(), mark_and_tab(decimal_mark));
  std::memcpy(field.data(), step.data(), field.size());
}

void render_count(std::int32_t n, std::span<char, kCountWidth> field) {
  std::array<char, kScratch> text{};
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), n);
  const auto length = static_cast<std::size_t>(end - text.data());
  if (ec != std::errc{} || length > field.size()) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  right_align(std::string_view(text.data(), length), field);
}

std::size_t assemble_data_record(std::span<const double> values, std::span<char> record,
                                 char decimal_mark) {
  constexpr auto kStep = static_cast<std::size_t>(kFieldStep);
  // Only whole fields are written, and only inside record.
  const std::size_t n = std::min(values.size(), record.size() / kStep);
  // Each step writes one byte of scratch after its TAB, which the next field covers; the
  // last field goes through a holder, so that nothing after the record's end changes.
  const std::size_t direct = n > 0 ? n - 1 : 0;
  char* out = record.data();
  const std::uint64_t mark_tab = mark_and_tab(decimal_mark);
  for (std::size_t i = 0; i < direct; ++i) render_step(values[i], out + i * kStep, mark_tab);
  if (direct < n) {
    std::array<char, 16> step;
    render_step(values[direct], step.data(), mark_tab);
    std::memcpy(out + direct * kStep, step.data(), kStep);
  }
  return n * kStep;
}

std::string_view assemble_text_record(std::string_view line, std::span<char> out) {
  if (out.empty()) return {};
  out[0] = '#';
  const auto last = static_cast<std::size_t>(LENTRM(line));
  const std::size_t length = std::min(std::max(last, std::size_t{1}), out.size());
  if (length > 1) std::copy_n(line.begin() + 1, length - 1, out.begin() + 1);
  return {out.data(), length};
}

std::span<const std::string_view> banner_records() { return kBanner; }

std::string_view summary_record(std::int32_t count, std::span<char> out, WideCount wide) {
  std::array<char, kScratch> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), count).ptr;
  const std::string_view digits(text.data(), static_cast<std::size_t>(end - text.data()));
  constexpr auto kField = static_cast<std::size_t>(kCountWidth);
  const bool whole = wide == WideCount::kWhole && digits.size() > kField;
  const std::size_t width = whole ? digits.size() : kField;
  if (out.size() < width + kSummaryText.size()) return {};
  if (whole) {
    std::copy(digits.begin(), digits.end(), out.begin());
  } else {
    render_count(count, out.first<kCountWidth>());
  }
  std::copy(kSummaryText.begin(), kSummaryText.end(),
            out.begin() + static_cast<std::ptrdiff_t>(width));
  return {out.data(), width + kSummaryText.size()};
}

}  // namespace zelp
