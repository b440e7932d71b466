#include "zelp/listing.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string_view>

namespace zelp {
namespace {

using namespace std::string_view_literals;

// Each number is right-aligned under its heading; one wider than that (a block number beyond
// 99999) pushes the rest of its row to the right, still two blanks from its neighbours.
constexpr std::array<std::size_t, 5> kWidths = {5, 10, 10, 10, 7};
constexpr std::string_view kHeader =
    "block  first line   last line  data lines  columns  names\n"sv;
constexpr std::string_view kGap = "  "sv;

void put(std::span<char> out, std::size_t& length, std::string_view text) {
  std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(length));
  length += text.size();
}

}  // namespace

std::string_view block_table_header() { return kHeader; }

std::string_view block_table_row(const BlockRow& block, std::span<char> out) {
  const std::array<std::int32_t, 5> numbers = {block.number, block.first_line, block.last_line,
                                               block.data_lines, block.columns};
  std::size_t length = 0;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    std::array<char, 16> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), numbers[i]).ptr;
    const auto size = static_cast<std::size_t>(end - digits.data());
    if (i > 0) put(out, length, kGap);
    for (std::size_t pad = size; pad < kWidths[i]; ++pad) out[length++] = ' ';
    put(out, length, {digits.data(), size});
  }
  put(out, length, kGap);
  put(out, length, block.names);
  out[length++] = '\n';
  return {out.data(), length};
}

}  // namespace zelp
