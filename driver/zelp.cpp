#include "driver/zelp.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "driver/records.hpp"
#include "driver/text.hpp"
#include "fileio/fiiopn.hpp"
#include "fileio/units.hpp"
#include "reader/items.hpp"
#include "reader/reader_state.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;
using kud::io::kConsoleErr;
using kud::io::kConsoleOut;
using kud::io::kKeyboard;

constexpr std::int32_t kInputUnit = 88;
constexpr std::int32_t kOutputUnit = 90;
constexpr std::int32_t kMessageUnit = kConsoleOut;  // RDMIX diagnostics
constexpr std::int32_t kQuietMessageUnit = -kConsoleOut;
constexpr std::int32_t kNoReport = -1;
constexpr std::int32_t kBlankDefault = 0;
constexpr std::int32_t kNoRecordLength = 0;

// Records of up to kLineLength characters are split whole.
constexpr std::int32_t kLineLength = kud::kMaxLine;
constexpr std::int32_t kMaxItems = kud::max_items(kLineLength);
constexpr std::int32_t kTextSlot = 80;
static_assert(kMaxItems == 1024);

constexpr std::string_view kInputPrompt = "Give file containing text & data  :  "sv;
constexpr std::string_view kOutputPrompt = "File to write the plot_data only  :  "sv;
constexpr std::string_view kSuppressPrompt = "Suppress all text ?   ( def no )    : "sv;
constexpr std::string_view kMissingInput = " Nonexisting file :"sv;
constexpr std::string_view kSameFile = " Same file as input :"sv;
constexpr std::string_view kCannotOpen = " Cannot open file :"sv;
constexpr std::string_view kConsoleName = "standard output"sv;
constexpr std::string_view kKeyboardName = "standard input"sv;
constexpr std::string_view kEndOfAnswers = "end of input while reading an answer"sv;
static_assert(kMissingInput.size() == 19);

constexpr auto kName = static_cast<std::size_t>(kNameLength);
constexpr std::size_t kMessageLength = 32 + kName;
constexpr std::size_t kDiagnosticLength = 1024;

// The run's buffers, in static storage: nothing on the per-line path allocates.
std::array<char, kName> g_name{};    // input name, then the re-read text line
std::array<char, kName> g_answer{};  // output name, then the suppress answer
std::array<char, kName> g_text{};    // the copied text record
std::array<char, kMessageLength> g_message{};
std::array<char, kDiagnosticLength> g_diagnostic{};
std::array<std::int32_t, kMaxItems> g_kinds{};
std::array<double, kMaxItems> g_values{};
std::array<char, static_cast<std::size_t>(kMaxItems) * kTextSlot> g_texts{};
std::array<char, static_cast<std::size_t>(kMaxItems) * kFieldStep> g_record{};
std::array<char, 64> g_summary{};
std::array<char, kName> g_output_name{};  // the output as opened, for a late failure report
std::size_t g_output_name_length = 0;

std::string_view view(const std::array<char, kName>& buffer) {
  return {buffer.data(), buffer.size()};
}

std::string_view trimmed(const std::array<char, kName>& buffer) {
  return view(buffer).substr(0, static_cast<std::size_t>(LENTRM(view(buffer))));
}

// Appends part to the diagnostic line being built, cutting what does not fit.
void append(std::size_t& length, std::string_view part) {
  const std::size_t n = std::min(part.size(), g_diagnostic.size() - length);
  std::copy_n(part.begin(), n, g_diagnostic.begin() + static_cast<std::ptrdiff_t>(length));
  length += n;
}

// Writes "zelp: <subject>[: <reason>]" on standard error, gives the output file up without
// reporting a second failure, and returns the exit status of a failed run.
int fail(std::string_view subject, std::string_view reason = {}) {
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
  (void)kud::io::write_prompt(kConsoleErr, std::string_view(g_diagnostic.data(), length));
  // The run already failed and said so once: closing the output and taking the console's
  // recorded write error here keeps the exit-time close from reporting them a second time.
  (void)kud::io::close_unit(kOutputUnit);
  (void)kud::io::close_unit(kConsoleOut);
  return 1;
}

int fail_io(std::string_view file, std::int32_t error) {
  return fail(file, std::strerror(static_cast<int>(error)));
}

// Each step returns 0 when the run goes on, else the exit status it already reported.
int console_record(std::string_view text) {
  const std::int32_t error = kud::io::write_record(kConsoleOut, text);
  return error == 0 ? 0 : fail_io(kConsoleName, error);
}

// A message record: text directly followed by the whole 256-character buffer.
int console_message(std::string_view text, const std::array<char, kName>& buffer) {
  const std::size_t length = text.size() + buffer.size();
  std::copy(text.begin(), text.end(), g_message.begin());
  std::copy(buffer.begin(), buffer.end(),
            g_message.begin() + static_cast<std::ptrdiff_t>(text.size()));
  return console_record(std::string_view(g_message.data(), length));
}

// Blanks buffer, prompts and reads one answer line from the keyboard into it.
int ask(std::string_view prompt, std::array<char, kName>& buffer) {
  buffer.fill(' ');
  const std::int32_t written = write_prompt_text(kConsoleOut, prompt);
  if (written != 0) return fail_io(kConsoleName, written);
  const std::int32_t read = kud::io::read_record(kKeyboard, buffer);
  if (read == -1) return fail(kEndOfAnswers);
  if (read != 0) return fail_io(kKeyboardName, read);
  return 0;
}

std::string_view output_name() { return {g_output_name.data(), g_output_name_length}; }

int write_output(std::string_view record) {
  const std::int32_t error = kud::io::write_record(kOutputUnit, record);
  return error == 0 ? 0 : fail_io(output_name(), error);
}

int open_input() {
  if (const int stop = ask(kInputPrompt, g_name)) return stop;
  for (;;) {
    std::int32_t status = 0;
    kud::FIIOPN(view(g_name), kInputUnit, kud::kStatusOld, kud::kAccessSequential,
                kud::kFormFormatted, kBlankDefault, kNoRecordLength, kNoReport, kQuietMessageUnit,
                status);
    if (status == 0) return 0;
    if (const int stop = console_message(kMissingInput, g_name)) return stop;
    if (const int stop = ask(kInputPrompt, g_name)) return stop;
  }
}

// Asks until the output opens. The input is never opened for output (that would truncate it),
// and a name that cannot be opened is asked for again rather than written nowhere.
int open_output() {
  for (;;) {
    if (const int stop = ask(kOutputPrompt, g_answer)) return stop;
    const std::string_view name = trimmed(g_answer);
    if (kud::io::names_unit_file(name, kInputUnit)) {
      if (const int stop = console_message(kSameFile, g_answer)) return stop;
      continue;
    }
    std::int32_t status = 1;
    if (!name.empty()) {
      kud::FIIOPN(view(g_answer), kOutputUnit, kud::kStatusUnknown, kud::kAccessSequential,
                  kud::kFormFormatted, kBlankDefault, kNoRecordLength, kNoReport, kQuietMessageUnit,
                  status);
    }
    if (status == 0) {
      const std::string_view opened = kud::io::unit_name(kOutputUnit);
      g_output_name_length = std::min(opened.size(), g_output_name.size());
      std::copy_n(opened.begin(), g_output_name_length, g_output_name.begin());
      return 0;
    }
    if (const int stop = console_message(kCannotOpen, g_answer)) return stop;
  }
}

int ask_suppress(bool& suppress) {
  if (const int stop = ask(kSuppressPrompt, g_answer)) return stop;
  suppress = false;
  if (LENTRM(view(g_answer)) == 0) return 0;
  UPCASE(g_answer);
  suppress = g_answer[0] == 'Y';
  return 0;
}

// Steps the input back over the line just split and copies it as "#" and its characters 2..L.
int copy_text_line() {
  const std::string_view input = kud::io::unit_name(kInputUnit);
  if (const std::int32_t error = kud::io::backspace_unit(kInputUnit)) return fail_io(input, error);
  g_name.fill(' ');
  const std::int32_t read = kud::io::read_record(kInputUnit, g_name);
  // The record was just split, so an end of file here means the file changed under us.
  if (read == -1) return fail_io(input, EIO);
  if (read != 0) return fail_io(input, read);
  return write_output(assemble_text_record(view(g_name), g_text));
}

int write_data_line(std::int32_t count) {
  const auto n = static_cast<std::size_t>(count);
  const std::size_t length =
      assemble_data_record(std::span<const double>(g_values).first(n), g_record);
  return write_output(std::string_view(g_record.data(), length));
}

// Splits line after line; data lines become records, leading text lines are copied.
int extract(bool suppress, std::int32_t& data_count) {
  std::int32_t ierr = 0;
  kud::INIFII(kInputUnit, kConsoleOut, ierr);
  if (ierr != 0) return 0;
  kud::RDSET(kLineLength, kud::kSetNchlin);
  for (;;) {
    std::int32_t count = 0;
    kud::RDMIX(count, g_kinds, g_values, g_texts, kTextSlot, kInputUnit, kMessageUnit, ierr);
    if (ierr != 0 || count < 0) return 0;
    if (count == 0) continue;
    count = std::min(count, kMaxItems);
    const auto kinds =
        std::span<const std::int32_t>(g_kinds).first(static_cast<std::size_t>(count));
    if (std::find(kinds.begin(), kinds.end(), kud::kText) != kinds.end()) {
      if (!suppress && data_count == 0) {
        if (const int stop = copy_text_line()) return stop;
      }
      continue;
    }
    kud::count_up(data_count);
    if (const int stop = write_data_line(count)) return stop;
  }
}

int run_dialogue_and_extraction() {
  for (const std::string_view record : banner_records()) {
    if (const int stop = console_record(record)) return stop;
  }
  if (const int stop = open_input()) return stop;
  if (const int stop = open_output()) return stop;
  bool suppress = false;
  if (const int stop = ask_suppress(suppress)) return stop;

  std::int32_t data_count = 0;
  if (const int stop = extract(suppress, data_count)) return stop;

  // Everything written must have reached the file before success is reported.
  if (const std::int32_t error = kud::io::flush_unit(kOutputUnit)) {
    return fail_io(output_name(), error);
  }
  if (const int stop = console_record(""sv)) return stop;
  if (const int stop = console_record(summary_record(data_count, g_summary))) return stop;
  if (const int stop = console_record(""sv)) return stop;
  if (const std::int32_t error = kud::io::close_unit(kOutputUnit)) {
    return fail_io(output_name(), error);
  }
  // Anything else that failed unseen (a reader message on the console) is reported here.
  if (kud::io::close_all_units() != 0) return 1;
  return 0;
}

}  // namespace

int run() {
  kud::io::set_program_name("zelp");
  return run_dialogue_and_extraction();
}

int run(std::span<const std::string_view>) { return 2; }

}  // namespace zelp
