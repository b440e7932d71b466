// Any line split with exact literals, as the output for analysis tools reads it: the shortest
// text of every value is what std::to_chars writes and reads back as the very same double, and
// when the line is nothing but plain numbers, every value is the double nearest to its number's
// text (as strtod gives it).
#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "kud/numeric/literals.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/reader_state.hpp"
#include "zelp/shortest.hpp"

namespace {

std::array<std::int32_t, 1024> kinds;
std::array<double, 1024> values;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A sign, digits with at most one point among or after them (at least one digit), and an
// optional exponent of one to four digits: a number the reader values from its text alone.
bool plain_literal(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < t.size() && is_digit(t[i]); ++i) ++digits;
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && is_digit(t[i]); ++i) ++digits;
  }
  if (digits == 0) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t exponent = 0;
    for (; i < t.size() && is_digit(t[i]); ++i) ++exponent;
    if (exponent == 0 || exponent > 4) return false;
  }
  return i == t.size();
}

// The shortest text of value is std::to_chars's and reads back as value.
void check_shortest(double value) {
  std::array<char, zelp::kShortestWidth> text;
  std::array<char, zelp::kShortestWidth> reference;
  const std::size_t n = zelp::render_shortest(value, text);
  if (n != zelp::render_shortest_reference(value, reference) ||
      std::memcmp(text.data(), reference.data(), n) != 0)
    fuzz::violated();
  double back = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + n, back);
  // "nan" reads back as a NaN, whatever the sign bit of the one written.
  const bool same = std::isnan(value)
                        ? std::isnan(back)
                        : std::bit_cast<std::uint64_t>(back) == std::bit_cast<std::uint64_t>(value);
  if (end != text.data() + n || (error == std::errc{} && !same)) fuzz::violated();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find_first_of(std::string_view("\n\0", 2)));
  line = line.substr(0, static_cast<std::size_t>(kud::kMaxLine));
  // The pieces as the reader separates items: blanks and TABs, and at most one comma between
  // two items. A piece that starts with a comma is no number: the line is not plain.
  std::vector<std::string_view> pieces;
  bool plain = true;
  const auto skip_blanks = [&](std::size_t at) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    return at;
  };
  for (std::size_t at = skip_blanks(0); at < line.size();) {
    const std::size_t end = std::min(line.find_first_of(" \t,", at), line.size());
    if (end == at) {
      plain = false;
      break;
    }
    pieces.push_back(line.substr(at, end - at));
    at = skip_blanks(end);
    if (at < line.size() && line[at] == ',') at = skip_blanks(at + 1);
  }
  kud::reset_reader_state();
  std::memcpy(&kud::RS.MEMTXT[1], line.data(), line.size());
  kud::RS.MEMTXT[line.size() + 1] = '\n';
  kud::RS.MEMLEN = static_cast<std::int32_t>(line.size() + 1);
  std::int32_t ierr = 0;
  kud::INIFII(kud::kMemoryUnit, -1, ierr);
  kud::RDSET(kud::kMaxLine, kud::kSetNchlin);
  kud::use_exact_literals(true);
  std::int32_t count = 0;
  kud::RDMIX(count, kinds, values, {}, 0, 88, -1, ierr);
  kud::use_exact_literals(false);
  for (std::int32_t i = 0; i < count; ++i) {
    if (kinds[static_cast<std::size_t>(i)] != kud::kText)
      check_shortest(values[static_cast<std::size_t>(i)]);
  }
  // Only a line of plain numbers pairs its pieces with its items one to one.
  if (!plain || count != static_cast<std::int32_t>(pieces.size())) return 0;
  for (const std::string_view piece : pieces) {
    if (!plain_literal(piece)) return 0;
  }
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    // The value strtod gives the text; an integer item is a whole number (-0 is the integer 0).
    const double want = std::strtod(std::string(pieces[i]).c_str(), nullptr);
    if (kinds[i] == kud::kText ||
        (kinds[i] == kud::kInteger
             ? values[i] != want
             : std::bit_cast<std::uint64_t>(values[i]) != std::bit_cast<std::uint64_t>(want)))
      fuzz::violated();
  }
  return 0;
}
