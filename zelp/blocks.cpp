#include "zelp/blocks.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <system_error>

namespace zelp {
namespace {

using namespace std::string_view_literals;

// Separators of the tokens of a heading line. A CR inside a line counts as a blank: tools that
// read the output take it for a line end.
constexpr bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Parses a block number (1 to 2147483647) at the start of text; false when none stands there.
bool block_number(std::string_view& text, std::int32_t& number) {
  const char* const end = text.data() + text.size();
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (error != std::errc{} || number < 1) return false;
  text.remove_prefix(static_cast<std::size_t>(stop - text.data()));
  return true;
}

// A token that a column may be named by: it holds a letter, is not a number by itself (1e5,
// inf, nan) and has no character that pandas, R or gnuplot would take for the start of a
// comment or a quoted field.
bool names_a_column(std::string_view token) {
  if (std::none_of(token.begin(), token.end(), is_letter)) return false;
  if (token.find_first_of("#\""sv) != std::string_view::npos) return false;
  std::string_view number = token;
  if (number.front() == '+') number.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  const bool whole = end == number.data() + number.size();
  return !(whole && (error == std::errc{} || error == std::errc::result_out_of_range));
}

// Calls take(token) for the blank-separated tokens of line, in order, while it returns true.
template <typename Take>
void for_each_token(std::string_view line, Take take) {
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_blank(line[at])) ++at;
    std::size_t end = at;
    while (end < line.size() && !is_blank(line[end])) ++end;
    if (end > at && !take(line.substr(at, end - at))) return;
    at = end;
  }
}

// Whether line has exactly columns tokens, all of them names.
bool names_every_column(std::string_view line, std::int32_t columns) {
  std::int32_t tokens = 0;
  bool names = true;
  for_each_token(line, [&](std::string_view token) {
    names = ++tokens <= columns && names_a_column(token);
    return names;
  });
  return names && tokens == columns;
}

// Appends part to out at length, as far as it fits.
void append(std::span<char> out, std::size_t& length, std::string_view part) {
  const std::size_t n = std::min(part.size(), out.size() - length);
  std::copy_n(part.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(length));
  length += n;
}

}  // namespace

bool BlockList::parse(std::string_view text) {
  std::vector<Range> ranges;
  for (;;) {
    Range range{};
    if (!block_number(text, range.first)) return false;
    range.last = range.first;
    if (!text.empty() && text.front() == '-') {
      text.remove_prefix(1);
      if (!block_number(text, range.last) || range.last < range.first) return false;
    }
    ranges.push_back(range);
    if (text.empty()) break;
    if (text.front() != ',') return false;
    text.remove_prefix(1);
  }
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.first < b.first; });
  ranges_.clear();
  for (const Range& range : ranges) {
    // Widened: the last block number plus one does not fit 32 bits.
    if (!ranges_.empty() && std::int64_t{range.first} <= std::int64_t{ranges_.back().last} + 1) {
      ranges_.back().last = std::max(ranges_.back().last, range.last);
    } else {
      ranges_.push_back(range);
    }
  }
  return true;
}

bool BlockList::contains(std::int32_t block) const {
  const auto after = std::upper_bound(ranges_.begin(), ranges_.end(), block,
                                      [](std::int32_t b, const Range& r) { return b < r.first; });
  return after != ranges_.begin() && block <= std::prev(after)->last;
}

std::int32_t BlockList::first_missing(std::int32_t count) const {
  for (const Range& range : ranges_) {
    if (range.last > count) return std::max(range.first, count + 1);
  }
  return 0;
}

void Blocks::reset() {
  held_ = 0;
  next_ = 0;
  heading_open_ = false;
  in_block_ = false;
  columns_ = 0;
  number_ = 0;
}

void Blocks::text_line(std::string_view line, bool keep) {
  in_block_ = false;
  if (!heading_open_) {
    held_ = 0;
    heading_open_ = true;
  }
  if (!keep) return;
  line = line.substr(0, kLineRoom);
  std::copy(line.begin(), line.end(), lines_[next_].begin());
  sizes_[next_] = line.size();
  next_ = (next_ + 1) % kHeadingLines;
  held_ = std::min(held_ + 1, kHeadingLines);
}

bool Blocks::data_line(std::int32_t count) {
  if (in_block_ && count == columns_) return false;
  // A block that follows another without text in between has no heading of its own.
  if (!heading_open_) held_ = 0;
  heading_open_ = false;
  in_block_ = true;
  columns_ = count;
  kud::count_up(number_);
  return true;
}

std::string_view Blocks::names(char separator, std::span<char> out) const {
  std::size_t length = 0;
  for (std::size_t back = 1; back <= held_; ++back) {
    const std::size_t slot = (next_ + kHeadingLines - back) % kHeadingLines;
    const std::string_view line(lines_[slot].data(), sizes_[slot]);
    if (!names_every_column(line, columns_)) continue;
    for_each_token(line, [&](std::string_view token) {
      if (length > 0) append(out, length, {&separator, 1});
      append(out, length, token);
      return true;
    });
    return {out.data(), length};
  }
  for (std::int32_t column = 1; column <= columns_; ++column) {
    std::array<char, 16> digits;
    const auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), column);
    if (column > 1) append(out, length, {&separator, 1});
    append(out, length, "col"sv);
    append(out, length, {digits.data(), static_cast<std::size_t>(end - digits.data())});
  }
  return {out.data(), length};
}

}  // namespace zelp
