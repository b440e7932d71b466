// render_field on any 8-byte double with either decimal mark. The 14 characters are the value
// rounded to three decimals, as printf's exact "%.3f" gives it, right-aligned; 14 asterisks
// when that text is wider; "Infinity", "-Infinity" or "NaN" right-aligned for non-finite
// values. A value that rounds to zero carries no minus sign, and the text reads back with
// strtod to within half a thousandth of the value.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "zelp/records.hpp"

namespace {

constexpr std::size_t kWidth = 14;

std::string right_aligned(std::string_view text) {
  return std::string(kWidth - text.size(), ' ') + std::string(text);
}

// What the field must hold for a finite value.
std::string expected_field(double value, char mark) {
  std::array<char, 512> text{};
  const int n = std::snprintf(text.data(), text.size(), "%.3f", value);
  if (n <= 0 || static_cast<std::size_t>(n) >= text.size()) return std::string(kWidth, '*');
  std::string shown(text.data(), static_cast<std::size_t>(n));
  if (shown.front() == '-' && shown.find_first_not_of("-0.") == std::string::npos)
    shown.erase(0, 1);
  if (shown.size() > kWidth) return std::string(kWidth, '*');
  shown[shown.size() - 4] = mark;
  return right_aligned(shown);
}

void check(double value, char mark) {
  std::array<char, kWidth> field{};
  zelp::render_field(value, field, mark);
  const std::string got(field.data(), field.size());
  if (std::isnan(value)) {
    if (got != right_aligned("NaN")) fuzz::violated();
    return;
  }
  if (std::isinf(value)) {
    if (got != right_aligned(value < 0 ? "-Infinity" : "Infinity")) fuzz::violated();
    return;
  }
  if (got != expected_field(value, mark)) fuzz::violated();
  if (got == std::string(kWidth, '*')) return;

  // The digits read back: blanks on the left only, one mark, three decimals.
  const std::size_t first = got.find_first_not_of(' ');
  if (first == std::string::npos || got[kWidth - 4] != mark) fuzz::violated();
  std::string digits = got.substr(first);
  digits[digits.size() - 4] = '.';
  char* end = nullptr;
  const double back = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() + digits.size()) fuzz::violated();
  // Half a thousandth, widened by the rounding of the two conversions.
  const double slack = 0.0005 + std::fabs(value) * 4e-16;
  if (!(std::fabs(back - value) <= slack)) fuzz::violated();
  if (back == 0.0 && digits.front() == '-') fuzz::violated();
  if (value > 0.0 && digits.front() == '-') fuzz::violated();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every 8 bytes are one double; the byte after them (or its absence) picks the mark.
  for (std::size_t at = 0; at + sizeof(double) <= size; at += sizeof(double) + 1) {
    double value = 0.0;
    std::memcpy(&value, data + at, sizeof value);
    const std::size_t mark_at = at + sizeof(double);
    const char mark = mark_at < size && (data[mark_at] & 1) != 0 ? ',' : '.';
    check(value, mark);
    // The same value scaled into the range where fields show digits.
    if (std::isfinite(value)) check(std::fmod(value, 1.0e11), mark);
  }
  return 0;
}
