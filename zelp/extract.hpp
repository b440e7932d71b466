// What the dialogue and the command line share: the units, the read-classify-write loop, the
// summary and the one-line failure report. Nothing here allocates on the per-line path.
#pragma once

#include <cstdint>
#include <string_view>

#include "kud/io/units.hpp"
#include "zelp/records.hpp"

namespace zelp {

inline constexpr std::int32_t kInputUnit = 88;
inline constexpr std::int32_t kOutputUnit = 90;

class BlockList;

// What the output holds.
enum class Output : std::uint8_t {
  kFields,  // fixed-point fields with TABs, CR LF; text before the first data line as "#..."
  kTsv,     // for analysis tools: shortest values, names rows, blocks, every text line, LF
  kList,    // a table of the blocks, for a person
};

struct Extraction {
  bool suppress = false;                             // copy no text line
  char decimal_mark = '.';                           // in every data value
  std::int32_t message_unit = kud::io::kConsoleOut;  // where the reader reports
  Output output = Output::kFields;
  const BlockList* blocks = nullptr;  // the blocks written; every block when null
};

// Writes "zelp: <subject>[: <reason>]" on standard error, gives the output up without a second
// report, and returns 1, the exit status of a failed run.
int fail(std::string_view subject, std::string_view reason = {});

// As fail, with the system's text for error as the reason.
int fail_io(std::string_view subject, std::int32_t error);

// The standard stream whose open file name designates (same device and inode, however the path
// is spelled: /dev/stdout, /dev/fd/2, the file it is redirected to): 1 for standard output, else
// 2 for standard error, -1 for neither. A stream that is not open for writing counts for
// neither. An output of that name is written through the stream's descriptor, as "-" is: not
// opened again, not truncated, one offset shared with all else written there.
[[nodiscard]] int standard_stream_named(std::string_view name);

// The output's name in failure reports; set once the output is open.
void remember_output_name(std::string_view name);
[[nodiscard]] std::string_view output_name();

// Sets the reader up on the input unit and turns its lines into output records until the end of
// the input. Returns 0, or the exit status of a write failure already reported. data_count
// receives the number of data lines written, read_error the error number of a failed read of
// the input (0 when none), which only the reader's diagnostics have reported so far.
[[nodiscard]] int extract(const Extraction& how, std::int32_t& data_count,
                          std::int32_t& read_error);

// The number of blocks the last extract() met, listed or not, when it chose blocks or wrote
// for analysis tools or the table of blocks (0 otherwise: no run of every block in fixed fields
// counts them).
[[nodiscard]] std::int32_t blocks_found();

// Writes what the output unit still buffers; returns 0 or the reported exit status.
[[nodiscard]] int flush_output();

// The summary's three records on unit: empty, the count line, empty. Returns 0 or the
// reported exit status (unit_name names the unit in that report).
[[nodiscard]] int write_summary(std::int32_t unit, std::string_view unit_name,
                                std::int32_t data_count, WideCount wide);

// Closes the output, then every other unit; returns 0 or the reported exit status.
[[nodiscard]] int close_units();

}  // namespace zelp
