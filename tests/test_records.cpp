// The fixed-point field, the count field, the data, text, banner and summary records.
#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "zelp/records.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string field_of(double value, char mark = '.') {
  std::array<char, zelp::kFieldWidth> field{};
  zelp::render_field(value, field, mark);
  return {field.data(), field.size()};
}

std::string right14(const std::string& text) { return std::string(14 - text.size(), ' ') + text; }

TEST(RenderField, Table) {
  struct Row {
    double value;
    std::string expected;
  };
  const std::string stars(14, '*');
  const Row rows[] = {
      {0.0, right14("0.000")},
      {-0.0, right14("0.000")},
      {0.5, right14("0.500")},
      {-0.25, right14("-0.250")},
      {1234.5678, right14("1234.568")},
      {3.0, right14("3.000")},
      // Exact halves go to the even neighbour.
      {0.0625, right14("0.062")},
      {0.1875, right14("0.188")},
      {-0.0625, right14("-0.062")},
      {2.5625, right14("2.562")},
      // The double nearest 2.0005 lies above it, the one nearest 1.2345 below it.
      {2.0005, right14("2.001")},
      {1.2345, right14("1.234")},
      {-0.0001, right14("0.000")},
      {-0.0005, right14("-0.001")},  // the double lies just beyond -0.0005
      {-0.0006, right14("-0.001")},
      {0.0004999, right14("0.000")},
      {9999999999.999, "9999999999.999"},
      {9999999999.9994, "9999999999.999"},
      {9999999999.9996, stars},  // rounds up to eleven integer digits
      {10000000000.0, stars},
      {-999999999.999, "-999999999.999"},
      {-999999999.9996, stars},
      {-1.0e9, stars},
      {1.0e10, stars},
      {1.0e11, stars},
      {1.0e300, stars},
      {-1.0e300, stars},
      {std::numeric_limits<double>::max(), stars},
      {std::numeric_limits<double>::lowest(), stars},
      {std::numeric_limits<double>::denorm_min(), right14("0.000")},
      {-std::numeric_limits<double>::denorm_min(), right14("0.000")},
      {kInf, right14("Infinity")},
      {-kInf, right14("-Infinity")},
      {kNaN, right14("NaN")},
      {-kNaN, right14("NaN")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    EXPECT_EQ(field_of(row.value), row.expected);
  }
}

TEST(RenderField, DecimalMarkReplacesThePoint) {
  EXPECT_EQ(field_of(1234.5678, ','), right14("1234,568"));
  EXPECT_EQ(field_of(-0.0001, ','), right14("0,000"));
  EXPECT_EQ(field_of(-999999999.999, ','), "-999999999,999");
  EXPECT_EQ(field_of(1.0e10, ','), std::string(14, '*'));
  EXPECT_EQ(field_of(kNaN, ','), right14("NaN"));
}

// glibc's printf rounds the exact binary value in the current rounding mode (to nearest, ties
// to even); the field must show the same digits whatever the magnitude.
std::string reference_field(double value) {
  char text[400];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string shown = text;
  if (shown[0] == '-' && shown.find_first_not_of("-0.") == std::string::npos) shown.erase(0, 1);
  if (shown.size() > 14) return std::string(14, '*');
  return right14(shown);
}

TEST(RenderField, AgreesWithExactReferenceOnRandomDoubles) {
  ASSERT_EQ(std::fegetround(), FE_TONEAREST);
  std::mt19937_64 rng(12345);
  std::uniform_int_distribution<int> exponent(-8, 13);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<std::int64_t> sixteenths(-(std::int64_t{1} << 40),
                                                         std::int64_t{1} << 40);
  for (int i = 0; i < 1'000'000; ++i) {
    double value = 0;
    switch (i % 4) {
      case 0:  // mixed magnitudes
      case 1:
        value = mantissa(rng) * std::pow(10.0, exponent(rng));
        break;
      case 2:  // multiples of 1/16: every odd one is an exact tie at the third decimal
        value = static_cast<double>(sixteenths(rng)) / 16.0;
        break;
      default: {  // any bit pattern, infinities and NaN aside
        const std::uint64_t bits = rng();
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) value = 0.5;
      }
    }
    if (rng() & 1) value = -value;
    ASSERT_EQ(field_of(value), reference_field(value)) << std::hexfloat << value;
  }
}

TEST(RenderCount, Table) {
  struct Row {
    std::int32_t n;
    std::string expected;
  };
  const Row rows[] = {
      {0, "     0"},
      {7, "     7"},
      {999999, "999999"},
      {1000000, "******"},
      {std::numeric_limits<std::int32_t>::max(), "******"},
      {-1, "    -1"},
      {-99999, "-99999"},
      {-100000, "******"},
      {std::numeric_limits<std::int32_t>::min(), "******"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.n);
    std::array<char, zelp::kCountWidth> field{};
    zelp::render_count(row.n, field);
    EXPECT_EQ(std::string(field.data(), field.size()), row.expected);
  }
}

TEST(SummaryRecord, CountAndText) {
  using zelp::WideCount;
  struct Row {
    std::int32_t n;
    WideCount wide;
    std::size_t room;  // characters of out
    std::string expected;
  };
  const std::string text = " lines with plot data found";
  const Row rows[] = {
      {0, WideCount::kAsterisks, 64, "     0" + text},
      {1234567, WideCount::kAsterisks, 64, "******" + text},
      {1, WideCount::kAsterisks, 32, ""},
      {7, WideCount::kWhole, 64, "     7" + text},
      {999999, WideCount::kWhole, 33, "999999" + text},
      {1000000, WideCount::kWhole, 64, "1000000" + text},
      {1000000, WideCount::kWhole, 33, ""},
      {std::numeric_limits<std::int32_t>::max(), WideCount::kWhole, 37, "2147483647" + text},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.n) + " in " + std::to_string(row.room));
    std::array<char, 64> out{};
    EXPECT_EQ(zelp::summary_record(row.n, std::span(out).first(row.room), row.wide), row.expected);
  }
}

TEST(DataRecord, LengthsAndFields) {
  for (const std::size_t n :
       {std::size_t{1}, std::size_t{17}, std::size_t{18}, std::size_t{150}, std::size_t{1024}}) {
    SCOPED_TRACE(n);
    std::vector<double> values(n);
    for (std::size_t i = 0; i < n; ++i) values[i] = static_cast<double>(i) - 0.5;
    values[n / 2] = 1.0e10;  // a field of asterisks leaves its neighbours alone
    std::vector<char> record(15 * n + 40, '~');
    const std::size_t length = zelp::assemble_data_record(values, record);
    ASSERT_EQ(length, 15 * n);
    for (std::size_t i = 0; i < n; ++i) {
      const std::string field(record.data() + 15 * i, 14);
      EXPECT_EQ(field, field_of(values[i])) << "value " << i;
      EXPECT_EQ(record[15 * i + 14], '\t');
    }
    EXPECT_EQ(std::string(record.data() + length, 40), std::string(40, '~'));
  }
}

TEST(DataRecord, SeventeenValuesMake255Characters) {
  std::vector<double> values(17, 0.0);
  std::array<char, 256> record{};
  ASSERT_EQ(zelp::assemble_data_record(values, record), 255u);
  std::string expected;
  for (int i = 0; i < 17; ++i) expected += "         0.000\t";
  EXPECT_EQ(std::string(record.data(), 255), expected);
}

TEST(DataRecord, NeverWritesPastTheRecord) {
  const std::vector<double> values(18, 1.0);
  std::vector<char> storage(300, '~');
  const std::span<char> record(storage.data(), 256);
  EXPECT_EQ(zelp::assemble_data_record(values, record), 255u);
  EXPECT_EQ(std::string(storage.data() + 255, 45), std::string(45, '~'));
}

TEST(DataRecord, DecimalComma) {
  const double values[] = {1.0, 2.5, -3.0};
  std::array<char, 45> record{};
  ASSERT_EQ(zelp::assemble_data_record(values, record, ','), 45u);
  EXPECT_EQ(std::string(record.data(), 45),
            right14("1,000") + "\t" + right14("2,500") + "\t" + right14("-3,000") + "\t");
}

TEST(TextRecord, Table) {
  struct Row {
    const char* what;
    std::string line;  // padded to 256 below unless longer
    std::string expected;
  };
  std::string long_line;
  for (int i = 0; i < 300; ++i) long_line.push_back(static_cast<char>('a' + i % 26));
  const Row rows[] = {
      {"two blanks and a word", "  Results", "# Results"},
      {"a word at column 1", "Title of the run", "#itle of the run"},
      {"one-letter line", "X", "#"},
      {"all blank", "", "#"},
      {"two characters", "ab", "#b"},
      {"TAB first", "\tdata\tmore", "#data\tmore"},
      {"TAB last counts", "ab\t", "#b\t"},
      {"bytes above 127 kept", "\xe9t\xe9", "#t\xe9"},
      {"longer than 256 is cut", long_line.substr(0, 256), "#" + long_line.substr(1, 255)},
      {"blank at 256", long_line.substr(0, 255) + " ", "#" + long_line.substr(1, 254)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::string line = row.line;
    line.resize(256, ' ');
    std::array<char, 256> out{};
    EXPECT_EQ(zelp::assemble_text_record(line, out), row.expected);
  }
}

TEST(Banner, SixteenRecordsByteForByte) {
  const auto banner = zelp::banner_records();
  ASSERT_EQ(banner.size(), 16u);
  EXPECT_EQ(banner[0], std::string(54, ' '));
  for (const std::size_t i : {1u, 2u, 3u, 13u, 14u, 15u})
    EXPECT_EQ(banner[i], std::string(59, ' '));
  const std::string indent(11, ' ');
  const std::string edge = indent + std::string(48, '=');
  const std::string empty = indent + "-" + std::string(46, ' ') + "-";
  EXPECT_EQ(banner[4], edge);
  EXPECT_EQ(banner[5], empty);
  EXPECT_EQ(banner[6], indent + "-             **** Z E L P ****                -");
  EXPECT_EQ(banner[7], empty);
  EXPECT_EQ(banner[8], indent + "-     Extracts lines with plot data            -");
  EXPECT_EQ(banner[9], indent + "-     Prints data separated with TAB           -");
  EXPECT_EQ(banner[10], indent + "-     for fast import in EXCEL.                -");
  EXPECT_EQ(banner[12], edge);
  // The contact line: its text starts after 24 blanks inside the frame.
  const std::string_view contact = banner[11];
  ASSERT_EQ(contact.size(), 59u);
  EXPECT_EQ(contact.substr(0, 12), indent + "-");
  EXPECT_EQ(contact.substr(12, 24), std::string(24, ' '));
  EXPECT_NE(contact[36], ' ');
  EXPECT_EQ(contact[58], '-');
  for (std::size_t i = 4; i <= 12; ++i) EXPECT_EQ(banner[i].size(), 59u) << i;
}

}  // namespace
