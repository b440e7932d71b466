#include <gtest/gtest.h>

#include <string>

#include "kud/reader/cursor.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "reader_fixture.hpp"

namespace {

using kud::RS;
using test::ReaderTest;

struct CursorRow {
  std::string_view line;  // LINE from the cursor (column 1) to the line's end
  bool (*call)();
  std::int32_t ncmtch;
  bool answer;
  std::int32_t cursor_after;
};

TEST_F(ReaderTest, CursorPrimitivesAnswerAndMoveAsTheTableSays) {
  const CursorRow rows[] = {
      {"  ,  7", [] { return kud::ENDITM(); }, 8, true, 6},
      {",7", [] { return kud::ENDITM(); }, 8, true, 2},
      {",,7", [] { return kud::ENDITM(); }, 8, true, 2},
      {"x", [] { return kud::ENDITM(); }, 8, false, 1},
      {"", [] { return kud::ENDITM(); }, 8, true, 1},
      {"   ", [] { return kud::ENDLIN(); }, 8, true, 4},
      {"a", [] { return kud::LETTER(); }, 8, false, 1},
      {"A", [] { return kud::LETTER(); }, 8, true, 2},
      {"", [] { return kud::LETTER(); }, 8, false, 1},
      {"7", [] { return kud::DIGIT(); }, 8, true, 2},
      {"0042x", [] { return kud::DIGRUN(); }, 8, true, 5},
      {"x42", [] { return kud::DIGRUN(); }, 8, false, 1},
      {"SIN(1)", [] { return kud::MATCH("SIN("); }, 8, true, 5},
      {"SIN 1", [] { return kud::MATCH("SIN("); }, 8, false, 1},
      {"TEMPXYZ 5", [] { return kud::MATCH("TEMPERATURE"); }, 3, true, 8},
      {"TE 5", [] { return kud::MATCH("TEMPERATURE"); }, 3, false, 1},
      {"CO", [] { return kud::MATCH("COS("); }, 8, false, 1},
      {"CO", [] { return kud::MATCH("COS("); }, 3, false, 1},
      {"S", [] { return kud::MATCH("S"); }, 8, true, 2},
      {"   +5", [] { return kud::SKPMAT("+"); }, 8, true, 5},
      {"   5", [] { return kud::SKPMAT("+"); }, 8, false, 4},
      {"A-B,C D", [] { return (kud::MOVCUR(0), true); }, 8, true, 6},
      {"ABC", [] { return (kud::MOVCUR(0), true); }, 8, true, 4},
  };
  for (const CursorRow& row : rows) {
    SCOPED_TRACE(std::string(row.line));
    set_line(row.line);
    RS.NCMTCH = row.ncmtch;
    EXPECT_EQ(row.call(), row.answer);
    EXPECT_EQ(RS.IPOS, row.cursor_after);
  }
}

TEST_F(ReaderTest, StepsLeaveTheirValues) {
  set_line("A7");
  ASSERT_TRUE(kud::LETTER());
  EXPECT_EQ(RS.CHCUR, 'A');
  ASSERT_TRUE(kud::DIGIT());
  EXPECT_EQ(RS.IDIGIT, 7);
  set_line("0042x");
  RS.IACCU = 99;
  ASSERT_TRUE(kud::DIGRUN());
  EXPECT_EQ(RS.IACCU, 42);
  EXPECT_EQ(RS.IDIGIT, 2);
  set_line("x");
  RS.IACCU = 99;
  EXPECT_FALSE(kud::DIGRUN());
  EXPECT_EQ(RS.IACCU, 99);
}

TEST_F(ReaderTest, DigitRunsBeyond32BitsAreMarkedNotWrapped) {
  struct Row {
    std::string_view digits;
    bool wide;
    double real;
  };
  const Row rows[] = {
      {"2147483647", false, 2147483647.0},      {"2147483648", true, 2147483648.0},
      {"4294967297", true, 4294967297.0},       {"00000000002147483647", false, 2147483647.0},
      {"1234567890123", true, 1234567890123.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.digits));
    set_line(row.digits);
    ASSERT_TRUE(kud::DIGRUN());
    EXPECT_EQ(RS.accu_wide, row.wide);
    EXPECT_EQ(RS.accu_real, row.real);
  }
  set_line(std::string(2000, '9'));
  ASSERT_TRUE(kud::DIGRUN());
  EXPECT_TRUE(RS.accu_wide);
  EXPECT_EQ(RS.IPOS, 2001);
}

TEST_F(ReaderTest, MatchedAbbreviationRunsToTheNextBlank) {
  set_line("TEMP,X 5");
  RS.NCMTCH = 4;
  EXPECT_TRUE(kud::MATCH("TEMPERATURE"));
  EXPECT_EQ(RS.IPOS, 7);  // the delimiter does not stop the run, only the blank
}

TEST_F(ReaderTest, CursorStaysInsideTheLine) {
  set_line("0123456789");
  RS.IPOS = 5;
  kud::MOVCUR(-100);
  EXPECT_EQ(RS.IPOS, 1);
  kud::MOVCUR(100);
  EXPECT_EQ(RS.IPOS, 11);
  RS.IPOS = 3;
  kud::MOVCUR(INT32_MAX);
  EXPECT_EQ(RS.IPOS, 11);
  RS.IPOS = 3;
  kud::MOVCUR(INT32_MIN);
  EXPECT_EQ(RS.IPOS, 1);
  // Blanks after the last character, and no sentinel: nothing runs past LENLIN + 1.
  set_line("5");
  for (std::size_t i = 2; i < 200; ++i) RS.LINE[i] = ' ';
  RS.IPOS = 2;
  kud::SKIPBL();
  EXPECT_EQ(RS.IPOS, 2);
  EXPECT_TRUE(kud::ENDLIN());
  EXPECT_EQ(RS.IPOS, 2);
  EXPECT_TRUE(kud::ENDITM());
  EXPECT_EQ(RS.IPOS, 2);
  EXPECT_FALSE(kud::LETTER());
  EXPECT_FALSE(kud::DIGIT());
  EXPECT_FALSE(kud::MATCH(" "));
  RS.IPOS = -7;
  EXPECT_FALSE(kud::ENDITM());  // lifted to column 1, where the 5 is no item end
  EXPECT_EQ(RS.IPOS, 1);
}

TEST_F(ReaderTest, RawColumnsComeFromTheRecordAsRead) {
  use_file(std::string("ab") + std::string(140, 'c') + "\n", false);
  kud::RDLINE();
  EXPECT_EQ(kud::RAWCOL(3, 200), std::string(130, 'c'));
  EXPECT_EQ(kud::RAWCOL(1, 2), "ab");
  EXPECT_EQ(kud::RAWCOL(5, 4), "");
  EXPECT_EQ(kud::RAWCOL(0, 4), "");
}

}  // namespace
