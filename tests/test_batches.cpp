// Data records rendered a batch at a time on the writer thread must come out as the same bytes as
// records rendered and written one by one, across every way a batch can fill up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "kud/io/units.hpp"
#include "support.hpp"
#include "zelp/batches.hpp"
#include "zelp/records.hpp"
#include "zelp/shortest.hpp"

namespace {

using zelp::RecordBatches;

constexpr std::int32_t kUnit = 42;
constexpr std::size_t kRecordLimit = RecordBatches::kBatchRecords;
constexpr std::size_t kValueLimit = RecordBatches::kBatchValues;
static_assert(kValueLimit % 1024 == 0 && kValueLimit / 1024 <= RecordBatches::kMaxValues &&
              1024 < kRecordLimit);

// The values of record r of a run: mixed magnitudes and signs, some needing asterisks.
double value_of(std::size_t record, std::size_t index, std::mt19937_64& random) {
  switch ((record + index) % 5) {
    case 0:
      return static_cast<double>(record) + 0.0005 * static_cast<double>(index);
    case 1:
      return -std::ldexp(static_cast<double>(random() >> 11), -40);
    case 2:
      return std::ldexp(static_cast<double>(random() >> 11), -20);
    case 3:
      return 1.0e12 * static_cast<double>(index);
    default:
      return static_cast<double>(random() % 100000) / 1000.0;
  }
}

struct BatchRun {
  const char* name;
  std::vector<std::size_t> counts;  // values per record, in order
  char decimal_mark = '.';
  bool finish_twice = false;
  zelp::RecordFormat format = zelp::RecordFormat::kFields;
  std::size_t text_every = 0;  // a text record before every n-th data record; 0: none
};

// The text record put before data record r: lengths from empty to the longest there is, so
// that the batches' text room fills up before their records or values do.
std::string text_of(std::size_t record) {
  const std::size_t sizes[] = {0, 1, 80, 2050, RecordBatches::kMaxText};
  std::string text(sizes[record % std::size(sizes)], 'a' + static_cast<char>(record % 26));
  if (!text.empty()) text[0] = '#';
  return text;
}

// A data record in format, as the renderers write one value at a time.
std::string expected_record(const std::vector<double>& values, const BatchRun& run) {
  if (run.format == zelp::RecordFormat::kFields) {
    std::string record(values.size() * zelp::kFieldStep, '?');
    record.resize(zelp::assemble_data_record(values, record, run.decimal_mark));
    return record + "\r\n";
  }
  std::string record;
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::array<char, zelp::kShortestWidth> text{};
    if (i > 0) record += '\t';
    record.append(text.data(), zelp::render_shortest_reference(values[i], text, run.decimal_mark));
  }
  return record + "\n";
}

std::vector<std::size_t> repeat(std::size_t count, std::size_t times) {
  return std::vector<std::size_t>(times, count);
}

std::vector<std::size_t> random_counts(std::size_t records, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::size_t> counts(records);
  for (std::size_t& c : counts)
    c = random() % 16 == 0 ? 1 + random() % RecordBatches::kMaxValues : 3 + random() % 10;
  return counts;
}

class RecordBatchesTest : public ::testing::Test {
 protected:
  void SetUp() override { kud::io::reset_units(); }
  void TearDown() override { kud::io::reset_units(); }
  test::TempDir dir_;
};

TEST_F(RecordBatchesTest, SameBytesAsRecordByRecord) {
  const std::vector<BatchRun> runs = {
      {"none", {}},
      {"one record", {3}},
      {"one full-width record", {RecordBatches::kMaxValues}},
      {"full-width records cross the value limit", repeat(RecordBatches::kMaxValues, 40)},
      {"single values cross the record limit", repeat(1, kRecordLimit * 3 + 1)},
      {"exactly the record limit", repeat(1, kRecordLimit)},
      {"exactly the value limit", repeat(kValueLimit / 1024, 1024)},
      {"typical lines", random_counts(20000, 1)},
      {"typical lines, decimal comma", random_counts(5000, 2), ','},
      {"finish called twice", random_counts(3000, 3), '.', true},
      {"shortest texts", random_counts(20000, 4), '.', false, zelp::RecordFormat::kShortest},
      {"shortest texts cross the value limit", repeat(RecordBatches::kMaxValues, 40), ',', false,
       zelp::RecordFormat::kShortest},
      {"shortest texts with text records", random_counts(20000, 5), '.', false,
       zelp::RecordFormat::kShortest, 3},
      {"text records cross the text room", repeat(2, 3000), '.', false,
       zelp::RecordFormat::kShortest, 1},
  };
  for (const BatchRun& run : runs) {
    SCOPED_TRACE(run.name);
    const std::string path = dir_.file("out");
    ASSERT_EQ(kud::io::open_unit(kUnit, {.name = path}), 0);
    std::mt19937_64 random(7);
    std::string expect;
    std::vector<double> values;
    {
      RecordBatches batches(kUnit, run.decimal_mark, run.format);
      for (std::size_t r = 0; r < run.counts.size(); ++r) {
        if (run.text_every != 0 && r % run.text_every == 0) {
          const std::string text = text_of(r);
          expect += text + "\n";
          ASSERT_EQ(batches.add_text(text), 0);
        }
        const std::size_t count = run.counts[r];
        const std::span<double> room = batches.next_values();
        ASSERT_EQ(room.size(), RecordBatches::kMaxValues);
        values.resize(count);
        for (std::size_t i = 0; i < count; ++i) values[i] = value_of(r, i, random);
        std::copy(values.begin(), values.end(), room.begin());
        // Whatever follows the record's values in the room is not part of it.
        if (count < room.size()) room[count] = 1.0;
        expect += expected_record(values, run);
        ASSERT_EQ(batches.add(count), 0);
      }
      ASSERT_EQ(batches.finish(), 0);
      if (run.finish_twice) {
        ASSERT_EQ(batches.finish(), 0);
      }
    }
    ASSERT_EQ(kud::io::close_unit(kUnit), 0);
    const std::string got = test::read_file(path);
    ASSERT_EQ(got.size(), expect.size());
    EXPECT_TRUE(got == expect);
  }
}

TEST_F(RecordBatchesTest, WriteFailureIsReturnedAndStops) {
  // A full device: the failure comes back from add() once a batch is written, or from finish(),
  // and then again on every later call.
  ASSERT_EQ(kud::io::open_unit(kUnit, {.name = "/dev/full"}), 0);
  RecordBatches batches(kUnit, '.');
  std::int32_t error = 0;
  std::size_t records = 0;
  // Where the batches start: a room that does not follow on from the record before.
  std::set<const double*> batch_starts;
  const double* expected_next = nullptr;
  for (; records < 100000 && error == 0; ++records) {
    std::span<double> room = batches.next_values();
    if (room.data() != expected_next) batch_starts.insert(room.data());
    expected_next = room.data() + 10;
    std::fill_n(room.begin(), 10, 1.5);
    error = batches.add(10);
  }
  EXPECT_EQ(batch_starts.size(), 2U);
  if (error == 0) error = batches.finish();
  EXPECT_EQ(error, ENOSPC);
  EXPECT_LT(records, 100000U);
  EXPECT_EQ(batches.finish(), ENOSPC);
  EXPECT_EQ(batches.add(1), ENOSPC);
  // The records of the failed batch are dropped: a caller that goes on gets a whole room at
  // the start of a batch, never one past the batch's end.
  for (std::size_t r = 0; r < 2 * kRecordLimit; ++r) {
    const std::span<double> room = batches.next_values();
    ASSERT_EQ(room.size(), RecordBatches::kMaxValues);
    ASSERT_TRUE(batch_starts.contains(room.data()));
    std::fill(room.begin(), room.end(), 2.5);
    ASSERT_EQ(batches.add(room.size()), ENOSPC);
  }
  EXPECT_NE(kud::io::close_unit(kUnit), 0);
}

TEST_F(RecordBatchesTest, DroppedWithoutFinishWritesNothingMore) {
  // Leaving a run early (a failure elsewhere) waits for the batches handed over; the records
  // taken since stay unwritten and nothing hangs.
  constexpr std::size_t kDropped = 2 * kRecordLimit + kRecordLimit / 2;
  const std::string path = dir_.file("out");
  ASSERT_EQ(kud::io::open_unit(kUnit, {.name = path}), 0);
  {
    RecordBatches batches(kUnit, '.');
    for (std::size_t r = 0; r < kDropped; ++r) {
      batches.next_values()[0] = 2.0;
      ASSERT_EQ(batches.add(1), 0);
    }
  }
  ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  const std::string got = test::read_file(path);
  const std::string one = std::string(14 - 5, ' ') + "2.000\t\r\n";
  EXPECT_EQ(got.size() % one.size(), 0U);
  EXPECT_LT(got.size(), kDropped * one.size());
  EXPECT_EQ(got.substr(0, one.size()), one);
}

}  // namespace
