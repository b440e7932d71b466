#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "kud/numeric/expressions.hpp"
#include "kud/numeric/literals.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/reader_state.hpp"
#include "reader_fixture.hpp"

namespace {

using kud::kInteger;
using kud::kReal;
using kud::kText;
using kud::RS;
using test::ReaderTest;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int32_t kWidth = 80;
constexpr std::size_t kSlots = 1024;

struct Item {
  kud::ItemKind kind;
  double value;
  std::string_view text = {};  // the kept text of a text item, before its blank padding
};

struct ItemRow {
  std::string line;
  std::vector<Item> items;
};

// One record through RDMIX with the reader as the program sets it up.
class ItemTest : public ReaderTest {
 protected:
  std::int32_t split(std::string_view line, std::int32_t nchlin = 2048) {
    const std::string text = std::string(line) + "\n";
    use_memory(text);
    kud::RDSET(nchlin, kud::kSetNchlin);
    std::int32_t count = -7;
    std::int32_t ierr = 0;
    kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr);
    EXPECT_EQ(ierr, 0);
    return count;
  }

  void expect_items(const ItemRow& row) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.line)));
    const std::int32_t count = split(row.line);
    ASSERT_EQ(count, static_cast<std::int32_t>(row.items.size()));
    for (std::size_t i = 0; i < row.items.size(); ++i) {
      SCOPED_TRACE(i);
      const Item& want = row.items[i];
      EXPECT_EQ(kinds[i], want.kind);
      if (std::isnan(want.value)) {
        EXPECT_TRUE(std::isnan(values[i]));
      } else {
        EXPECT_EQ(values[i], want.value);  // bit for bit where the digits are given
      }
      std::string slot(&texts[i * kWidth], kWidth);
      std::string expected(want.text);
      expected.resize(kWidth, ' ');
      EXPECT_EQ(slot, expected);
    }
  }

  std::array<std::int32_t, kSlots> kinds{};
  std::array<double, kSlots> values{};
  std::array<char, kSlots * kWidth> texts{};
};

TEST_F(ItemTest, LiteralsAreIntegersRealsOrText) {
  const ItemRow rows[] = {
      {"12", {{kInteger, 12}}},
      {"-7", {{kInteger, -7}}},
      {"+007", {{kInteger, 7}}},
      {"-0", {{kInteger, 0}}},
      {"1,5", {{kInteger, 1}, {kInteger, 5}}},
      {"3.25", {{kReal, 3.25}}},
      {"5.", {{kReal, 5.0}}},
      {".5", {{kReal, 0.5}}},
      {"-.5", {{kReal, -0.5}}},
      {"1E5", {{kReal, 100000.0}}},
      {"1.5e3", {{kReal, 1500.0}}},
      {"5.E2", {{kReal, 500.0}}},
      {"1E+0012", {{kReal, 1.0E12}}},
      {"2E-2", {{kReal, 0.020000000000000004}}},
      {"0.12", {{kReal, 0.12000000000000001}}},
      {"-PI +pi", {{kReal, -3.141592653589793}, {kReal, 3.141592653589793}}},
      {"PI", {{kText, 0.0, "PI"}}},
      {"1E400", {{kReal, kInf}}},
      {"-1E400", {{kReal, -kInf}}},
      {"1E-400", {{kReal, 0.0}}},
      {"0E400", {{kReal, kNaN}}},
      {"1E9999", {{kReal, kInf}}},
      {"1E-9999", {{kReal, 0.0}}},
      {".", {{kText, 0.0, "."}}},
      {"1E", {{kText, 0.0, "1E"}}},
      {"1E+", {{kText, 0.0, "1E+"}}},
      {"1E12345", {{kText, 0.0, "1E12345"}}},
      {"- 5", {{kText, 0.0, "-"}, {kInteger, 5}}},
      {"5A 2PI 1.2.3", {{kText, 0.0, "5A"}, {kText, 0.0, "2PI"}, {kText, 0.0, "1.2.3"}}},
  };
  for (const ItemRow& row : rows) expect_items(row);
}

TEST_F(ItemTest, DigitRunsBeyond32BitsBecomeRealsNeverWrappedIntegers) {
  const ItemRow rows[] = {
      {"2147483647", {{kInteger, 2147483647.0}}},    {"-2147483648", {{kInteger, -2147483648.0}}},
      {"2147483648", {{kReal, 2147483648.0}}},       {"+2147483648", {{kReal, 2147483648.0}}},
      {"-2147483649", {{kReal, -2147483649.0}}},     {"4294967297", {{kReal, 4294967297.0}}},
      {"3000000000.5", {{kReal, 3000000000.5}}},     {"4294967296E2", {{kReal, 429496729600.0}}},
      {"00000000000000000000012", {{kInteger, 12}}},
  };
  for (const ItemRow& row : rows) expect_items(row);
  // A 2000-digit number is one real: infinite in double arithmetic, never a wrapped integer.
  ASSERT_EQ(split(std::string(2000, '9')), 1);
  EXPECT_EQ(kinds[0], kReal);
  EXPECT_EQ(values[0], kInf);
}

TEST_F(ItemTest, ExpressionsRunStrictlyLeftToRight) {
  const ItemRow rows[] = {
      {"2*3", {{kReal, 6.0}}},
      {"1+2*3", {{kReal, 9.0}}},
      {"2*3+1", {{kReal, 7.0}}},
      {"2+3**2", {{kReal, 25.0}}},
      {"2**3**2", {{kReal, 64.0}}},
      {"2**0.5", {{kReal, 1.4142135623730951}}},
      {"10/4*2", {{kReal, 5.0}}},
      {"-1+2", {{kReal, -3.0}}},
      {"-2**2", {{kReal, -4.0}}},
      {"-6/2+1", {{kReal, -4.0}}},
      {"5/0", {{kReal, 0.0}}},
      {"1+5/0", {{kReal, 0.0}}},
      {"5/0+1", {{kReal, 1.0}}},
      {"1-3**2", {{kReal, 4.0}}},
      {"1-3**0.5", {{kReal, kNaN}}},
      {"PI/2", {{kReal, 1.5707963267948966}}},
      {"2*pi", {{kReal, 6.283185307179586}}},
      {"PI*2", {{kReal, 6.283185307179586}}},
      {"1.5E3/4", {{kReal, 375.0}}},
      {"SIN(PI/2)", {{kReal, 1.0}}},
      {"cos(pi)", {{kReal, -1.0}}},
      {"SIN(30)", {{kReal, -0.9880316240928618}}},
      {"-SIN(PI/2)", {{kReal, -1.0}}},
      {"SIN(-PI/2)", {{kReal, -1.0}}},
      {"SIN(+1)", {{kReal, 0.8414709848078965}}},
      {"COS(-1+1)", {{kReal, std::cos(-2.0)}}},
      {"2*COS(0)+1", {{kReal, 3.0}}},
      {"SIN(PI/6)*10", {{kReal, std::sin(3.141592653589793 / 6) * 10}}},
      {"1E308*10", {{kReal, kInf}}},
      {"SIN(1E308)", {{kReal, std::sin(kud::power_of_ten(308))}}},
      {"SIN(1E400)", {{kReal, kNaN}}},
      {"1+2,3", {{kReal, 3.0}, {kInteger, 3}}},
      {"1 + 2", {{kInteger, 1}, {kText, 0.0, "+"}, {kInteger, 2}}},
      {"SIN 1", {{kText, 0.0, "SIN"}, {kInteger, 1}}},
  };
  for (const ItemRow& row : rows) expect_items(row);
}

// With exact literals a number is the double nearest to its text, whichever recogniser takes
// it: halfway cases, long digit strings, subnormals and the ends of the range, against strtod
// (and std::from_chars where that gives a value).
TEST_F(ItemTest, ExactLiteralsAreValuedAsStrtodValuesTheirText) {
  const std::string_view literals[] = {
      "0.12",
      "0.1",
      "2E-2",
      "81.344",
      "5.6952E-05",
      "3.0150E+02",
      ".5",
      "5.",
      "5.E2",
      "1E+0012",
      "9007199254740993",
      "9007199254740995",
      "9007199254740993.0001",
      "4.35679374481504E-5",
      "1.00000000000000011102230246251565404236316680908203125",
      "1.00000000000000011102230246251565404236316680908203126",
      "3.14159265358979323846264338327950288",
      "0.30000000000000004",
      "0.1000000000000000055511",
      "123456789012345678901234567890",
      "2.2250738585072011E-308",
      "2.2250738585072012E-308",
      "2.2250738585072014E-308",
      "4.9E-324",
      "2.4703282292062328E-324",
      "2.4703282292062327E-324",
      "1E-320",
      "1E-324",
      "1E-400",
      "1.7976931348623157E308",
      "1.7976931348623158E308",
      "1.7976931348623159E308",
      "1E308",
      "1E309",
      "0E400",
      "0.000000000000000000000000000000000000000000000000000000000000001",
      "1E22",
      "1E23",
      "8.98846567431158E307",
      "12345678901234567890123456789012345678901234567890E-30"};
  kud::use_exact_literals(true);
  for (const std::string_view literal : literals) {
    for (const std::string_view sign : {"", "-"}) {
      const std::string text = std::string(sign) + std::string(literal);
      const double want = std::strtod(text.c_str(), nullptr);
      double parsed = 0.0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
      if (error == std::errc{}) {
        ASSERT_EQ(std::bit_cast<std::uint64_t>(parsed), std::bit_cast<std::uint64_t>(want));
      }
      for (const bool fast : {true, false}) {
        SCOPED_TRACE(text + (fast ? " fast" : " full"));
        kud::use_fast_numbers(fast);
        // Twice on a line: as the first item and as one after another.
        ASSERT_EQ(split("7 " + text + " " + text), 3);
        kud::use_fast_numbers(true);
        for (const std::size_t i : {std::size_t{1}, std::size_t{2}}) {
          EXPECT_EQ(kinds[i], kReal);
          EXPECT_EQ(std::bit_cast<std::uint64_t>(values[i]), std::bit_cast<std::uint64_t>(want))
              << values[i] << " " << want;
        }
      }
    }
  }
  // Expressions run as ever, on the exact operands; PI is the same double either way.
  const ItemRow rows[] = {
      {"0.1+0.2 0.12*1 -2*PI",
       {{kReal, 0.30000000000000004}, {kReal, 0.12}, {kReal, -2 * kud::kPi}}},
      {"SIN(0.5)*10 1.5E3/4 1/0", {{kReal, std::sin(0.5) * 10}, {kReal, 375.0}, {kReal, 0.0}}},
      {"12 -0 2147483648 1E",
       {{kInteger, 12}, {kInteger, 0}, {kReal, 2147483648.0}, {kText, 0.0, "1E"}}},
  };
  for (const ItemRow& row : rows) expect_items(row);
  // Only the text of the number is read: whatever the default gives for other forms stays.
  EXPECT_TRUE(std::isnan(kud::exact_literal("1.2.3")));
  EXPECT_TRUE(std::isnan(kud::exact_literal("")));
  EXPECT_EQ(kud::exact_literal("1e3"), 1000.0);
}

TEST_F(ItemTest, MalformedExpressionsAreSingleTextItems) {
  for (const std::string_view text : {"2*-3", "1+", "(1+2)*3", "SIN(COS(0))", "SIN(1", "SIN()",
                                      "SIN(1)X", "PI2*2", "1++2", "2**", "SI(1)", "SIN(1)(2)"}) {
    std::string kept(text.substr(0, 8));
    for (char& c : kept)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    expect_items({std::string(text), {{kText, 0.0, kept}}});
  }
  // A deep run of operators is still just one text item, and costs no recursion.
  expect_items({std::string(2000, '*'), {}});
  const std::string operators(2000, '+');
  expect_items({operators, {{kText, 0.0, "++++++++"}}});
  std::string long_sum = "1";
  for (int i = 0; i < 600; ++i) long_sum += "+1";
  expect_items({long_sum, {{kReal, 601.0}}});
}

TEST_F(ItemTest, WordsFreeTextAndTheLineEnd) {
  const std::string word32 = "A" + std::string(31, 'B');
  const std::string word33 = "A" + std::string(32, 'B');
  const ItemRow rows[] = {
      {"1 2.5 -3", {{kInteger, 1}, {kReal, 2.5}, {kInteger, -3}}},
      {"  1.5, 2*pi  -3", {{kReal, 1.5}, {kReal, 6.283185307179586}, {kInteger, -3}}},
      {"Mass 12.5 kg", {{kText, 0.0, "MASS"}, {kReal, 12.5}, {kText, 0.0, "KG"}}},
      {"TEMPERATURE", {{kText, 0.0, "TEMPERAT"}}},
      {"A,B,C", {{kText, 0.0, "A"}, {kText, 0.0, "B"}, {kText, 0.0, "C"}}},
      {"A-B,C", {{kText, 0.0, "A-B,C"}}},
      {"1,2", {{kInteger, 1}, {kInteger, 2}}},
      {"1 , 2", {{kInteger, 1}, {kInteger, 2}}},
      {"1,,2", {{kInteger, 1}, {kText, 0.0, ",2"}}},
      {",1", {{kText, 0.0, ",1"}}},
      {word32 + " 1", {{kText, 0.0, "ABBBBBBB"}, {kInteger, 1}}},
      {word33 + ",x 1", {{kText, 0.0, "ABBBBBBB"}, {kInteger, 1}}},
      {"1 2 # note", {{kInteger, 1}, {kInteger, 2}}},
      {"3 * 4", {{kInteger, 3}}},
      {"3 % 4", {{kInteger, 3}}},
      {"3 'x", {{kInteger, 3}}},
      {"% x", {}},
      {"# x", {}},
      {"* x", {}},
      {" 'x", {}},
      {"7   ", {{kInteger, 7}}},
      {"x1y2", {{kText, 0.0, "X1Y2"}}},
      {"caf\xc3\xa9 2", {{kText, 0.0, "CAF\xc3\xa9"}, {kInteger, 2}}},
      {"1\t2\t3", {{kInteger, 1}, {kInteger, 2}, {kInteger, 3}}},
  };
  for (const ItemRow& row : rows) expect_items(row);
}

TEST_F(ItemTest, LowerCaseStaysFreeTextWhenFoldingIsOff) {
  use_memory("mass 1\n");
  kud::RDSET(0, kud::kSetIupcas);
  std::int32_t count = 0;
  std::int32_t ierr = 0;
  kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(kinds[0], kText);
  EXPECT_EQ(std::string(&texts[0], 5), "mass ");
}

TEST_F(ItemTest, NarrowSlotsKeepTheirFirstCharacters) {
  use_memory("TEMPERATURE 5\n");
  std::array<char, 6> narrow{};
  std::int32_t count = 0;
  std::int32_t ierr = 0;
  kud::RDMIX(count, kinds, values, narrow, 3, 88, -1, ierr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(std::string(narrow.data(), 6), "TEM   ");
}

TEST_F(ItemTest, NoTextSlotsAtAll) {
  for (const std::string_view line : {"1 2.5 x", "mass 1"}) {
    use_memory(std::string(line) + "\n");
    std::int32_t count = 0;
    std::int32_t ierr = 0;
    kud::RDMIX(count, kinds, values, std::span<char>(), 0, 88, -1, ierr);
    EXPECT_GE(count, 2) << line;
  }
}

TEST_F(ItemTest, ItemsNeverRunPastTheCallersArrays) {
  use_memory("1 2 3 4 5 6\n");
  std::array<std::int32_t, 3> few_kinds{};
  std::array<double, 3> few_values{};
  std::array<char, 3 * 8> few_texts{};
  std::int32_t count = 0;
  std::int32_t ierr = 0;
  kud::RDMIX(count, few_kinds, few_values, few_texts, 8, 88, -1, ierr);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(few_values[2], 3.0);
}

TEST_F(ItemTest, EveryOtherColumnIsAnItemOnAFullLine) {
  std::string line;
  for (int i = 0; i < 1024; ++i) line += "7 ";
  line.pop_back();
  ASSERT_EQ(split(line), 1024);
  EXPECT_EQ(kinds[1023], kInteger);
  line += " 8";  // 1025 items: the line is cut at 2048 columns, so the last is lost
  ASSERT_EQ(split(line), 1024);
}

TEST_F(ItemTest, EndOfInputAndErrors) {
  use_memory("");
  std::int32_t count = 5;
  std::int32_t ierr = 0;
  kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(ierr, 0);
  // A unit argument of 0 leaves everything alone.
  count = 5;
  kinds[0] = 42;
  kud::RDMIX(count, kinds, values, texts, kWidth, 0, -1, ierr);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(kinds[0], 42);
  EXPECT_EQ(ierr, 0);
  // With the policy 0 the end of input is an error: the error record, the counter lowered.
  open_report();
  kud::RDSET(0, kud::kSetMxeof);
  kud::RDSET(-1, kud::kSetLunmsg);
  kud::RDMIX(count, kinds, values, texts, kWidth, 88, test::kReportUnit, ierr);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(report(), "\r\n  *** ERROR IN RDMIX\r\n\r\n");
}

TEST_F(ItemTest, CallingAgainAfterTheEndStopsTheProgram) {
  use_memory("1\n");
  EXPECT_EQ(split("1"), 1);
  std::int32_t count = 0;
  std::int32_t ierr = 0;
  kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr);
  EXPECT_EQ(count, -1);
  EXPECT_EXIT(kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr),
              ::testing::ExitedWithCode(0), "");
}

// Direct calls: where the cursor stops and what a failure puts back.
TEST_F(ReaderTest, RecognisersRestoreWhatTheyChangedOnFailure) {
  set_line("5A");
  RS.IVAL = 11;
  EXPECT_FALSE(kud::ISINT());
  EXPECT_EQ(RS.IPOS, 1);
  EXPECT_EQ(RS.IVAL, 11);

  set_line("1E");
  RS.RVAL = 2.5;
  RS.IACCU = 3;
  RS.IDIGIT = 4;
  RS.IEXPO = 5;
  EXPECT_FALSE(kud::ISREAL());
  EXPECT_EQ(RS.RVAL, 2.5);
  EXPECT_EQ(RS.IPOS, 1);
  EXPECT_EQ(RS.IACCU, 3);
  EXPECT_EQ(RS.IDIGIT, 4);
  EXPECT_EQ(RS.IEXPO, 5);

  set_line("PI");
  EXPECT_TRUE(kud::ISREAL());
  EXPECT_EQ(RS.RVAL, 3.141592653589793);

  set_line("12.5E3, 7");
  RS.NCMTCH = 8;
  RS.IACCU = 3;
  EXPECT_TRUE(kud::ISREAL());
  EXPECT_EQ(RS.RVAL, 12500.0);
  EXPECT_EQ(RS.IPOS, 9);
  EXPECT_EQ(RS.NCMTCH, 8);
  EXPECT_EQ(RS.IACCU, 3);  // scratch handed back

  set_line("SIN(1");
  RS.RVAL = 9.0;
  EXPECT_FALSE(kud::FUNOPD());
  EXPECT_EQ(RS.IPOS, 1);
  EXPECT_EQ(RS.RVAL, 9.0);
  EXPECT_EQ(RS.NCMTCH, 8);

  set_line("1.E");
  EXPECT_TRUE(kud::NUMOPD());
  EXPECT_EQ(RS.RVAL, 1.0);
  EXPECT_EQ(RS.IPOS, 3);  // the point stays taken; the E without digits does not

  set_line(".x");
  EXPECT_FALSE(kud::NUMOPD());
  EXPECT_EQ(RS.IPOS, 1);

  set_line("E-12345");
  EXPECT_TRUE(kud::EXPONT());
  EXPECT_EQ(RS.IEXPO, -1234);
  EXPECT_EQ(RS.IPOS, 7);

  set_line("AB(");
  EXPECT_FALSE(kud::ISWORD());
  EXPECT_EQ(RS.IPOS, 1);
}

TEST(PowerOfTen, RepeatedSquaringAsTheReaderAlwaysDid) {
  EXPECT_EQ(kud::power_of_ten(0), 1.0);
  EXPECT_EQ(kud::power_of_ten(3), 1000.0);
  EXPECT_EQ(kud::power_of_ten(-2), 0.1 * 0.1);
  EXPECT_EQ(kud::power_of_ten(9999), std::numeric_limits<double>::infinity());
  EXPECT_EQ(kud::power_of_ten(-9999), 0.0);
  EXPECT_EQ(kud::power_of_ten(INT32_MIN), 0.0);
}

}  // namespace
