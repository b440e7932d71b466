// A fixture for the reader's suites: fresh reader state and units for every test, and ways to
// give the reader a line, a memory text or an input file.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "kud/io/units.hpp"
#include "kud/reader/reader_state.hpp"
#include "support.hpp"

namespace test {

inline constexpr std::int32_t kInputUnit = 88;
inline constexpr std::int32_t kReportUnit = 7;

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kud::io::reset_units();
    kud::reset_reader_state();
  }
  void TearDown() override {
    kud::io::reset_units();
    kud::reset_reader_state();
  }

  // The working line as a fetch leaves it: text at columns 1.., sentinel after, cursor on 1,
  // and LINRAW holding the same text. Reader defaults come from INIFII on the memory text.
  void set_line(std::string_view text) {
    std::int32_t ierr = 0;
    kud::INIFII(kud::kMemoryUnit, -1, ierr);
    ASSERT_LE(text.size(), static_cast<std::size_t>(kud::kMaxLine));
    std::memcpy(&kud::RS.LINE[1], text.data(), text.size());
    std::memcpy(&kud::RS.LINRAW[1], text.data(), text.size());
    kud::RS.LENLIN = static_cast<std::int32_t>(text.size());
    kud::RS.LINE[text.size() + 1] = kud::kSentinel;
    kud::RS.IPOS = 1;
  }

  // Puts text into the memory text and sets the reader on it (messages silenced).
  static void use_memory(std::string_view text) {
    std::memcpy(&kud::RS.MEMTXT[1], text.data(), text.size());
    kud::RS.MEMLEN = static_cast<std::int32_t>(text.size());
    std::int32_t ierr = 0;
    kud::INIFII(kud::kMemoryUnit, -1, ierr);
  }

  // Writes bytes to a file, opens it on unit 88 and sets the reader on it; reports go to a
  // report file on unit 7 when with_report, nowhere otherwise.
  void use_file(std::string_view bytes, bool with_report = true) {
    write_file(input_path(), bytes);
    kud::io::OpenRequest request;
    request.name = input_path_;
    request.status = kud::io::FileStatus::kOld;
    ASSERT_EQ(kud::io::open_unit(kInputUnit, request), 0);
    if (with_report) open_report();
    std::int32_t ierr = 0;
    kud::INIFII(kInputUnit, with_report ? kReportUnit : -1, ierr);
    ASSERT_EQ(ierr, 0);
  }

  void open_report() {
    kud::io::OpenRequest request;
    report_path_ = dir_.file("report.txt");
    request.name = report_path_;
    request.status = kud::io::FileStatus::kUnknown;
    ASSERT_EQ(kud::io::open_unit(kReportUnit, request), 0);
  }

  // Everything written to the report unit so far (closes it).
  std::string report() {
    EXPECT_EQ(kud::io::close_unit(kReportUnit), 0);
    return read_file(report_path_);
  }

  const std::string& input_path() {
    if (input_path_.empty()) input_path_ = dir_.file("input.txt");
    return input_path_;
  }
  const std::string& report_path() const { return report_path_; }

  TempDir dir_;
  std::string input_path_;
  std::string report_path_;
};

// The line between columns first and last of LINE.
inline std::string line_text(std::int32_t first, std::int32_t last) {
  if (last < first) return {};
  return {&kud::RS.LINE[static_cast<std::size_t>(first)],
          static_cast<std::size_t>(last - first + 1)};
}

}  // namespace test
