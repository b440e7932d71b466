// FIIOPN on codes taken from the input bytes, with names inside a private folder. Whatever the
// codes, the status is 0, -901, -902 or minus a system error number; -901 and -902 come exactly
// when the unit or the record length is illegal; a 0 leaves the unit connected to a file that
// exists; a silent call writes nothing, and the error and characteristics reports have their
// fixed shape.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "kud/fileio/fiiopn.hpp"
#include "kud/io/units.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kHeader = 12;  // bytes of codes before the name
constexpr std::int32_t kFirstReportUnit = 7;

// The private folder, removed at exit: "files" receives the names, "report" the messages.
const fs::path& base() {
  static const fuzz::PrivateFolder folder("zelp-fiiopn");
  return folder.path;
}

// Files the names can hit: an existing file and a folder.
void fresh_files() {
  const fs::path files = base() / "files";
  std::error_code ec;
  fs::remove_all(files, ec);
  fs::create_directories(files / "dir", ec);
  std::ofstream(files / "old") << "existing\n";
}

std::int32_t read_i32(const std::uint8_t* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return static_cast<std::int32_t>(v);
}

// A byte as a small signed code, with the two extremes of 32 bits reachable too.
std::int32_t code(std::uint8_t b) {
  if (b == 0x80) return std::numeric_limits<std::int32_t>::min();
  if (b == 0x7f) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int8_t>(b);
}

// Raw bytes as a name under files/; a ".." part becomes "__" so nothing leaves the folder.
std::string make_name(std::uint8_t selector, std::string_view raw) {
  std::string name = (base() / "files").string() + "/";
  if (selector % 3 == 1) name += "old";
  if (selector % 3 == 2) name += "dir/";
  std::string part;
  auto flush_part = [&] {
    name += part == ".." ? std::string("__") : part;
    part.clear();
  };
  for (const char c : raw) {
    if (c == '/') {
      flush_part();
      name += '/';
    } else {
      part += c;
    }
  }
  flush_part();
  return name;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string int_field(std::int32_t value, std::size_t width) {
  const std::string digits = std::to_string(value);
  if (digits.size() > width) return std::string(width, '*');
  return std::string(width - digits.size(), ' ') + digits;
}

std::string fixed(std::string_view text, std::size_t width) {
  std::string out(text.substr(0, width));
  out.resize(width, ' ');
  return out;
}

// What FIIOPN was asked for, and what its report must say.
struct Call {
  std::string_view name;
  std::int32_t unit;
  std::int32_t status_code;
  std::int32_t access_code;
  std::int32_t form_code;
  std::int32_t blank_code;
  std::int32_t record_length;
  bool formatted;
};

// The opened-file report, record by record (the name may hold anything, even report lines).
std::string opened_report(const Call& c) {
  std::string report = "\r\n\r\n\r\n";
  if (c.status_code == kud::kStatusScratch) {
    report += "     A SCRATCH FILE IS OPENED ON UNIT NO." + int_field(c.unit, 4) + "\r\n";
  } else {
    report += "     FILE  " + std::string(c.name) + "\r\n";
    report += "     IS OPENED ON UNIT NO." + int_field(c.unit, 4) + "\r\n";
  }
  const std::string_view status = c.status_code == kud::kStatusOld       ? "OLD"
                                  : c.status_code == kud::kStatusNew     ? "NEW"
                                  : c.status_code == kud::kStatusScratch ? "SCRATCH"
                                                                         : "UNKNOWN";
  const bool direct = c.access_code == kud::kAccessDirect || c.access_code == kud::kAccessDirect128;
  std::int32_t length = 0;
  if (c.access_code == kud::kAccessDirect)
    length = c.form_code == kud::kFormFormatted ? 4 * c.record_length : c.record_length;
  if (c.access_code == kud::kAccessDirect128) length = 128;
  report += "     FILE CHARACTERISTICS :\r\n";
  report += "          STATUS =" + fixed(status, 7) + "\r\n";
  report += "          ACCESS =" + fixed(direct ? "DIRECT" : "SEQUENTIAL", 10) + "\r\n";
  report += "          FORM   =" + fixed(c.formatted ? "FORMATTED" : "UNFORMATTED", 11) + "\r\n";
  report += "          LENGTH =" + int_field(length, 5) + " WORDS/BYTES PER RECORD (SECTOR)\r\n";
  if (c.formatted)
    report +=
        "          BLANK  =" + fixed(c.blank_code == kud::kBlankZero ? "ZERO" : "NULL", 4) + "\r\n";
  return report;
}

void check_report(const std::string& report, const Call& c, std::int32_t status,
                  bool reported_open) {
  const std::string error_head =
      "\r\n\r\n\r\n *** ERROR DURING OPENING OF FILE UNIT" + int_field(c.unit, 5) + "\r\n";
  if (status == kud::kIllegalUnit) {
    if (report != error_head + "     ILLEGAL FILE UNIT\r\n") fuzz::violated();
  } else if (status == kud::kIllegalRecordLength) {
    if (report !=
        error_head + "     ILLEGAL RECORD LENGTH =" + int_field(c.record_length, 5) + "\r\n")
      fuzz::violated();
  } else if (status < 0) {
    if (report !=
        error_head + "     ERROR CODE =" + int_field(-status, 5) + "  (SYSTEM PARAMETER)\r\n")
      fuzz::violated();
  } else if (!reported_open) {
    if (!report.empty()) fuzz::violated();
  } else if (report != opened_report(c)) {
    fuzz::violated();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::int32_t unit = code(data[0]);
  const std::int32_t status_code = code(data[1]);
  const std::int32_t access_code = code(data[2]);
  const std::int32_t form_code = code(data[3]);
  const std::int32_t blank_code = code(data[4]);
  const std::int32_t report = code(data[5]);
  const std::uint8_t message_choice = data[6];
  const std::uint8_t name_choice = data[7];
  const std::int32_t record_length = read_i32(data + 8);
  const std::string name = make_name(
      name_choice, std::string_view(reinterpret_cast<const char*>(data + kHeader), size - kHeader));

  kud::io::reset_units();
  fresh_files();
  // Message unit: a report file on a unit of 7..99, or 0 and below (silent).
  const std::int32_t report_unit = kFirstReportUnit + message_choice % (100 - kFirstReportUnit);
  const bool to_file = (message_choice & 0x80) == 0;
  const std::int32_t message_unit = to_file ? report_unit : -(message_choice & 0x7f);
  const std::string report_path = (base() / "report").string();
  kud::io::OpenRequest open_report;
  open_report.name = report_path;
  if (kud::io::open_unit(report_unit, open_report) != 0) fuzz::violated();

  std::int32_t status = 12345;
  kud::FIIOPN(name, unit, status_code, access_code, form_code, blank_code, record_length, report,
              message_unit, status);

  const bool legal_unit = unit >= 1 && unit <= 99;
  const bool formatted = form_code == kud::kFormFormatted ||
                         (form_code != kud::kFormUnformatted && access_code != kud::kAccessDirect &&
                          access_code != kud::kAccessDirect128);
  const std::int64_t length =
      form_code == kud::kFormFormatted ? std::int64_t{4} * record_length : record_length;
  const bool legal_length =
      access_code != kud::kAccessDirect ||
      (record_length > 0 && length <= std::numeric_limits<std::int32_t>::max());

  if (status != 0 && status != kud::kIllegalUnit && status != kud::kIllegalRecordLength &&
      (status > -1 || status < -4095))
    fuzz::violated();
  if ((status == kud::kIllegalUnit) != !legal_unit) fuzz::violated();
  if ((status == kud::kIllegalRecordLength) != (legal_unit && !legal_length)) fuzz::violated();
  if (status == 0) {
    if (!kud::io::is_connected(unit)) fuzz::violated();
    if (status_code != kud::kStatusScratch) {
      struct stat info {};
      const std::string_view trimmed =
          std::string_view(name).substr(0, std::string_view(name).find_last_not_of(' ') + 1);
      if (::stat(std::string(trimmed).c_str(), &info) != 0 || S_ISDIR(info.st_mode))
        fuzz::violated();
    }
  }

  // Opening on the report's own unit closes the report file: nothing to check there then.
  const bool report_replaced = legal_unit && unit == report_unit && status == 0;
  const bool flushed = kud::io::close_unit(report_unit) == 0;
  if (!report_replaced && flushed) {
    const std::string text = slurp(report_path);
    if (message_unit <= 0) {
      if (!text.empty()) fuzz::violated();
    } else if (unit != report_unit) {
      const Call call{name,      unit,       status_code,   access_code,
                      form_code, blank_code, record_length, formatted};
      check_report(text, call, status, report > 0);
    }
  }
  kud::io::reset_units();
  return 0;
}
