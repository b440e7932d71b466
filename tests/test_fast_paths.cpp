// The fast paths against the straightforward ones: the one-pass number recogniser against the
// full recognisers, the integer field renderer against std::to_chars.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

#include "fast_path_check.hpp"
#include "kud/numeric/literals.hpp"
#include "support.hpp"
#include "zelp/records.hpp"
#include "zelp/shortest.hpp"

namespace {

// ZELP_CHECK_SCALE=N multiplies the random samples, for long runs by hand.
std::int64_t scale() {
  const char* text = std::getenv("ZELP_CHECK_SCALE");
  const std::int64_t n = text == nullptr ? 1 : std::atoll(text);
  return n < 1 ? 1 : n;
}

std::string render(double value, char mark, bool fast) {
  std::array<char, zelp::kFieldWidth> field{};
  if (fast) {
    zelp::render_field(value, field, mark);
  } else {
    zelp::render_field_reference(value, field, mark);
  }
  return {field.data(), field.size()};
}

void expect_same_field(double value) {
  for (const char mark : {'.', ','}) {
    const std::string fast = render(value, mark, true);
    const std::string reference = render(value, mark, false);
    if (fast != reference) {
      ADD_FAILURE() << "value " << std::hexfloat << value << ": fast [" << fast << "] reference ["
                    << reference << "]";
      return;
    }
  }
}

TEST(FastRenderer, AgreesWithToCharsOnEveryExactTie) {
  // A double lies exactly halfway between two thousandths only when it is an odd multiple of
  // 1/16: all of them below 2**15, and spread samples up to the widest field.
  for (std::int64_t odd = 1; odd < (std::int64_t{1} << 19); odd += 2) {
    const double value = static_cast<double>(odd) / 16.0;
    expect_same_field(value);
    expect_same_field(-value);
  }
  std::mt19937_64 random(7);
  for (std::int64_t i = 0; i < 100000 * scale(); ++i) {
    const auto odd = static_cast<std::int64_t>(random() % (std::uint64_t{1} << 37)) | 1;
    expect_same_field(static_cast<double>(odd) / 16.0);
    expect_same_field(-static_cast<double>(odd) / 16.0);
  }
}

TEST(FastRenderer, AgreesWithToCharsOnRandomDoubles) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (std::int64_t i = 0; i < 300000 * scale(); ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    expect_same_field(i % 2 == 0 ? value : -value);
  }
  // Arbitrary bit patterns: subnormals, huge values, infinities and NaNs included.
  for (std::int64_t i = 0; i < 100000 * scale(); ++i)
    expect_same_field(std::bit_cast<double>(random()));
}

TEST(FastRenderer, AgreesAtTheEdgesOfTheField) {
  const double edges[] = {0.0,
                          -0.0,
                          0.0005,
                          -0.0005,
                          0.00050000000000000001,
                          0.0004999999,
                          9999999999.999,
                          9999999999.9994,
                          9999999999.9995,
                          -999999999.999,
                          -999999999.9995,
                          99999999999.0,
                          1e11,
                          -1e11,
                          std::nextafter(1e11, 0.0),
                          4503599627370496.0,
                          99999.999,
                          99999.9995,
                          -99999.9995,
                          99999.99949999999,
                          100000.0,
                          -0.0004999,
                          0x1p-11,
                          -0x1p-11,
                          0x1p-10,
                          0x1.8p-11,
                          999.9995,
                          -999.9995,
                          999.999,
                          -999.999,
                          1000.0,
                          -1000.0,
                          -0.001,
                          -0.0015,
                          0x1p36,
                          -0x1p36,
                          137438953472.0,
                          std::nextafter(137438953472.0, 0.0),
                          std::numeric_limits<double>::denorm_min(),
                          std::numeric_limits<double>::min(),
                          std::numeric_limits<double>::max(),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN()};
  for (const double value : edges) {
    expect_same_field(value);
    expect_same_field(std::nextafter(value, 0.0));
    expect_same_field(std::nextafter(value, 1e300));
  }
}

TEST(FastRenderer, DataRecordsHoldTheFieldsAndTabs) {
  // The record writer renders most fields in place: compare it with field-by-field rendering.
  std::mt19937_64 random(11);
  std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
  std::uniform_int_distribution<int> exponent(-5, 11);
  std::array<double, 64> values{};
  std::array<char, 64 * zelp::kFieldStep> record{};
  for (std::int64_t i = 0; i < 20000 * scale(); ++i) {
    const auto n = static_cast<std::size_t>(random() % values.size()) + 1;
    for (std::size_t j = 0; j < n; ++j)
      values[j] = mantissa(random) * std::pow(10.0, exponent(random));
    const char mark = i % 3 == 0 ? ',' : '.';
    const std::size_t length =
        zelp::assemble_data_record(std::span<const double>(values).first(n), record, mark);
    ASSERT_EQ(length, n * zelp::kFieldStep);
    std::string expected;
    for (std::size_t j = 0; j < n; ++j) expected += render(values[j], mark, false) + "\t";
    ASSERT_EQ(std::string(record.data(), length), expected);
  }
}

std::string shortest(double value, char mark, bool fast) {
  std::array<char, zelp::kShortestWidth> text{};
  const std::size_t n = fast ? zelp::render_shortest(value, text, mark)
                             : zelp::render_shortest_reference(value, text, mark);
  return {text.data(), n};
}

void expect_same_shortest(double value) {
  for (const char mark : {'.', ','}) {
    const std::string fast = shortest(value, mark, true);
    const std::string reference = shortest(value, mark, false);
    if (fast != reference) {
      ADD_FAILURE() << "value " << std::hexfloat << value << ": fast [" << fast << "] reference ["
                    << reference << "]";
      return;
    }
  }
}

// The shortest text against std::to_chars: decimals of 1 to 17 digits at every scale (the
// values a literal gives), ties between fixed and scientific notation, powers of ten and their
// neighbours, integers up to 2**53, arbitrary bit patterns.
TEST(FastShortest, AgreesWithToChars) {
  std::mt19937_64 random(15);
  for (std::int64_t i = 0; i < 200000 * scale(); ++i) {
    const int digits = 1 + static_cast<int>(random() % 17);
    std::uint64_t m = random() % 100000000000000000u;
    for (int d = digits; d < 17; ++d) m /= 10;
    const std::string text =
        std::to_string(m) + "e" + std::to_string(static_cast<int>(random() % 60) - 35);
    const double value = std::strtod(text.c_str(), nullptr);
    expect_same_shortest(value);
    expect_same_shortest(-value);
    expect_same_shortest(std::nextafter(value, 0.0));
  }
  for (int e = -330; e <= 310; ++e) {
    const double power = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    for (const double value : {power, std::nextafter(power, 0.0), std::nextafter(power, 1e308),
                               5 * power, 9.5 * power, 123456789012345 * power}) {
      expect_same_shortest(value);
    }
  }
  for (std::int64_t i = 0; i < 100000 * scale(); ++i) {
    expect_same_shortest(static_cast<double>(random() >> (random() % 64)));
    expect_same_shortest(std::bit_cast<double>(random()));
  }
  for (const double value :
       {0.0, -0.0, 0x1p-30, std::nextafter(0x1p-30, 0.0), 1e15, std::nextafter(1e15, 0.0), 0x1p52,
        0x1p53, 0.1 + 0.2, kud::kPi, std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    expect_same_shortest(value);
  }
  // NaN is "nan" whatever its sign bit, as the tools read it.
  EXPECT_EQ(shortest(-std::numeric_limits<double>::quiet_NaN(), '.', true), "nan");
  EXPECT_EQ(shortest(0.0 * std::numeric_limits<double>::infinity(), ',', false), "nan");
}

TEST(FastNumbers, TablesHoldWhatTheLoopsCompute) {
  volatile double divisor = 10.0;  // keeps the loop from being folded at compile time
  double scale = 1.0;
  for (std::int32_t k = 0; k <= 450; ++k) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(kud::fraction_scale(k)),
              std::bit_cast<std::uint64_t>(scale))
        << k;
    scale = scale / divisor;
  }
  for (std::int32_t e = -400; e <= 400; ++e) {
    volatile std::int32_t exponent = e;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(kud::table_power_of_ten(e)),
              std::bit_cast<std::uint64_t>(kud::power_of_ten(exponent)))
        << e;
  }
}

TEST(FastNumbers, AgreeWithTheFullRecognisersOnGeneratedLines) {
  // Pieces that make and break numbers, glued at random: signs, digit runs of every length,
  // points, exponents, operators, letters, separators.
  const std::string_view pieces[] = {
      "0", "7", "12", "999", "2147483647", "2147483648", "4294967297", "1234567890123456", "-", "+",
      ".", ".5", "E", "e", "E+", "E-", "E12", "E-3", "E400", "E12345", "*", "**", "/", "PI", "pi",
      "SIN(", ")", "COS(", ",", ",,", " ", "   ", "\t", "x", "A", "!", "#", "%", "'", "0.12", "1.5",
      "-0", "-0.0", "00", "1.", "5.E2", "1E", "9999999999999999", "0.12345678", ".123456789",
      "12345678.9", "0.000000000000000001234",
      // Bytes next to the digits, with the high bit set or not, that a byte-parallel digit test
      // must not take for digits: '0' - 1, '9' + 1, and '5' and '9' with the high bit.
      "1./", "2.:", "3.\xB5", "4.25\xB9", "E1\xB9", "6.5/"};
  std::mt19937 random(2024);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> length(1, 12);
  for (std::int64_t i = 0; i < 40000 * scale(); ++i) {
    std::string line;
    for (int j = length(random); j > 0; --j) line += pieces[pick(random)];
    const std::string differs = check::compare(line);
    ASSERT_TRUE(differs.empty()) << differs << " differs for [" << line << "]";
  }
}

TEST(FastNumbers, AgreeOnFractionsOfEveryLengthAndSeparator) {
  // The first two fraction digits come from a table of sums, shorter fractions included, the
  // rest term by term: fractions of 1 to 20 digits, zeros made common, after integer parts of
  // several lengths and signs, separated by one or more blanks, TABs or a delimiter, with and
  // without exponents; several items a line, so that the state left is that of the last ones.
  std::mt19937 random(31);
  const std::string_view separators[] = {" ", "  ", "\t", "         ", ", ", ",", " ,  "};
  const std::string_view exponents[] = {"", "", "E+05", "E-3", "E0", "E-0012"};
  const std::string_view heads[] = {"0", "-0", "7", "+12", "-345", "2147483648", "-2147483648"};
  for (std::int64_t i = 0; i < 20000 * scale(); ++i) {
    std::string line;
    for (int item = static_cast<int>(random() % 6); item >= 0; --item) {
      line += heads[random() % std::size(heads)];
      if (random() % 5 != 0) {
        line += '.';
        for (auto digits = random() % 21; digits > 0; --digits)
          line += static_cast<char>('0' + (random() % 3 == 0 ? 0 : random() % 10));
      }
      line += exponents[random() % std::size(exponents)];
      if (item > 0) line += separators[random() % std::size(separators)];
    }
    const std::string differs = check::compare(line);
    ASSERT_TRUE(differs.empty()) << differs << " differs for [" << line << "]";
  }
}

TEST(FastNumbers, AgreeWithTheFullRecognisersAtTheEndOfTheLongestLine) {
  // Numbers whose digits, fraction or blanks reach the last columns a record may fill, where
  // the word-wide scans must stop short of the line's end.
  const std::string_view numbers[] = {"12345678",       "-1.25",  "0.123456789012345678", "7",
                                      "123456789012.5", "4.5E-3", "99999999.9",           "1.",
                                      "-2147483648"};
  for (std::size_t width = 1; width <= 40; ++width) {
    for (const std::string_view number : numbers) {
      for (const std::string_view after : {"", " ", "   ", "\t1", " 3.25"}) {
        std::string line(static_cast<std::size_t>(kud::kMaxLine) - width, ' ');
        line[0] = '5';
        line += number;
        line += after;
        const std::string differs = check::compare(line);
        ASSERT_TRUE(differs.empty())
            << differs << " differs for width " << width << " [" << number << "]";
      }
    }
  }
}

TEST(FastNumbers, AgreeWithTheFullRecognisersOnTheSavedInputs) {
  std::size_t lines = 0;
  for (const char* folder : {"fuzz/corpus", "fuzz/regressions", "tests/data", "examples"}) {
    const std::filesystem::path root = std::filesystem::path(ZELP_SOURCE_DIR) / folder;
    if (!std::filesystem::exists(root)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      const std::string bytes = test::read_file(entry.path().string());
      std::size_t start = 0;
      while (start <= bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string differs = check::compare(line);
        ASSERT_TRUE(differs.empty())
            << differs << " differs in " << entry.path() << " for [" << line << "]";
        ++lines;
        start = end + 1;
      }
    }
  }
  EXPECT_GT(lines, 100u);
}

}  // namespace
