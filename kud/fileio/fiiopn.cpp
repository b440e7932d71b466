// FIIOPN: turns the caller's codes into file characteristics, opens the file on the unit and
// writes the error and characteristics reports.
#include "kud/fileio/fiiopn.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include "kud/io/units.hpp"
#include "kud/text/report.hpp"

namespace kud {
namespace {

constexpr std::int32_t kUnitFieldWide = 5;    // unit in the error header
constexpr std::int32_t kUnitFieldNarrow = 4;  // unit in the "opened" lines
constexpr std::int32_t kNumberField = 5;      // error code and record length
constexpr std::int32_t kFixedDirectLength = 128;
constexpr std::int64_t kCharsPerWord = 4;

// The characteristics of one open, as the fixed-width texts of the report.
struct Characteristics {
  std::string_view status = "UNKNOWN";
  std::string_view access = "SEQUENTIAL";
  std::string_view form = "FORMATTED";
  std::string_view blank = "NULL";
  std::int32_t record_length = 0;
};

// value right-aligned in width (at most 11) characters, or width asterisks.
void append_int(std::string& out, std::int32_t value, std::int32_t width) {
  char field[11];
  out += int_field(value, width, field);
}

// text blank-padded (or cut) to width characters.
void append_fixed(std::string& out, std::string_view text, std::size_t width) {
  const std::string_view shown = text.substr(0, width);
  out += shown;
  out.append(width - shown.size(), ' ');
}

// Reports go out best effort: a failing message unit must not change the open's status.
void emit(std::int32_t message_unit, std::string_view text) {
  static_cast<void>(io::write_record(message_unit, text));
}

void emit_empty_records(std::int32_t message_unit) {
  for (int i = 0; i < 3; ++i) emit(message_unit, "");
}

void report_error_header(std::int32_t message_unit, std::int32_t unit) {
  emit_empty_records(message_unit);
  std::string line = " *** ERROR DURING OPENING OF FILE UNIT";
  append_int(line, unit, kUnitFieldWide);
  emit(message_unit, line);
}

void report_opened(std::int32_t message_unit, std::string_view name, std::int32_t unit,
                   const Characteristics& c) {
  emit_empty_records(message_unit);
  std::string line;
  if (c.status == "SCRATCH") {
    line = "     A SCRATCH FILE IS OPENED ON UNIT NO.";
    append_int(line, unit, kUnitFieldNarrow);
    emit(message_unit, line);
  } else {
    line = "     FILE  ";
    line += name;  // the argument as given, trailing blanks included
    emit(message_unit, line);
    line = "     IS OPENED ON UNIT NO.";
    append_int(line, unit, kUnitFieldNarrow);
    emit(message_unit, line);
  }
  emit(message_unit, "     FILE CHARACTERISTICS :");
  line = "          STATUS =";
  append_fixed(line, c.status, 7);
  emit(message_unit, line);
  line = "          ACCESS =";
  append_fixed(line, c.access, 10);
  emit(message_unit, line);
  line = "          FORM   =";
  append_fixed(line, c.form, 11);
  emit(message_unit, line);
  line = "          LENGTH =";
  append_int(line, c.record_length, kNumberField);
  line += " WORDS/BYTES PER RECORD (SECTOR)";
  emit(message_unit, line);
  if (c.form == "FORMATTED") {
    line = "          BLANK  =";
    append_fixed(line, c.blank, 4);
    emit(message_unit, line);
  }
}

std::string_view trim_trailing_blanks(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

}  // namespace

void FIIOPN(std::string_view name, std::int32_t unit, std::int32_t status_code,
            std::int32_t access_code, std::int32_t form_code, std::int32_t blank_code,
            std::int32_t record_length, std::int32_t report, std::int32_t message_unit,
            std::int32_t& status) {
  status = 0;
  const bool talk = message_unit > 0;
  if (unit < io::kFirstFileUnit || unit > io::kLastFileUnit) {
    if (talk) {
      report_error_header(message_unit, unit);
      emit(message_unit, "     ILLEGAL FILE UNIT");
    }
    status = kIllegalUnit;
    return;
  }

  Characteristics c;
  io::FileStatus file_status = io::FileStatus::kUnknown;
  if (status_code == kStatusOld) {
    c.status = "OLD";
    file_status = io::FileStatus::kOld;
  } else if (status_code == kStatusNew) {
    c.status = "NEW";
    file_status = io::FileStatus::kNew;
  } else if (status_code == kStatusScratch) {
    c.status = "SCRATCH";
    file_status = io::FileStatus::kScratch;
  }

  const bool direct = access_code == kAccessDirect || access_code == kAccessDirect128;
  if (direct) c.form = "UNFORMATTED";
  if (form_code == kFormFormatted) c.form = "FORMATTED";
  if (form_code == kFormUnformatted) c.form = "UNFORMATTED";

  if (access_code == kAccessDirect) {
    // A formatted record length counts characters, four per word. A length whose character
    // count does not fit in 32 bits is as illegal as one of 0 or below.
    const std::int64_t length =
        form_code == kFormFormatted ? kCharsPerWord * record_length : record_length;
    if (record_length <= 0 || length > std::numeric_limits<std::int32_t>::max()) {
      if (talk) {
        report_error_header(message_unit, unit);
        std::string line = "     ILLEGAL RECORD LENGTH =";
        append_int(line, record_length, kNumberField);
        emit(message_unit, line);
      }
      status = kIllegalRecordLength;
      return;
    }
    c.record_length = static_cast<std::int32_t>(length);
  } else if (access_code == kAccessDirect128) {
    c.record_length = kFixedDirectLength;
  }
  if (direct) c.access = "DIRECT";
  const bool formatted = c.form == "FORMATTED";
  if (formatted && blank_code == kBlankZero) c.blank = "ZERO";

  // The share mode is "DENYNONE": the I/O layer never locks a file.
  io::OpenRequest request;
  request.name = trim_trailing_blanks(name);
  request.status = file_status;
  request.direct = direct;
  request.formatted = formatted;
  request.record_length = c.record_length;
  if (const std::int32_t err = io::open_unit(unit, request); err != 0) {
    if (talk) {
      report_error_header(message_unit, unit);
      std::string line = "     ERROR CODE =";
      append_int(line, err, kNumberField);
      line += "  (SYSTEM PARAMETER)";
      emit(message_unit, line);
    }
    status = -err;
    return;
  }
  if (talk && report > 0) report_opened(message_unit, name, unit, c);
}

}  // namespace kud
