// The table of blocks that --list prints: a header row and one row per block, columns aligned
// for a person to read, each row ending in LF.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zelp {

struct BlockRow {
  std::int32_t number = 0;
  std::int32_t first_line = 0;  // input line numbers, every record counted
  std::int32_t last_line = 0;
  std::int32_t data_lines = 0;
  std::int32_t columns = 0;
  std::string_view names;  // blank-separated
};

// Characters a row needs besides its names.
inline constexpr std::size_t kBlockRowRoom = 80;

[[nodiscard]] std::string_view block_table_header();

// The row of block, into out (names.size() + kBlockRowRoom characters at least).
[[nodiscard]] std::string_view block_table_row(const BlockRow& block, std::span<char> out);

}  // namespace zelp
