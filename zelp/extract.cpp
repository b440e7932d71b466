#include "zelp/extract.hpp"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "kud/numeric/literals.hpp"
#include "kud/reader/cursor.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/text.hpp"
#include "zelp/batches.hpp"
#include "zelp/blocks.hpp"
#include "zelp/listing.hpp"
#include "zelp/records.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;

// Records of up to kLineLength characters are split whole.
constexpr std::int32_t kLineLength = kud::kMaxLine;
constexpr std::int32_t kMaxItems = kud::max_items(kLineLength);
// The driver decides by the kinds alone and never reads the item texts, so it asks for none:
// slots of width 0 spare RDMIX every text copy and blanking.
constexpr std::int32_t kTextSlot = 0;
static_assert(kMaxItems == 1024 && kMaxItems <= RecordBatches::kMaxValues);

constexpr auto kName = static_cast<std::size_t>(kNameLength);
constexpr std::size_t kDiagnosticLength = 1024;

// The run's buffers, in static storage: nothing on the per-line path allocates.
std::array<char, kName> g_line{};  // the re-read text line
std::array<char, kName> g_text{};  // the copied text record
std::array<char, kDiagnosticLength> g_diagnostic{};
std::array<std::int32_t, kMaxItems> g_kinds{};
std::array<char, 64> g_summary{};
std::array<char, kName> g_output_name{};  // the output as opened, for a late failure report
std::size_t g_output_name_length = 0;
Blocks g_blocks;  // the blocks of the input being read
// A comment, names or table row, built before it is written.
std::array<char, RecordBatches::kMaxText> g_record{};
std::array<char, RecordBatches::kMaxText> g_names{};
std::array<char, RecordBatches::kMaxText + kBlockRowRoom> g_row{};
static_assert(RecordBatches::kMaxText >= 2 + Blocks::kLineRoom + 8 * kMaxItems);

// Appends part to the diagnostic line being built, cutting what does not fit.
void append(std::size_t& length, std::string_view part) {
  const std::size_t n = std::min(part.size(), g_diagnostic.size() - length);
  std::copy_n(part.begin(), n, g_diagnostic.begin() + static_cast<std::ptrdiff_t>(length));
  length += n;
}

int write_output(std::string_view record) {
  const std::int32_t error = kud::io::write_record(kOutputUnit, record);
  return error == 0 ? 0 : fail_io(output_name(), error);
}

// Steps the input back over the line just split and copies it as "#" and its characters 2..L.
int copy_text_line() {
  const std::string_view input = kud::io::unit_name(kInputUnit);
  if (const std::int32_t error = kud::io::backspace_unit(kInputUnit)) return fail_io(input, error);
  g_line.fill(' ');
  const std::int32_t read = kud::io::read_record(kInputUnit, g_line);
  // The record was just split, so an end of file here means the file changed under us.
  if (read == -1) return fail_io(input, EIO);
  if (read != 0) return fail_io(input, read);
  return write_output(assemble_text_record({g_line.data(), g_line.size()}, g_text));
}

// Writes the data records still held; 0 or the reported exit status.
int finish_records(RecordBatches& records) {
  const std::int32_t error = records.finish();
  return error == 0 ? 0 : fail_io(output_name(), error);
}

// A line of the block table, ending in LF.
int write_line(std::string_view line) {
  const std::int32_t error = kud::io::write_prompt(kOutputUnit, line);
  return error == 0 ? 0 : fail_io(output_name(), error);
}

// The text line just split, as read: its characters up to the reader's line length, trailing
// blanks dropped.
std::string_view raw_line() {
  const std::string_view raw = kud::RAWCOL(1, kud::RDGET(kud::kGetNchlin));
  return raw.substr(0, static_cast<std::size_t>(LENTRM(raw)));
}

// What goes to the output besides the data records of the fixed-field format: the comments,
// separators and names rows of the output for analysis tools, and the block table's rows.
class Writer {
 public:
  Writer(const Extraction& how, RecordBatches& records) : how_(how), records_(records) {}

  [[nodiscard]] bool wanted(std::int32_t block) const {
    return how_.blocks == nullptr || how_.blocks->contains(block);
  }

  // A text line as "# " and the line; an empty line first when it follows data.
  int comment(std::string_view line) {
    if (after_data_) {
      if (const int stop = text("")) return stop;
      after_data_ = false;
    }
    std::size_t length = 0;
    put(g_record, length, "# "sv);
    put(g_record, length, line);
    // A CR inside the line would end it for the tools that read the output.
    std::replace(g_record.begin(), g_record.begin() + static_cast<std::ptrdiff_t>(length), '\r',
                 ' ');
    return text({g_record.data(), length});
  }

  // The first data line of a block of count values has been read: the rows of the block
  // before are done (the block table gets its row), and a written block starts with two empty
  // lines after the block before and its names row.
  int start_block(bool selected, std::int32_t count) {
    if (const int stop = end_row()) return stop;
    if (!selected) return 0;
    if (how_.output == Output::kList) {
      row_ = {g_blocks.number(),           current_line(), current_line(), 0, count,
              g_blocks.names(' ', g_names)};
      return 0;
    }
    if (how_.output != Output::kTsv) return 0;
    if (blocks_written_ > 0) {
      if (const int stop = text("")) return stop;
      if (const int stop = text("")) return stop;
    }
    ++blocks_written_;
    after_data_ = false;
    return text(g_blocks.names('\t', g_names));
  }

  // A data line of the block being listed.
  void count_line() {
    kud::count_up(row_.data_lines);
    row_.last_line = current_line();
  }

  // The data line just split, count values.
  int data(std::int32_t count) {
    after_data_ = true;
    const std::int32_t error = records_.add(static_cast<std::size_t>(count));
    return error == 0 ? 0 : fail_io(output_name(), error);
  }

  // The end of the input: the last row, and every record still held.
  int finish() {
    if (const int stop = end_row()) return stop;
    return finish_records(records_);
  }

 private:
  static std::int32_t current_line() { return kud::RDGET(kud::kGetNlinrd); }

  static void put(std::span<char> out, std::size_t& length, std::string_view part) {
    const std::size_t n = std::min(part.size(), out.size() - length);
    std::copy_n(part.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(length));
    length += n;
  }

  int text(std::string_view record) {
    const std::int32_t error = records_.add_text(record);
    return error == 0 ? 0 : fail_io(output_name(), error);
  }

  // Writes the row of the block being listed, if there is one.
  int end_row() {
    if (row_.number == 0) return 0;
    const std::string_view row = block_table_row(row_, g_row);
    row_ = {};
    return write_line(row);
  }

  const Extraction& how_;
  RecordBatches& records_;
  std::int32_t blocks_written_ = 0;
  bool after_data_ = false;  // the last record written is a data record
  BlockRow row_;             // the block being listed
};

}  // namespace

int fail(std::string_view subject, std::string_view reason) {
  std::size_t length = 0;
  append(length, kud::io::program_name());
  append(length, ": "sv);
  append(length, subject);
  if (!reason.empty()) {
    append(length, ": "sv);
    append(length, reason);
  }
  length = std::min(length, g_diagnostic.size() - 1);
  g_diagnostic[length++] = '\n';
  (void)kud::io::write_prompt(kud::io::kConsoleErr, std::string_view(g_diagnostic.data(), length));
  // The run already failed and said so once: closing the output and taking the console's
  // recorded write error here keeps the exit-time close from reporting them a second time.
  (void)kud::io::close_unit(kOutputUnit);
  (void)kud::io::close_unit(kud::io::kConsoleOut);
  return 1;
}

int fail_io(std::string_view subject, std::int32_t error) {
  return fail(subject, std::strerror(static_cast<int>(error)));
}

int standard_stream_named(std::string_view name) {
  struct Stream {
    std::int32_t unit;
    int fd;
  };
  for (const Stream s : {Stream{kud::io::kConsoleOut, 1}, Stream{kud::io::kConsoleErr, 2}}) {
    const int flags = ::fcntl(s.fd, F_GETFL);
    if (flags != -1 && (flags & O_ACCMODE) != O_RDONLY && kud::io::names_unit_file(name, s.unit))
      return s.fd;
  }
  return -1;
}

void remember_output_name(std::string_view name) {
  g_output_name_length = std::min(name.size(), g_output_name.size());
  std::copy_n(name.begin(), g_output_name_length, g_output_name.begin());
}

std::string_view output_name() { return {g_output_name.data(), g_output_name_length}; }

int extract(const Extraction& how, std::int32_t& data_count, std::int32_t& read_error) {
  read_error = 0;
  g_blocks.reset();
  std::int32_t ierr = 0;
  kud::INIFII(kInputUnit, how.message_unit, ierr);
  if (ierr != 0) return 0;
  kud::RDSET(kLineLength, kud::kSetNchlin);
  const bool tsv = how.output == Output::kTsv;
  const bool list = how.output == Output::kList;
  // The fixed fields of every block, the common run, need no bookkeeping of blocks.
  const bool plain = how.output == Output::kFields && how.blocks == nullptr;
  // The values for analysis tools are those of the numbers' texts; the fields keep the
  // reader's own arithmetic.
  kud::use_exact_literals(tsv);
  // Data records are rendered and written a batch at a time while the next lines are read.
  RecordBatches records(kOutputUnit, how.decimal_mark,
                        tsv ? RecordFormat::kShortest : RecordFormat::kFields);
  Writer out{how, records};
  if (list) {
    if (const int stop = write_line(block_table_header())) return stop;
  }
  bool data_seen = false;  // a data line of the input, written or not (counted when not plain)
  bool selected = false;   // the current block is written
  for (;;) {
    std::int32_t count = 0;
    kud::RDMIX(count, g_kinds, records.next_values(), {}, kTextSlot, kInputUnit, how.message_unit,
               ierr);
    if (ierr != 0) {
      // The fetch leaves minus the error number; anything else still is a failed read.
      const std::int32_t status = kud::RDSTAT();
      read_error = status < 0 && status != kud::kEofStatus ? -status : EIO;
      return out.finish();
    }
    if (count < 0) return out.finish();
    if (count == 0) continue;
    count = std::min(count, kMaxItems);
    if (!kud::last_line_numeric()) {
      if (how.output == Output::kFields) {
        g_blocks.text_line({}, false);
        // Text is copied only before the first data line, so no record is held back here.
        if (!how.suppress && (plain ? data_count == 0 : !data_seen)) {
          if (const int stop = copy_text_line()) return stop;
        }
        continue;
      }
      const std::string_view line = raw_line();
      g_blocks.text_line(line, true);
      // The line heads the next block: written with it.
      if (tsv && !how.suppress && out.wanted(g_blocks.next_number())) {
        if (const int stop = out.comment(line)) return stop;
      }
      continue;
    }
    if (plain) {
      kud::count_up(data_count);
      if (const std::int32_t error = records.add(static_cast<std::size_t>(count))) {
        return fail_io(output_name(), error);
      }
      continue;
    }
    data_seen = true;
    if (g_blocks.data_line(count)) {
      selected = out.wanted(g_blocks.number());
      if (const int stop = out.start_block(selected, count)) return stop;
    }
    if (!selected) continue;
    kud::count_up(data_count);
    if (list) {
      out.count_line();
      continue;
    }
    if (const int stop = out.data(count)) return stop;
  }
}

std::int32_t blocks_found() { return g_blocks.number(); }

int flush_output() {
  const std::int32_t error = kud::io::flush_unit(kOutputUnit);
  return error == 0 ? 0 : fail_io(output_name(), error);
}

int write_summary(std::int32_t unit, std::string_view unit_name, std::int32_t data_count,
                  WideCount wide) {
  for (const std::string_view record : {""sv, summary_record(data_count, g_summary, wide), ""sv}) {
    if (const std::int32_t error = kud::io::write_record(unit, record)) {
      return fail_io(unit_name, error);
    }
  }
  return 0;
}

int close_units() {
  if (const std::int32_t error = kud::io::close_unit(kOutputUnit)) {
    return fail_io(output_name(), error);
  }
  // Anything else that failed unseen (a reader message on the console) is reported here.
  return kud::io::close_all_units() != 0 ? 1 : 0;
}

}  // namespace zelp
