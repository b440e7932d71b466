// The console dialogue: banner, three questions, then the shared extraction and summary.
#include "zelp/zelp.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "kud/fileio/fiiopn.hpp"
#include "kud/io/units.hpp"
#include "kud/text/text.hpp"
#include "zelp/extract.hpp"
#include "zelp/records.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;
using kud::io::kConsoleOut;
using kud::io::kKeyboard;

constexpr std::int32_t kQuietMessageUnit = -kConsoleOut;
constexpr std::int32_t kNoReport = -1;
constexpr std::int32_t kBlankDefault = 0;
constexpr std::int32_t kNoRecordLength = 0;

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

std::array<char, kName> g_name{};    // the input name
std::array<char, kName> g_answer{};  // output name, then the suppress answer
std::array<char, kMessageLength> g_message{};

std::string_view view(const std::array<char, kName>& buffer) {
  return {buffer.data(), buffer.size()};
}

std::string_view trimmed(const std::array<char, kName>& buffer) {
  return view(buffer).substr(0, static_cast<std::size_t>(LENTRM(view(buffer))));
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
    if (const int fd = standard_stream_named(name); fd >= 0) {
      // Opened again, the console's own file would be truncated and written over.
      status = kud::io::attach_unit(kOutputUnit, fd, name, true);
    } else if (!name.empty()) {
      kud::FIIOPN(view(g_answer), kOutputUnit, kud::kStatusUnknown, kud::kAccessSequential,
                  kud::kFormFormatted, kBlankDefault, kNoRecordLength, kNoReport, kQuietMessageUnit,
                  status);
    }
    if (status == 0) {
      remember_output_name(kud::io::unit_name(kOutputUnit));
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

int run_dialogue_and_extraction() {
  for (const std::string_view record : banner_records()) {
    if (const int stop = console_record(record)) return stop;
  }
  if (const int stop = open_input()) return stop;
  if (const int stop = open_output()) return stop;
  Extraction how;
  if (const int stop = ask_suppress(how.suppress)) return stop;

  std::int32_t data_count = 0;
  std::int32_t read_error = 0;
  if (const int stop = extract(how, data_count, read_error)) return stop;

  // Everything written must have reached the file before success is reported.
  if (const int stop = flush_output()) return stop;
  // After a failed read the console still learns how many lines made it into the file.
  if (const int stop = write_summary(kConsoleOut, kConsoleName, data_count, WideCount::kAsterisks))
    return stop;
  if (read_error != 0) return fail_io(kud::io::unit_name(kInputUnit), read_error);
  return close_units();
}

}  // namespace

int run() {
  kud::io::reserve_standard_descriptors();
  kud::io::set_program_name("zelp");
  return run_dialogue_and_extraction();
}

}  // namespace zelp
