// Blocks: the tables of an input. A block is a maximal run of data lines that no text line
// interrupts and that all hold the same number of values; blocks are numbered from 1. Its
// heading is the text lines between the block before (or the start) and its first data line,
// and its column names come from there. Nothing here allocates on the per-line path.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "kud/reader/reader_state.hpp"

namespace zelp {

// The blocks named on the command line ("2", "1,3", "2-4", "1,3-5").
class BlockList {
 public:
  // Takes a list of block numbers and ranges FIRST-LAST (FIRST <= LAST), separated by commas;
  // every number from 1 to 2147483647. False, and the list unchanged, when text is not one.
  [[nodiscard]] bool parse(std::string_view text);
  [[nodiscard]] bool contains(std::int32_t block) const;
  // The smallest block listed beyond count, or 0 when count blocks cover the list.
  [[nodiscard]] std::int32_t first_missing(std::int32_t count) const;

 private:
  struct Range {
    std::int32_t first;
    std::int32_t last;
  };
  std::vector<Range> ranges_;  // sorted, neither overlapping nor adjacent
};

// Follows the lines of an input through its blocks and keeps the last lines of the heading
// being read, from which the names of the next block come.
class Blocks {
 public:
  static constexpr std::size_t kHeadingLines = 8;  // the heading lines held
  static constexpr std::size_t kLineRoom = static_cast<std::size_t>(kud::kMaxLine);

  // Back to the start of an input.
  void reset();
  // A text line as read (cut to kLineRoom characters): it ends the block, and belongs to the
  // heading of the next one. keep: hold it for the names.
  void text_line(std::string_view line, bool keep);
  // A data line of count values. True when it starts a block, whose number is then number().
  [[nodiscard]] bool data_line(std::int32_t count);
  // The number of the last block started; 0 before the first.
  [[nodiscard]] std::int32_t number() const { return number_; }
  // The number the next block will have (the counter stops at 2147483647).
  [[nodiscard]] std::int32_t next_number() const {
    return number_ < kud::kMaxCount ? number_ + 1 : number_;
  }
  // The names of the columns of the block just started, separator between them, into out
  // (which must hold kLineRoom + 8 * count characters): the blank-separated tokens of the last
  // of the heading's final eight lines that has one token per column, each holding a letter
  // and none a number on its own or a mark that analysis tools read as a comment or a quote
  // ("#", '"'); otherwise col1 ... colN.
  [[nodiscard]] std::string_view names(char separator, std::span<char> out) const;

 private:
  std::array<std::array<char, kLineRoom>, kHeadingLines> lines_{};
  std::array<std::size_t, kHeadingLines> sizes_{};
  std::size_t held_ = 0;       // lines held, at most kHeadingLines
  std::size_t next_ = 0;       // where the next line goes
  bool heading_open_ = false;  // a text line came since the last block started
  bool in_block_ = false;      // the last line counted was a data line
  std::int32_t columns_ = 0;
  std::int32_t number_ = 0;
};

}  // namespace zelp
