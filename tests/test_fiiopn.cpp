// FIIOPN: checks, status values and the reports, compared byte for byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "kud/fileio/fiiopn.hpp"
#include "kud/io/units.hpp"
#include "support.hpp"

namespace {

constexpr std::int32_t kReportUnit = 7;
constexpr std::int32_t kUnit = 12;
static_assert(ENOENT == 2, "the error-code report below spells out ENOENT");

struct Call {
  std::string name;
  std::int32_t unit = kUnit;
  std::int32_t status_code = kud::kStatusUnknown;
  std::int32_t access_code = kud::kAccessSequential;
  std::int32_t form_code = 0;
  std::int32_t blank_code = 0;
  std::int32_t record_length = 0;
  std::int32_t report = 1;
};

const std::string kThreeEmpty = "\r\n\r\n\r\n";

class FiiopnTest : public ::testing::Test {
 protected:
  void SetUp() override { kud::io::reset_units(); }
  void TearDown() override { kud::io::reset_units(); }

  // Runs the call with message_unit; a positive one is the report file's unit. Returns what
  // the report file holds afterwards.
  std::string report_of(const Call& call, std::int32_t& status,
                        std::int32_t message_unit = kReportUnit) {
    kud::io::OpenRequest request;
    request.name = reports_;
    EXPECT_EQ(kud::io::open_unit(kReportUnit, request), 0);
    kud::FIIOPN(call.name, call.unit, call.status_code, call.access_code, call.form_code,
                call.blank_code, call.record_length, call.report, message_unit, status);
    EXPECT_EQ(kud::io::close_unit(kReportUnit), 0);
    return test::read_file(reports_);
  }

  test::TempDir dir_;
  std::string reports_ = dir_.file("reports");
};

TEST_F(FiiopnTest, RejectsUnitsAndRecordLengthsBeforeOpening) {
  const std::string missing = dir_.file("never");
  const std::string header = kThreeEmpty + " *** ERROR DURING OPENING OF FILE UNIT";
  struct Row {
    std::int32_t unit;
    std::int32_t access_code;
    std::int32_t record_length;
    std::int32_t form_code;
    std::int32_t expected_status;
    std::string expected_report;
  };
  const std::vector<Row> rows = {
      {0, 10, 0, 0, kud::kIllegalUnit, header + "    0\r\n     ILLEGAL FILE UNIT\r\n"},
      {-1, 10, 0, 0, kud::kIllegalUnit, header + "   -1\r\n     ILLEGAL FILE UNIT\r\n"},
      {100, 10, 0, 0, kud::kIllegalUnit, header + "  100\r\n     ILLEGAL FILE UNIT\r\n"},
      {123456, 10, 0, 0, kud::kIllegalUnit, header + "*****\r\n     ILLEGAL FILE UNIT\r\n"},
      // The unit check comes first.
      {0, 20, 0, 0, kud::kIllegalUnit, header + "    0\r\n     ILLEGAL FILE UNIT\r\n"},
      {kUnit, 20, 0, 0, kud::kIllegalRecordLength,
       header + "   12\r\n     ILLEGAL RECORD LENGTH =    0\r\n"},
      {kUnit, 20, -5, 1, kud::kIllegalRecordLength,
       header + "   12\r\n     ILLEGAL RECORD LENGTH =   -5\r\n"},
      {kUnit, 20, -123456, 2, kud::kIllegalRecordLength,
       header + "   12\r\n     ILLEGAL RECORD LENGTH =*****\r\n"},
      // Four characters per word would not fit in 32 bits.
      {kUnit, 20, 600000000, 1, kud::kIllegalRecordLength,
       header + "   12\r\n     ILLEGAL RECORD LENGTH =*****\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("unit " + std::to_string(row.unit) + " length " +
                 std::to_string(row.record_length));
    Call call;
    call.name = missing;
    call.unit = row.unit;
    call.access_code = row.access_code;
    call.form_code = row.form_code;
    call.record_length = row.record_length;
    std::int32_t status = 77;
    EXPECT_EQ(report_of(call, status), row.expected_report);
    EXPECT_EQ(status, row.expected_status);
    EXPECT_FALSE(std::filesystem::exists(missing));
  }
}

TEST_F(FiiopnTest, ReportsCharacteristics) {
  const std::string path = dir_.file("data.txt");
  const std::string name = path + "   ";  // trailing blanks: shown, but not part of the name
  const std::string named = kThreeEmpty + "     FILE  " + name + "\r\n";
  const std::string block = "     FILE CHARACTERISTICS :\r\n          STATUS =";
  struct Row {
    std::int32_t unit;
    std::int32_t status_code;
    std::int32_t access_code;
    std::int32_t form_code;
    std::int32_t blank_code;
    std::int32_t record_length;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {kUnit, 1, 20, 1, 1, 20,
       named + "     IS OPENED ON UNIT NO.  12\r\n" + block +
           "UNKNOWN\r\n          ACCESS =DIRECT    \r\n          FORM   =FORMATTED  \r\n"
           "          LENGTH =   80 WORDS/BYTES PER RECORD (SECTOR)\r\n"
           "          BLANK  =ZERO\r\n"},
      {kUnit, 1, 20, 2, 1, 20,
       named + "     IS OPENED ON UNIT NO.  12\r\n" + block +
           "UNKNOWN\r\n          ACCESS =DIRECT    \r\n          FORM   =UNFORMATTED\r\n"
           "          LENGTH =   20 WORDS/BYTES PER RECORD (SECTOR)\r\n"},
      {kUnit, 1, 20, 1, 0, 30000,
       named + "     IS OPENED ON UNIT NO.  12\r\n" + block +
           "UNKNOWN\r\n          ACCESS =DIRECT    \r\n          FORM   =FORMATTED  \r\n"
           "          LENGTH =***** WORDS/BYTES PER RECORD (SECTOR)\r\n"
           "          BLANK  =NULL\r\n"},
      {1, 1, 30, 0, 1, 0,
       named + "     IS OPENED ON UNIT NO.   1\r\n" + block +
           "UNKNOWN\r\n          ACCESS =DIRECT    \r\n          FORM   =UNFORMATTED\r\n"
           "          LENGTH =  128 WORDS/BYTES PER RECORD (SECTOR)\r\n"},
      {99, 2, 30, 1, 7, 5,
       named + "     IS OPENED ON UNIT NO.  99\r\n" + block +
           "OLD    \r\n          ACCESS =DIRECT    \r\n          FORM   =FORMATTED  \r\n"
           "          LENGTH =  128 WORDS/BYTES PER RECORD (SECTOR)\r\n"
           "          BLANK  =NULL\r\n"},
      {kUnit, 2, 10, 0, 1, 99,
       named + "     IS OPENED ON UNIT NO.  12\r\n" + block +
           "OLD    \r\n          ACCESS =SEQUENTIAL\r\n          FORM   =FORMATTED  \r\n"
           "          LENGTH =    0 WORDS/BYTES PER RECORD (SECTOR)\r\n"
           "          BLANK  =ZERO\r\n"},
      {kUnit, 9, 7, 2, 1, 0,
       named + "     IS OPENED ON UNIT NO.  12\r\n" + block +
           "UNKNOWN\r\n          ACCESS =SEQUENTIAL\r\n          FORM   =UNFORMATTED\r\n"
           "          LENGTH =    0 WORDS/BYTES PER RECORD (SECTOR)\r\n"},
      {kUnit, 4, 10, 1, 0, 0,
       kThreeEmpty + "     A SCRATCH FILE IS OPENED ON UNIT NO.  12\r\n" + block +
           "SCRATCH\r\n          ACCESS =SEQUENTIAL\r\n          FORM   =FORMATTED  \r\n"
           "          LENGTH =    0 WORDS/BYTES PER RECORD (SECTOR)\r\n"
           "          BLANK  =NULL\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("status " + std::to_string(row.status_code) + " access " +
                 std::to_string(row.access_code) + " form " + std::to_string(row.form_code));
    test::write_file(path, "old\n");
    Call call{name,          row.unit,       row.status_code,  row.access_code,
              row.form_code, row.blank_code, row.record_length};
    std::int32_t status = 77;
    EXPECT_EQ(report_of(call, status), row.expected);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(kud::io::is_connected(row.unit));
    // The blanks after the name are not part of it; a scratch file leaves the named one alone.
    EXPECT_EQ(kud::io::names_unit_file(path, row.unit), row.status_code != 4);
    EXPECT_FALSE(std::filesystem::exists(name));
    ASSERT_EQ(kud::io::close_unit(row.unit), 0);
  }
}

TEST_F(FiiopnTest, OpenFailureThenSuccessWithTheSameStatusVariable) {
  const std::string path = dir_.file("input");
  Call call;
  call.name = path;
  call.status_code = kud::kStatusOld;
  call.report = 0;
  std::int32_t status = 0;
  EXPECT_EQ(report_of(call, status), kThreeEmpty +
                                         " *** ERROR DURING OPENING OF FILE UNIT   12\r\n"
                                         "     ERROR CODE =    2  (SYSTEM PARAMETER)\r\n");
  EXPECT_EQ(status, -ENOENT);
  EXPECT_FALSE(kud::io::is_connected(kUnit));

  test::write_file(path, "x\n");
  EXPECT_EQ(report_of(call, status), "");  // success without a report asked for
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(kud::io::names_unit_file(path, kUnit));

  call.status_code = kud::kStatusNew;  // it exists now
  report_of(call, status);
  EXPECT_EQ(status, -EEXIST);
}

TEST_F(FiiopnTest, SilentWithoutPositiveMessageUnit) {
  // Standard output goes to a file, so that a report sent to unit 0 would show too.
  const std::string out = dir_.file("stdout");
  const int saved = ::dup(1);
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ::dup2(fd, 1);
  ::close(fd);
  std::vector<std::string> reports;
  for (std::int32_t message_unit : {0, -kReportUnit}) {
    for (std::int32_t unit : {0, kUnit}) {
      for (std::int32_t length : {0, 5}) {
        Call call;
        call.name = dir_.file(unit == 0 ? "a" : "b");
        call.unit = unit;
        call.access_code = kud::kAccessDirect;
        call.record_length = length;
        std::int32_t status = 77;
        reports.push_back(report_of(call, status, message_unit));
        EXPECT_EQ(status, unit == 0     ? kud::kIllegalUnit
                          : length == 0 ? kud::kIllegalRecordLength
                                        : 0);
        static_cast<void>(kud::io::close_unit(kUnit));
      }
    }
    Call missing;
    missing.name = dir_.file("missing");
    missing.status_code = kud::kStatusOld;
    std::int32_t status = 0;
    reports.push_back(report_of(missing, status, message_unit));
    EXPECT_EQ(status, -ENOENT);
  }
  ::dup2(saved, 1);
  ::close(saved);
  EXPECT_EQ(reports, std::vector<std::string>(reports.size()));
  EXPECT_EQ(test::read_file(out), "");
}

}  // namespace
