// PROMPT, UPCASE and LENTRM on fixed-length, blank-padded texts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kud/io/units.hpp"
#include "kud/text/text.hpp"

namespace {

// A text of length blanks with the given characters placed at 1-based positions.
std::string text_with(std::size_t length, const std::vector<std::pair<std::size_t, char>>& marks) {
  std::string text(length, ' ');
  for (const auto& [position, c] : marks) text[position - 1] = c;
  return text;
}

// The last non-blank position by the plain definition, for comparison.
std::int32_t last_non_blank(std::string_view text) {
  for (std::size_t i = text.size(); i > 0; --i) {
    if (text[i - 1] != ' ') return static_cast<std::int32_t>(i);
  }
  return 0;
}

TEST(Lentrm, Table) {
  struct Row {
    const char* what;
    std::string text;
    std::int32_t expected;
  };
  const std::vector<Row> rows = {
      {"all blank 256", std::string(256, ' '), 0},
      {"only position 1", text_with(256, {{1, 'x'}}), 1},
      {"only position 256", text_with(256, {{256, 'x'}}), 256},
      {"ends at probe 51", text_with(256, {{1, 'a'}, {51, 'b'}}), 51},
      {"ends at probe 26", text_with(256, {{26, 'b'}}), 26},
      {"ends just after probe 26", text_with(256, {{27, 'b'}}), 27},
      {"ends at 40", text_with(256, {{3, 'a'}, {40, 'z'}}), 40},
      {"ends at 178", text_with(256, {{178, 'z'}}), 178},
      {"ends at 180", text_with(256, {{180, 'z'}}), 180},
      {"ends with TAB", text_with(256, {{1, '1'}, {15, '\t'}}), 15},
      {"TAB only at 256", text_with(256, {{256, '\t'}}), 256},
      {"NUL is content", text_with(100, {{60, '\0'}}), 60},
      {"byte above 127 is content", text_with(256, {{200, '\xe9'}}), 200},
      {"blank within text", text_with(256, {{1, 'a'}, {9, 'b'}}), 9},
      {"length 1 blank", " ", 0},
      {"length 1 non-blank", "x", 1},
      {"length 2", " x", 2},
      {"length 0", "", 0},
      {"data record of 17 values", std::string(254, '0') + "\t", 255},
      {"long text 4000", text_with(4000, {{3999, 'q'}}), 3999},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(zelp::LENTRM(row.text), row.expected);
  }
}

TEST(Lentrm, ProbePositions) {
  struct Row {
    std::int32_t length;
    std::array<std::int32_t, 5> expected;
  };
  const Row rows[] = {
      {256, {26, 51, 77, 102, 179}},
      {10, {1, 2, 3, 4, 7}},
      // 0.7f lies below 0.7, so 5 * 0.7f is just below 3.5 and rounds down.
      {5, {1, 1, 2, 2, 3}},
      {1, {0, 0, 0, 0, 1}},
      {0, {0, 0, 0, 0, 0}},
      {2048, {205, 410, 614, 819, 1434}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.length);
    for (std::size_t k = 0; k < 5; ++k)
      EXPECT_EQ(zelp::lentrm_probe(row.length, k), row.expected[k]);
    EXPECT_EQ(zelp::lentrm_probe(row.length, 5), 0);
  }
}

// The probe and the block scan only shorten the work: every text agrees with the plain scan.
TEST(Lentrm, AgreesWithPlainScanOnRandomTexts) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<std::size_t> length_of(0, 600);
  const char alphabet[] = {' ', ' ', ' ', 'a', '\t', '\0', '\x80', '\xff'};
  for (int round = 0; round < 20000; ++round) {
    const std::size_t length = length_of(rng);
    std::string text(length, ' ');
    if (length > 0) {
      const std::size_t end = std::uniform_int_distribution<std::size_t>(0, length)(rng);
      for (std::size_t i = 0; i < end; ++i) text[i] = alphabet[rng() % sizeof alphabet];
    }
    ASSERT_EQ(zelp::LENTRM(text), last_non_blank(text)) << "length " << length;
  }
}

TEST(Upcase, Table) {
  struct Row {
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"123 abc!", "123 ABC!"},
      {"azAZ`{@[", "AZAZ`{@["},  // the neighbours of a..z and A..Z stay
      {"\xe9t\xe9\t\xff\x80", "\xe9T\xe9\t\xff\x80"},
      {std::string("a\0b", 3), std::string("A\0B", 3)},
      {"", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    std::string text = row.text;
    zelp::UPCASE(text);
    EXPECT_EQ(text, row.expected);
  }
}

TEST(Upcase, CoversTheWholeDeclaredLength) {
  std::string text(256, 'q');
  zelp::UPCASE(text);
  EXPECT_EQ(text, std::string(256, 'Q'));
}

class Prompt : public ::testing::Test {
 protected:
  void TearDown() override { kud::io::reset_units(); }

  // What one prompt of text writes, read back from a pipe attached to a unit.
  static std::string prompt_bytes(std::string_view text) {
    constexpr std::int32_t kUnit = 7;
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    EXPECT_EQ(kud::io::attach_unit(kUnit, fds[1], "pipe", false), 0);
    EXPECT_EQ(zelp::write_prompt_text(kUnit, text), 0);
    EXPECT_EQ(kud::io::close_unit(kUnit), 0);
    // Whether closing the unit closed the pipe's end or not, read only what is there.
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    std::string bytes;
    char chunk[512];
    for (;;) {
      const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    return bytes;
  }
};

TEST_F(Prompt, WritesABlankAndAtMost80Characters) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred.push_back(static_cast<char>('0' + i % 10));
  struct Row {
    std::string text;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"Give file containing text & data  :  ", " Give file containing text & data  :  "},
      {hundred, " " + hundred.substr(0, 80)},
      {std::string(80, 'x'), " " + std::string(80, 'x')},
      {std::string(81, 'x'), " " + std::string(80, 'x')},
      {"", " "},
      {"trailing   ", " trailing   "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(prompt_bytes(row.text), row.expected);
  }
}

TEST_F(Prompt, ReportsAFailedWrite) {
  constexpr std::int32_t kUnit = 8;
  const int fd = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(kud::io::attach_unit(kUnit, fd, "/dev/full", false), 0);
  EXPECT_EQ(zelp::write_prompt_text(kUnit, "question"), ENOSPC);
}

}  // namespace
