// Record I/O on units, against real files, pipes and devices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kud/io/units.hpp"
#include "support.hpp"

namespace {

using kud::io::FileStatus;
using kud::io::OpenRequest;

constexpr std::int32_t kUnit = 11;
constexpr std::size_t kBlockSize = kud::io::kBlockSize;

// A pipe whose reader takes 4 KB at a time and pauses before each of its first slow_reads
// reads, so that a writer's blocks stay in flight for a while.
class SlowPipe {
 public:
  SlowPipe(int slow_reads, std::chrono::milliseconds pause) {
    if (::pipe(ends_) != 0) return;
    reader_ = std::thread([this, slow_reads, pause] {
      std::string chunk(4096, '\0');
      for (int round = 0;; ++round) {
        if (round < slow_reads) std::this_thread::sleep_for(pause);
        const ssize_t n = ::read(ends_[0], chunk.data(), chunk.size());
        if (n <= 0) break;
        got_.append(chunk.data(), static_cast<std::size_t>(n));
      }
    });
  }
  ~SlowPipe() { static_cast<void>(finish()); }
  SlowPipe(const SlowPipe&) = delete;
  SlowPipe& operator=(const SlowPipe&) = delete;

  [[nodiscard]] int write_end() const { return ends_[1]; }

  // Closes the write end and returns everything the reader got.
  std::string finish() {
    if (ends_[1] >= 0) ::close(std::exchange(ends_[1], -1));
    if (reader_.joinable()) reader_.join();
    if (ends_[0] >= 0) ::close(std::exchange(ends_[0], -1));
    return got_;
  }

 private:
  int ends_[2] = {-1, -1};
  std::thread reader_;
  std::string got_;
};

class UnitsTest : public ::testing::Test {
 protected:
  void SetUp() override { kud::io::reset_units(); }
  void TearDown() override { kud::io::reset_units(); }

  // Opens path on unit, failing the test on error.
  static void open_file(std::int32_t unit, const std::string& path, FileStatus status) {
    OpenRequest request;
    request.name = path;
    request.status = status;
    ASSERT_EQ(kud::io::open_unit(unit, request), 0) << path;
  }

  // Every record up to end of file, each cut to n characters.
  static std::vector<std::string> read_all(std::int32_t unit, std::size_t n) {
    std::vector<std::string> records;
    std::string buffer(n, '?');
    std::int32_t kept = 0;
    std::int32_t rc = 0;
    while ((rc = kud::io::read_record_raw(unit, buffer, kept)) == 0)
      records.push_back(buffer.substr(0, static_cast<std::size_t>(kept)));
    EXPECT_EQ(rc, -1);
    return records;
  }

  // Writes count records of 7 digits, 1000000 on, to unit; returns their bytes with CR LF.
  static std::string write_numbered(std::int32_t unit, int count) {
    std::string sent;
    for (int i = 0; i < count; ++i) {
      const std::string record = std::to_string(1000000 + i);
      EXPECT_EQ(kud::io::write_record(unit, record), 0);
      sent += record + "\r\n";
    }
    return sent;
  }

  static std::string read_one(std::int32_t unit, std::size_t n) {
    std::string buffer(n, '?');
    std::int32_t kept = 0;
    EXPECT_EQ(kud::io::read_record_raw(unit, buffer, kept), 0);
    return buffer.substr(0, static_cast<std::size_t>(kept));
  }

  test::TempDir dir_;
};

using Records = std::vector<std::string>;

TEST_F(UnitsTest, SplitsRecordsAndCutsThem) {
  using namespace std::string_literals;
  struct Row {
    std::string bytes;
    std::size_t n;
    Records expected;
  };
  const std::vector<Row> rows = {
      {"a\nbc\n", 8, {"a", "bc"}},
      {"a\r\nbc\r\n", 8, {"a", "bc"}},
      {"a\nlast", 8, {"a", "last"}},
      {"last\r", 8, {"last"}},  // CR before end of file belongs to the terminator
      {"\r", 8, {""}},
      {"a\rb\n", 8, {"a\rb"}},  // a lone CR inside is content
      {"a\r\r\n", 8, {"a\r"}},  // only one CR is dropped
      {"", 8, {}},
      {"\n\n\r\n", 8, {"", "", ""}},
      {"a\0b\x80\xff\n"s, 8, {"a\0b\x80\xff"s}},
      {"abcdef\nxy\n", 3, {"abc", "xy"}},
      {"abc\r\n", 3, {"abc"}},     // the CR sits just beyond the kept part
      {"abc\r", 3, {"abc"}},       // ... and at end of file
      {"ab\r\n", 3, {"ab"}},       // the CR would be the last kept character
      {"abc\rd\n", 4, {"abc\r"}},  // a kept CR that is not the last of the record
      {"abc\n", 0, {""}},
  };
  const std::string path = dir_.file("split");
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.bytes) + " n=" + std::to_string(row.n));
    test::write_file(path, row.bytes);
    open_file(kUnit, path, FileStatus::kOld);
    EXPECT_EQ(read_all(kUnit, row.n), row.expected);
    // The padded read gives the same characters followed by blanks.
    ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
    for (const std::string& expected : row.expected) {
      std::string buffer(row.n, '?');
      ASSERT_EQ(kud::io::read_record(kUnit, buffer), 0);
      EXPECT_EQ(buffer, expected + std::string(row.n - expected.size(), ' '));
    }
    ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  }
}

TEST_F(UnitsTest, TerminatorSplitAcrossReadBlocks) {
  // CR and LF in different read blocks, and records ending right at a block boundary.
  for (std::size_t length : {kBlockSize - 2, kBlockSize - 1, kBlockSize, kBlockSize + 1}) {
    SCOPED_TRACE(length);
    std::string record(length, 'x');
    record.back() = 'y';
    test::write_file(dir_.file("edge"), record + "\r\nnext\r\n");
    open_file(kUnit, dir_.file("edge"), FileStatus::kOld);
    EXPECT_EQ(read_all(kUnit, kBlockSize + 8), (Records{record, "next"}));
    ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  }
}

TEST_F(UnitsTest, StepBackOverEveryRecordAcrossReadBlocks) {
  // Records of many lengths, some ending in CR, so that some lie inside a read block, some
  // straddle two and some end right at a boundary; each is read, stepped over and read again.
  Records records;
  std::string text;
  for (std::size_t i = 0; text.size() < 3 * kBlockSize; ++i) {
    std::string record((i * 7919) % 3001, 'r');
    for (std::size_t j = 0; j < record.size(); j += 5) record[j] = static_cast<char>('a' + i % 26);
    text += record;
    text += i % 3 == 0 ? "\r\n" : "\n";
    records.push_back(std::move(record));
  }
  test::write_file(dir_.file("steps"), text);
  open_file(kUnit, dir_.file("steps"), FileStatus::kOld);
  for (const std::string& record : records) {
    ASSERT_EQ(read_one(kUnit, 4000), record);
    ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
    ASSERT_EQ(read_one(kUnit, 4000), record);
  }
  std::string buffer(8, '?');
  std::int32_t kept = 0;
  EXPECT_EQ(kud::io::read_record_raw(kUnit, buffer, kept), -1);
}

TEST_F(UnitsTest, LongRecordThenStepBack) {
  std::string record(std::size_t{1} << 20, 'x');
  for (std::size_t i = 0; i < record.size(); i += 7) record[i] = static_cast<char>('a' + i % 26);
  test::write_file(dir_.file("long"), record + "\r\nnext\n");
  open_file(kUnit, dir_.file("long"), FileStatus::kOld);
  EXPECT_EQ(read_one(kUnit, 132), record.substr(0, 132));
  ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
  EXPECT_EQ(read_one(kUnit, 132), record.substr(0, 132));
  EXPECT_EQ(read_one(kUnit, 132), "next");
  // Beyond the reread limit, a step back returns the record's first kRereadLimit characters.
  ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
  const std::size_t wide = 5000;
  EXPECT_EQ(read_one(kUnit, wide), record.substr(0, wide));
  ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
  EXPECT_EQ(read_one(kUnit, wide), record.substr(0, kud::io::kRereadLimit));
}

long peak_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST_F(UnitsTest, HundredMegabyteRecordInBoundedMemory) {
  const std::string path = dir_.file("huge");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const std::string chunk(std::size_t{1} << 20, 'z');
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(::write(fd, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
  ASSERT_EQ(::write(fd, "\r\ntail\n", 7), 7);
  ASSERT_EQ(::close(fd), 0);

  const long before = peak_kib();
  open_file(kUnit, path, FileStatus::kOld);
  EXPECT_EQ(read_all(kUnit, 132), (Records{std::string(132, 'z'), "tail"}));
  EXPECT_LT(peak_kib() - before, 20 * 1024) << "KiB of peak memory grown while reading";
}

TEST_F(UnitsTest, StepBackAndRewindOnPipe) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string_view data = "first\nsecond\n";
  ASSERT_EQ(::write(ends[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ::close(ends[1]);
  ASSERT_EQ(kud::io::attach_unit(kUnit, ends[0], "pipe", false), 0);
  EXPECT_EQ(kud::io::unit_name(kUnit), "pipe");

  EXPECT_EQ(kud::io::backspace_unit(kUnit), 0);  // nothing read yet: no effect
  EXPECT_EQ(kud::io::rewind_unit(kUnit), 0);     // still at the start
  EXPECT_EQ(read_one(kUnit, 16), "first");
  EXPECT_EQ(kud::io::rewind_unit(kUnit), ESPIPE);
  EXPECT_EQ(kud::io::backspace_unit(kUnit), 0);
  EXPECT_EQ(kud::io::backspace_unit(kUnit), EINVAL);  // only one step back is kept
  EXPECT_EQ(read_one(kUnit, 16), "first");
  EXPECT_EQ(read_one(kUnit, 16), "second");
  EXPECT_EQ(kud::io::backspace_unit(kUnit), 0);
  EXPECT_EQ(read_one(kUnit, 16), "second");
  std::int32_t kept = 0;
  std::string buffer(4, ' ');
  EXPECT_EQ(kud::io::read_record_raw(kUnit, buffer, kept), -1);
  EXPECT_EQ(kud::io::backspace_unit(kUnit), 0);  // after end of file: still at the end
  EXPECT_EQ(kud::io::read_record_raw(kUnit, buffer, kept), -1);

  // An attached descriptor stays the caller's: closing the unit leaves it open.
  EXPECT_EQ(kud::io::close_unit(kUnit), 0);
  EXPECT_FALSE(kud::io::is_connected(kUnit));
  EXPECT_NE(::fcntl(ends[0], F_GETFD), -1);
  ::close(ends[0]);
}

// An attached descriptor is read from where its owner left it, and a rewind goes back there,
// also after the read ahead has run through several blocks.
TEST_F(UnitsTest, AttachedFileRewindsToWhereItStood) {
  Records records;
  std::string text = "skipped\n";
  for (int i = 0; text.size() < 3 * kBlockSize; ++i) {
    records.push_back(std::to_string(i) + std::string(static_cast<std::size_t>(i % 300), 'r'));
    text += records.back() + "\n";
  }
  const std::string path = dir_.file("offset");
  test::write_file(path, text);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 8, SEEK_SET), 8);
  ASSERT_EQ(kud::io::attach_unit(kUnit, fd, "offset", false), 0);
  EXPECT_EQ(read_all(kUnit, 400), records);
  ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
  EXPECT_EQ(read_one(kUnit, 400), records[0]);
  ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
  EXPECT_EQ(read_all(kUnit, 400), records);
  EXPECT_EQ(kud::io::close_unit(kUnit), 0);
  ::close(fd);
}

TEST_F(UnitsTest, WritesRecordsAndPrompts) {
  const std::string path = dir_.file("out");
  open_file(kUnit, path, FileStatus::kUnknown);
  const std::string big(kBlockSize + 100, 'b');  // larger than the write block
  ASSERT_EQ(kud::io::write_record(kUnit, "ab"), 0);
  ASSERT_EQ(kud::io::write_prompt(kUnit, "c"), 0);
  ASSERT_EQ(kud::io::write_record(kUnit, std::string_view{}), 0);
  ASSERT_EQ(kud::io::write_record(kUnit, big), 0);
  ASSERT_EQ(kud::io::write_record(kUnit, std::string_view("\0\xff", 2)), 0);
  // Reading after writing sees the file's end; rewinding sees every record.
  std::string buffer(8, ' ');
  EXPECT_EQ(kud::io::read_record(kUnit, buffer), -1);
  ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
  EXPECT_EQ(read_all(kUnit, big.size()), (Records{"ab", "c", big, std::string("\0\xff", 2)}));
  ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  EXPECT_EQ(test::read_file(path), "ab\r\nc\r\n" + big + "\r\n" + std::string("\0\xff\r\n", 4));
}

TEST_F(UnitsTest, WriteAfterReadGoesToTheLogicalPosition) {
  const std::string path = dir_.file("mixed");
  test::write_file(path, "one\ntwo\nthree\n");
  open_file(kUnit, path, FileStatus::kOld);
  EXPECT_EQ(read_one(kUnit, 8), "one");
  ASSERT_EQ(kud::io::write_record(kUnit, "TWO"), 0);
  EXPECT_EQ(read_one(kUnit, 8), "hree");
  ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  EXPECT_EQ(test::read_file(path), "one\nTWO\r\nhree\n");

  // After a step back, a write replaces the record stepped over.
  open_file(kUnit, path, FileStatus::kOld);
  EXPECT_EQ(read_one(kUnit, 8), "one");
  ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
  ASSERT_EQ(kud::io::write_record(kUnit, "1"), 0);
  ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  EXPECT_EQ(test::read_file(path), "1\r\n\nTWO\r\nhree\n");
}

// records[from, from + count), cut at the end.
Records part(const Records& records, std::size_t from, std::size_t count = ~std::size_t{0}) {
  const std::size_t end = count > records.size() - from ? records.size() : from + count;
  return {records.data() + from, records.data() + end};
}

// Records of 8 bytes ("1000000\n" on), exactly kBlockSize / 8 to a read block.
Records numbered_file(const std::string& path, std::size_t count) {
  Records records;
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    records.push_back(std::to_string(1000000 + i));
    text += records.back() + "\n";
  }
  test::write_file(path, text);
  return records;
}

TEST_F(UnitsTest, ReadAheadFollowsEveryMove) {
  // The block after the one being read is read ahead. Whatever moves the unit after n records
  // (n = a block's worth ends exactly at a block boundary, with the next block already read
  // ahead) must leave the records as if nothing had been read ahead.
  constexpr std::size_t kPerBlock = kBlockSize / 8;
  const Records records = numbered_file(dir_.file("ahead"), 3 * kPerBlock + 500);
  const auto rest = [&](std::size_t n) { return part(records, n); };
  enum class Move { kNone, kRewind, kStepBack, kWrite, kReopen };
  struct Row {
    std::size_t n;
    Move move;
  };
  for (const Row row : {Row{kPerBlock + 3, Move::kNone}, Row{kPerBlock + 3, Move::kRewind},
                        Row{2 * kPerBlock, Move::kRewind}, Row{2 * kPerBlock, Move::kStepBack},
                        Row{kPerBlock + 3, Move::kWrite}, Row{2 * kPerBlock, Move::kWrite},
                        Row{kPerBlock + 3, Move::kReopen}}) {
    SCOPED_TRACE("after " + std::to_string(row.n) + " records, move " +
                 std::to_string(static_cast<int>(row.move)));
    numbered_file(dir_.file("ahead"), records.size());
    open_file(kUnit, dir_.file("ahead"), FileStatus::kOld);
    for (std::size_t i = 0; i < row.n; ++i) ASSERT_EQ(read_one(kUnit, 16), records[i]);
    switch (row.move) {
      case Move::kNone:
        EXPECT_EQ(read_all(kUnit, 16), rest(row.n));
        break;
      case Move::kRewind:
        ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
        EXPECT_EQ(read_all(kUnit, 16), records);
        break;
      case Move::kStepBack:
        ASSERT_EQ(kud::io::backspace_unit(kUnit), 0);
        EXPECT_EQ(read_all(kUnit, 16), rest(row.n - 1));
        break;
      case Move::kWrite: {
        // The record written lands right after the records read: "W" and CR LF over the next
        // record's first bytes, the rest of which then reads as a record of its own.
        ASSERT_EQ(kud::io::write_record(kUnit, "W"), 0);
        Records expected = rest(row.n + 1);
        expected.insert(expected.begin(), records[row.n].substr(3));
        EXPECT_EQ(read_all(kUnit, 16), expected);
        ASSERT_EQ(kud::io::close_unit(kUnit), 0);
        const std::string text = test::read_file(dir_.file("ahead"));
        EXPECT_EQ(text.substr(8 * row.n, 8), "W\r\n" + records[row.n].substr(3) + "\n");
        continue;
      }
      case Move::kReopen:
        ASSERT_EQ(kud::io::close_unit(kUnit), 0);
        open_file(kUnit, dir_.file("ahead"), FileStatus::kOld);
        EXPECT_EQ(read_all(kUnit, 16), records);
        break;
    }
    ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  }
}

TEST_F(UnitsTest, TwoUnitsReadingTogetherKeepTheirRecords) {
  // One unit at a time can read ahead; records read in turns from two files must not mix.
  const Records first = numbered_file(dir_.file("first"), 2 * kBlockSize / 8 + 77);
  Records second;
  std::string text;
  for (std::size_t i = 0; i < first.size() / 2; ++i) {
    second.push_back("second-" + std::to_string(i));
    text += second.back() + "\r\n";
  }
  test::write_file(dir_.file("second"), text);
  open_file(kUnit, dir_.file("first"), FileStatus::kOld);
  open_file(kUnit + 1, dir_.file("second"), FileStatus::kOld);
  for (std::size_t i = 0; i < second.size(); ++i) {
    ASSERT_EQ(read_one(kUnit, 32), first[2 * i]);
    ASSERT_EQ(read_one(kUnit + 1, 32), second[i]);
    ASSERT_EQ(read_one(kUnit, 32), first[2 * i + 1]);
  }
  EXPECT_EQ(read_all(kUnit, 32), part(first, 2 * second.size()));
  EXPECT_EQ(read_all(kUnit + 1, 32), Records{});
}

TEST_F(UnitsTest, FileCutShortWhileReadEndsCleanly) {
  // A file truncated under the reader: the block already read comes back whole, then the
  // reading ends where the file now ends, even though the next block was being read ahead.
  constexpr std::size_t kPerBlock = kBlockSize / 8;
  const Records records = numbered_file(dir_.file("cut"), 4 * kPerBlock);
  open_file(kUnit, dir_.file("cut"), FileStatus::kOld);
  ASSERT_EQ(read_one(kUnit, 16), records[0]);
  ASSERT_EQ(::truncate(dir_.file("cut").c_str(), static_cast<off_t>(kBlockSize / 2)), 0);
  EXPECT_EQ(read_all(kUnit, 16), part(records, 1, kPerBlock - 1));
}

TEST_F(UnitsTest, FileGrowingWhileReadIsReadOn) {
  // Records appended by another unit after the reader took n records (ending at its end of
  // file, or before it with the next block read ahead) are read on, as without a read ahead.
  constexpr std::size_t kPerBlock = kBlockSize / 8;
  for (const std::size_t size : {std::size_t{3}, kPerBlock, kPerBlock + 3, 2 * kPerBlock}) {
    for (const bool to_the_end : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (to_the_end ? " records, read to the end" : " records"));
      const Records records = numbered_file(dir_.file("grow"), size);
      open_file(kUnit, dir_.file("grow"), FileStatus::kOld);
      const std::size_t n = to_the_end ? size : size - 1;
      for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(read_one(kUnit, 16), records[i]);
      if (to_the_end) {
        EXPECT_EQ(read_all(kUnit, 16), Records{});
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the read ahead is done
      open_file(kUnit + 1, dir_.file("grow"), FileStatus::kOld);
      std::string skipped(16, ' ');
      std::int32_t kept = 0;
      while (kud::io::read_record_raw(kUnit + 1, skipped, kept) == 0) {
      }
      ASSERT_EQ(kud::io::write_record(kUnit + 1, "added"), 0);
      ASSERT_EQ(kud::io::close_unit(kUnit + 1), 0);
      Records expected = part(records, n);
      expected.push_back("added");
      EXPECT_EQ(read_all(kUnit, 16), expected);
      ASSERT_EQ(kud::io::close_unit(kUnit), 0);
    }
  }
}

TEST_F(UnitsTest, FileRewrittenByAnotherUnitIsReadAsItIsNow) {
  // Another unit empties the file and writes new records while the reader holds its first
  // block and has read the next one ahead: past its first block, the reader gets the new ones.
  constexpr std::size_t kPerBlock = kBlockSize / 8;
  const Records old_records = numbered_file(dir_.file("rewrite"), 2 * kPerBlock + 10);
  open_file(kUnit, dir_.file("rewrite"), FileStatus::kOld);
  ASSERT_EQ(read_one(kUnit, 16), old_records[0]);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the read ahead is done
  open_file(kUnit + 1, dir_.file("rewrite"), FileStatus::kUnknown);
  Records new_records;
  for (std::size_t i = 0; i < old_records.size(); ++i) {
    new_records.push_back(std::to_string(2000000 + i));
    ASSERT_EQ(kud::io::write_record(kUnit + 1, new_records.back()), 0);
  }
  ASSERT_EQ(kud::io::close_unit(kUnit + 1), 0);
  const Records got = read_all(kUnit, 16);
  ASSERT_GE(got.size(), kPerBlock);
  // The rest of the first block as it was read, a piece of a new record (they are 9 bytes, so
  // the reader's position falls inside one), then new records only, to the last.
  EXPECT_EQ(part(got, 0, kPerBlock - 1), part(old_records, 1, kPerBlock - 1));
  for (std::size_t i = kPerBlock; i < got.size(); ++i)
    ASSERT_EQ(got[i][0], '2') << i << ": " << got[i];
  EXPECT_EQ(got.back(), new_records.back());
}

TEST_F(UnitsTest, OpenStatuses) {
  const std::string existing = dir_.file("existing");
  const std::string missing = dir_.file("missing");
  test::write_file(existing, "old contents that are longer\n");
  struct Row {
    std::string name;
    FileStatus status;
    std::int32_t unit;
    std::int32_t expected;
  };
  const std::vector<Row> rows = {
      {missing, FileStatus::kOld, 1, ENOENT},
      {dir_.path().string(), FileStatus::kOld, 1, EISDIR},
      {dir_.path().string(), FileStatus::kUnknown, 1, EISDIR},
      {existing, FileStatus::kNew, 1, EEXIST},
      {"", FileStatus::kUnknown, 1, ENOENT},
      {std::string("ex\0isting", 9), FileStatus::kUnknown, 1, EINVAL},
      {existing, FileStatus::kOld, 0, EBADF},
      {existing, FileStatus::kOld, 100, EBADF},
      {existing, FileStatus::kOld, -1, EBADF},
      {existing, FileStatus::kOld, 1, 0},
      {existing, FileStatus::kOld, 99, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name + " unit " + std::to_string(row.unit));
    OpenRequest request;
    request.name = row.name;
    request.status = row.status;
    EXPECT_EQ(kud::io::open_unit(row.unit, request), row.expected);
    if (row.unit >= 1 && row.unit <= 99) {
      EXPECT_EQ(kud::io::is_connected(row.unit), row.expected == 0);
    }
    static_cast<void>(kud::io::close_unit(row.unit));
  }
  EXPECT_FALSE(std::filesystem::exists(missing));

  open_file(1, missing, FileStatus::kNew);
  ASSERT_EQ(kud::io::write_record(1, "new"), 0);
  // An existing file opened as unknown keeps only this run's records.
  open_file(2, existing, FileStatus::kUnknown);
  ASSERT_EQ(kud::io::write_record(2, "x"), 0);
  // Opening on a connected unit closes what it held first, writing out its records.
  open_file(1, existing, FileStatus::kOld);
  EXPECT_EQ(kud::io::unit_name(1), existing);
  EXPECT_EQ(test::read_file(missing), "new\r\n");
  ASSERT_EQ(kud::io::close_unit(2), 0);
  EXPECT_EQ(test::read_file(existing), "x\r\n");
  EXPECT_EQ(kud::io::close_unit(1), 0);
  EXPECT_EQ(kud::io::close_unit(1), 0);  // not connected any more: no error
  EXPECT_EQ(kud::io::unit_name(1), "");
}

TEST_F(UnitsTest, ScratchFileLeavesNothingBehind) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  ::setenv("TMPDIR", dir_.path().c_str(), 1);
  OpenRequest request;
  request.status = FileStatus::kScratch;
  request.name = "ignored";
  const std::int32_t rc = kud::io::open_unit(kUnit, request);
  if (old != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  ASSERT_EQ(rc, 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
  ASSERT_EQ(kud::io::write_record(kUnit, "kept"), 0);
  ASSERT_EQ(kud::io::rewind_unit(kUnit), 0);
  EXPECT_EQ(read_all(kUnit, 8), Records{"kept"});
  EXPECT_EQ(kud::io::close_unit(kUnit), 0);
}

TEST_F(UnitsTest, ReadOnlyOldFileIsReadButWritesFail) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  const std::string path = dir_.file("ro");
  test::write_file(path, "data\n");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  open_file(kUnit, path, FileStatus::kOld);
  EXPECT_EQ(read_one(kUnit, 8), "data");
  ASSERT_EQ(kud::io::write_record(kUnit, "no"), 0);  // buffered; the failure shows at flush
  EXPECT_EQ(kud::io::flush_unit(kUnit), EBADF);
  EXPECT_EQ(kud::io::close_unit(kUnit), EBADF);  // and again at close
  EXPECT_EQ(test::read_file(path), "data\n");
}

// Runs body with standard error sent to a file and returns what it wrote there.
template <typename Body>
std::string capture_stderr(const std::string& path, Body body) {
  const int saved = ::dup(2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 2);
  ::close(fd);
  body();
  ::dup2(saved, 2);
  ::close(saved);
  return test::read_file(path);
}

TEST_F(UnitsTest, DiskFullIsReported) {
  open_file(1, "/dev/full", FileStatus::kUnknown);
  ASSERT_EQ(kud::io::write_record(1, "lost"), 0);
  EXPECT_EQ(kud::io::flush_unit(1), ENOSPC);
  EXPECT_EQ(kud::io::close_unit(1), ENOSPC);

  // close_all_units reports the first failure once and still closes the other units.
  open_file(1, "/dev/full", FileStatus::kUnknown);
  open_file(2, "/dev/full", FileStatus::kUnknown);
  open_file(3, dir_.file("good"), FileStatus::kUnknown);
  for (std::int32_t unit : {1, 2, 3}) ASSERT_EQ(kud::io::write_record(unit, "r"), 0);
  kud::io::set_program_name("zelp");
  std::int32_t rc = 0;
  const std::string err =
      capture_stderr(dir_.file("err"), [&] { rc = kud::io::close_all_units(); });
  kud::io::set_program_name("kud");
  EXPECT_EQ(rc, ENOSPC);
  EXPECT_EQ(err, std::string("zelp: /dev/full: ") + std::strerror(ENOSPC) + "\n");
  EXPECT_EQ(test::read_file(dir_.file("good")), "r\r\n");
  for (std::int32_t unit : {1, 2, 3}) EXPECT_FALSE(kud::io::is_connected(unit));
}

TEST_F(UnitsTest, BlocksWrittenInTheBackgroundKeepOrderAndPosition) {
  // Two units fill many blocks in turns, so that the block in flight belongs now to one, now to
  // the other; a third unit writes through to the first unit's file between blocks, and the
  // first unit is read back and written again in the middle. Every record lands once, in order.
  const std::string first = dir_.file("first");
  const std::string second = dir_.file("second");
  open_file(1, first, FileStatus::kUnknown);
  open_file(2, second, FileStatus::kUnknown);
  std::string expect_first;
  std::string expect_second;
  for (int i = 0; i < 60000; ++i) {
    const std::string a =
        "a" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), 'x');
    const std::string b = "b" + std::to_string(i);
    ASSERT_EQ(kud::io::write_record(1, a), 0);
    expect_first += a + "\r\n";
    ASSERT_EQ(kud::io::write_record(2, b), 0);
    expect_second += b + "\r\n";
    if (i == 30000) {
      // Stepping into reading waits for the blocks in flight and writes the rest first.
      ASSERT_EQ(kud::io::rewind_unit(1), 0);
      EXPECT_EQ(read_one(1, 16), "a0");
      ASSERT_EQ(kud::io::rewind_unit(1), 0);
      expect_first.clear();
    }
  }
  ASSERT_EQ(kud::io::close_unit(1), 0);
  ASSERT_EQ(kud::io::close_unit(2), 0);
  const std::string got_first = test::read_file(first);
  // After the rewind the records overwrite the file from its start; the old tail stays.
  ASSERT_GE(got_first.size(), expect_first.size());
  EXPECT_EQ(got_first.substr(0, expect_first.size()), expect_first);
  EXPECT_EQ(test::read_file(second), expect_second);
}

TEST_F(UnitsTest, ConsoleWaitsForBlocksInFlight) {
  // A slow reader keeps the buffered unit's blocks in flight on the pipe; a write-through record
  // on the same descriptor still comes after all of them.
  SlowPipe pipe(40, std::chrono::milliseconds(2));
  ASSERT_GE(pipe.write_end(), 0);
  ASSERT_EQ(kud::io::attach_unit(20, pipe.write_end(), "pipe", true), 0);
  ASSERT_EQ(kud::io::attach_unit(21, pipe.write_end(), "console", false), 0);
  std::string expect = write_numbered(20, 3 * kBlockSize / 8);
  ASSERT_EQ(kud::io::write_record(21, "console"), 0);
  expect += "console\r\n";
  ASSERT_EQ(kud::io::write_record(20, "last"), 0);
  expect += "last\r\n";
  ASSERT_EQ(kud::io::close_unit(20), 0);
  ASSERT_EQ(kud::io::close_unit(21), 0);
  const std::string got = pipe.finish();
  EXPECT_EQ(got.size(), expect.size());
  EXPECT_TRUE(got == expect);
}

TEST_F(UnitsTest, WrittenBlocksKeepTheirPlaceAmongRecords) {
  // Blocks handed over whole or filled by a caller's filler, between records, on a buffered
  // unit and on a write-through one: the file holds everything in the order written, and the
  // handed-back buffer can be reused.
  enum class Kind : std::uint8_t { kRecord, kBlock, kFilled };
  struct Step {
    Kind kind;
    std::vector<std::string> records;
  };
  const std::string full_record(kBlockSize - 2, 'f');
  const std::vector<Step> steps = {
      {Kind::kRecord, {"a"}},         {Kind::kBlock, {"b1", "b2", "b3"}},
      {Kind::kRecord, {"c"}},         {Kind::kBlock, {}},
      {Kind::kBlock, {full_record}},  {Kind::kBlock, {"e"}},
      {Kind::kFilled, {"f1", "f2"}},  {Kind::kFilled, {"f3"}},
      {Kind::kRecord, {"g"}},         {Kind::kFilled, {}},
      {Kind::kFilled, {full_record}}, {Kind::kBlock, {"h"}},
      {Kind::kRecord, {"i"}},
  };
  // The filler copies its step's text; the texts stay put until the unit is closed.
  const kud::io::BlockFiller copy_text = [](void* context, std::span<char> to) {
    const auto& text = *static_cast<const std::string*>(context);
    std::copy(text.begin(), text.end(), to.begin());
    return text.size();
  };
  for (const bool buffered : {true, false}) {
    SCOPED_TRACE(buffered ? "buffered" : "write-through");
    const std::string path = dir_.file("blocks");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kud::io::attach_unit(kUnit, fd, "blocks", buffered), 0);
    std::unique_ptr<char[]> block;
    std::vector<std::string> texts(steps.size());
    std::string expect;
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const Step& step = steps[i];
      std::string& text = texts[i];
      for (const std::string& record : step.records) text += record + "\r\n";
      expect += text;
      if (step.kind == Kind::kRecord) {
        ASSERT_EQ(kud::io::write_record(kUnit, step.records[0]), 0);
        continue;
      }
      if (!block) block = std::make_unique<char[]>(kBlockSize);
      if (step.kind == Kind::kBlock) {
        std::copy(text.begin(), text.end(), block.get());
        ASSERT_EQ(kud::io::write_block(kUnit, block, text.size()), 0);
      } else {
        ASSERT_EQ(kud::io::write_block_filled(kUnit, block, copy_text, &text), 0);
      }
      // The buffer handed back may be written at once without touching what is on its way.
      if (block) std::fill_n(block.get(), kBlockSize, 'X');
    }
    ASSERT_EQ(kud::io::close_unit(kUnit), 0);
    ::close(fd);
    const std::string got = test::read_file(path);
    EXPECT_EQ(got.size(), expect.size());
    EXPECT_TRUE(got == expect);
  }
}

TEST_F(UnitsTest, WriteBlockRefusesWhatItCannotTake) {
  auto block = std::make_unique<char[]>(kBlockSize);
  EXPECT_EQ(kud::io::write_block(kUnit, block, 1), EBADF);
  open_file(kUnit, dir_.file("refused"), FileStatus::kUnknown);
  EXPECT_EQ(kud::io::write_block(kUnit, block, kBlockSize + 1), EINVAL);
  std::unique_ptr<char[]> none;
  EXPECT_EQ(kud::io::write_block(kUnit, none, 1), EINVAL);
  const kud::io::BlockFiller nothing = [](void*, std::span<char>) { return std::size_t{0}; };
  EXPECT_EQ(kud::io::write_block_filled(kUnit, none, nothing, nullptr), EINVAL);
  EXPECT_EQ(kud::io::write_block_filled(kUnit, block, nullptr, nullptr), EINVAL);
  ASSERT_EQ(kud::io::close_unit(kUnit), 0);
  EXPECT_EQ(test::read_file(dir_.file("refused")), "");
}

TEST_F(UnitsTest, ForkWaitsForTheBlockInFlight) {
  // A slow reader keeps blocks in flight. fork() waits until the block in flight is written, so
  // the child, which has no writer thread, flushes and exits instead of waiting for ever, and
  // everything the parent wrote before the fork reaches the pipe before the child's copy.
  SlowPipe pipe(std::numeric_limits<int>::max(), std::chrono::milliseconds(1));
  ASSERT_GE(pipe.write_end(), 0);
  ASSERT_EQ(kud::io::attach_unit(20, pipe.write_end(), "pipe", true), 0);
  const std::string sent = write_numbered(20, 2 * kBlockSize / 8);
  EXPECT_EXIT(std::_Exit(kud::io::flush_unit(20) == 0 ? 0 : 1), ::testing::ExitedWithCode(0), "");
  ASSERT_EQ(kud::io::close_unit(20), 0);
  const std::string got = pipe.finish();
  // The parent's two full blocks, written before the fork; the child's copy of the rest; the
  // parent's rest at close.
  const std::size_t block = kud::io::kBlockSize / 9 * 9;  // whole records of 9 bytes
  const std::string rest = sent.substr(2 * block);
  EXPECT_EQ(got.size(), sent.size() + rest.size());
  EXPECT_TRUE(got == sent + rest);
}

TEST_F(UnitsTest, BackgroundWriteFailureComesBackToItsUnit) {
  // Blocks bound for a full device fail on the writer thread: the unit hears of it at a later
  // write and at close, and a unit writing beside it is not disturbed. Both units fill blocks,
  // so the failed block is often waited for by the other unit's next block.
  open_file(1, "/dev/full", FileStatus::kUnknown);
  open_file(2, dir_.file("good"), FileStatus::kUnknown);
  const std::string record(1000, 'r');
  const std::string good(997, 'g');
  // A block holds about kBlockSize / 1000 records of either unit.
  const auto per_block = static_cast<int>(kBlockSize / record.size());
  std::int32_t first_failure = 0;
  int records = 0;
  for (; records < 8 * per_block && first_failure == 0; ++records) {
    first_failure = kud::io::write_record(1, record);
    ASSERT_EQ(kud::io::write_record(2, good), 0);
  }
  EXPECT_EQ(first_failure, ENOSPC);
  EXPECT_LT(records, 4 * per_block);  // within a few blocks
  EXPECT_EQ(kud::io::close_unit(1), ENOSPC);
  ASSERT_EQ(kud::io::close_unit(2), 0);
  std::string expect;
  for (int i = 0; i < records; ++i) expect += good + "\r\n";
  EXPECT_EQ(test::read_file(dir_.file("good")), expect);
}

TEST_F(UnitsTest, StopProgramWritesEverythingOrFails) {
  const std::string path = dir_.file("stop");
  EXPECT_EXIT(
      {
        open_file(kUnit, path, FileStatus::kUnknown);
        static_cast<void>(kud::io::write_record(kUnit, "saved"));
        kud::io::stop_program(3);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_EQ(test::read_file(path), "saved\r\n");
  EXPECT_EXIT(
      {
        open_file(kUnit, "/dev/full", FileStatus::kUnknown);
        static_cast<void>(kud::io::write_record(kUnit, "lost"));
        kud::io::stop_program(0);
      },
      testing::ExitedWithCode(1), "kud: /dev/full: ");
}

TEST_F(UnitsTest, ConsoleWritesThroughBufferedUnitWaits) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  auto drain = [&] {
    std::string got(64, '\0');
    const ssize_t n = ::read(ends[0], got.data(), got.size());
    got.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return got;
  };
  ASSERT_EQ(kud::io::attach_unit(20, ends[1], std::string_view{}, true), 0);
  ASSERT_EQ(kud::io::attach_unit(21, ends[1], "console", false), 0);
  ASSERT_EQ(kud::io::write_record(20, "a"), 0);
  EXPECT_EQ(drain(), "");  // held in the block
  ASSERT_EQ(kud::io::flush_unit(20), 0);
  EXPECT_EQ(drain(), "a\r\n");
  ASSERT_EQ(kud::io::write_prompt(21, "ask? "), 0);
  EXPECT_EQ(drain(), "ask? ");
  // A write-through record on the same descriptor comes after what the buffered unit holds.
  ASSERT_EQ(kud::io::write_record(20, "b"), 0);
  ASSERT_EQ(kud::io::write_record(21, "c"), 0);
  EXPECT_EQ(drain(), "b\r\nc\r\n");
  ::close(ends[0]);
  ::close(ends[1]);
}

TEST_F(UnitsTest, KeyboardReadsStandardInput) {
  const std::string path = dir_.file("in");
  test::write_file(path, "answer\r\nmore");
  const int saved = ::dup(0);
  const int fd = ::open(path.c_str(), O_RDONLY);
  ::dup2(fd, 0);
  ::close(fd);
  const Records got = read_all(kud::io::kKeyboard, 16);
  ::dup2(saved, 0);
  ::close(saved);
  EXPECT_EQ(got, (Records{"answer", "more"}));
}

TEST_F(UnitsTest, BadUnits) {
  std::string buffer(4, ' ');
  for (std::int32_t unit : {-1, 101, kUnit}) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(kud::io::read_record(unit, buffer), EBADF);
    EXPECT_EQ(kud::io::write_record(unit, "x"), EBADF);
    EXPECT_EQ(kud::io::backspace_unit(unit), EBADF);
    EXPECT_EQ(kud::io::rewind_unit(unit), EBADF);
    EXPECT_FALSE(kud::io::is_connected(unit));
  }
  EXPECT_EQ(kud::io::close_unit(101), EBADF);
  EXPECT_EQ(kud::io::attach_unit(kUnit, -1, "bad", false), EBADF);
}

TEST_F(UnitsTest, NamesUnitFileHoweverSpelled) {
  const std::string path = dir_.file("data");
  test::write_file(path, "x\n");
  test::write_file(dir_.file("other"), "x\n");
  ASSERT_EQ(::link(path.c_str(), dir_.file("hard").c_str()), 0);
  ASSERT_EQ(::symlink(path.c_str(), dir_.file("soft").c_str()), 0);
  open_file(kUnit, path, FileStatus::kOld);
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  struct Row {
    std::string name;
    std::int32_t unit;
    bool same;
  };
  const std::vector<Row> rows = {
      {path, kUnit, true},
      {"data", kUnit, true},
      {"./data", kUnit, true},
      {"../" + dir_.path().filename().string() + "/data", kUnit, true},
      {dir_.file("hard"), kUnit, true},
      {"soft", kUnit, true},
      {"other", kUnit, false},
      {"missing", kUnit, false},
      {"", kUnit, false},
      {path, kUnit + 1, false},
      {path, 200, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(kud::io::names_unit_file(row.name, row.unit), row.same);
  }
  std::filesystem::current_path(cwd);
}

}  // namespace

namespace {

// A named pipe is opened one way only, so its end of file, and a reader that has gone, show.
TEST_F(UnitsTest, NamedPipesOpenOneWayOnly) {
  test::TempDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "one\ntwo\n", 8), 8);
    ::close(fd);
  });
  open_file(3, fifo, FileStatus::kOld);
  EXPECT_EQ(read_all(3, 10), (std::vector<std::string>{"one", "two"}));  // ends: no hang
  writer.join();
  EXPECT_EQ(kud::io::close_unit(3), 0);

  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ::close(fd);  // gone before anything is written
  });
  open_file(4, fifo, FileStatus::kUnknown);
  reader.join();
  const auto old_handler = std::signal(SIGPIPE, SIG_IGN);
  std::int32_t status = kud::io::write_record(4, "lost");
  if (status == 0) status = kud::io::close_unit(4);
  std::signal(SIGPIPE, old_handler);
  EXPECT_EQ(status, EPIPE);
}

}  // namespace
