// The command line: zelp [OPTIONS] INPUT OUTPUT, for scripts and pipelines. Standard output
// carries nothing but the data records (when OUTPUT is "-"); the summary, the reader's
// diagnostics and failure reports go to standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kud/io/units.hpp"
#include "zelp/extract.hpp"
#include "zelp/zelp.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;
using kud::io::kConsoleErr;
using kud::io::kConsoleOut;

constexpr int kStdin = 0;
constexpr int kStdout = 1;
constexpr int kUsageError = 2;
constexpr std::string_view kStdinName = "standard input"sv;
constexpr std::string_view kStdoutName = "standard output"sv;
constexpr std::string_view kStderrName = "standard error"sv;
constexpr std::string_view kVersion = "zelp " ZELP_VERSION "\n"sv;

constexpr std::string_view kUsage =
    "Usage: zelp [OPTIONS] INPUT OUTPUT\n"
    "       zelp               (no arguments: the console dialogue)\n"
    "Copy the lines of INPUT that hold only numbers to OUTPUT, each value as a\n"
    "14-character fixed-point field followed by a TAB, each record ending in CR LF.\n"
    "Text lines before the first data line are copied with \"#\" for their first\n"
    "character. INPUT \"-\" reads standard input, OUTPUT \"-\" writes standard output.\n"
    "\n"
    "  -s, --suppress-text  copy no text line\n"
    "      --decimal-comma  write \",\" as the decimal mark\n"
    "  -q, --quiet          write no summary on standard error\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "      --               end of options (for a file named like an option)\n"
    "\n"
    "Short options may be bundled (-sq). Exit status: 0 success, 1 error,\n"
    "2 usage error.\n"sv;

struct Command {
  bool suppress = false;
  bool decimal_comma = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::array<std::string_view, 2> operands{};
  std::string problem;  // a usage error, empty when the arguments are sound
};

bool short_option(char c, Command& command) {
  switch (c) {
    case 's':
      command.suppress = true;
      return true;
    case 'q':
      command.quiet = true;
      return true;
    case 'h':
      command.help = true;
      return true;
    default:
      return false;
  }
}

bool long_option(std::string_view arg, Command& command) {
  if (arg == "--suppress-text"sv) {
    command.suppress = true;
  } else if (arg == "--decimal-comma"sv) {
    command.decimal_comma = true;
  } else if (arg == "--quiet"sv) {
    command.quiet = true;
  } else if (arg == "--help"sv) {
    command.help = true;
  } else if (arg == "--version"sv) {
    command.version = true;
  } else {
    return false;
  }
  return true;
}

// Options may stand before, between and after the operands; "--" ends them and "-" alone is
// an operand. The first unknown option is the usage error reported.
Command parse(std::span<const std::string_view> args) {
  Command command;
  std::size_t operands_seen = 0;
  std::string_view extra;
  bool options_ended = false;
  for (const std::string_view arg : args) {
    const bool operand = options_ended || arg == "-"sv || !arg.starts_with('-');
    if (operand) {
      if (operands_seen < command.operands.size()) {
        command.operands[operands_seen] = arg;
      } else if (operands_seen == command.operands.size()) {
        extra = arg;
      }
      ++operands_seen;
    } else if (arg == "--"sv) {
      options_ended = true;
    } else if (arg.starts_with("--"sv)) {
      if (!long_option(arg, command) && command.problem.empty()) {
        command.problem = "unknown option: " + std::string(arg);
      }
    } else {
      for (const char c : arg.substr(1)) {
        if (!short_option(c, command) && command.problem.empty()) {
          command.problem = "unknown option: -" + std::string(1, c);
        }
      }
    }
  }
  if (!command.problem.empty() || command.help || command.version) return command;
  if (operands_seen == 0) {
    command.problem = "missing INPUT and OUTPUT";
  } else if (operands_seen == 1) {
    command.problem = "missing OUTPUT";
  } else if (operands_seen > 2) {
    command.problem = "extra operand: " + std::string(extra);
  }
  return command;
}

int usage_error(std::string_view problem) {
  static_cast<void>(fail(problem));
  static_cast<void>(kud::io::write_prompt(kConsoleErr, kUsage));
  return kUsageError;
}

int show(std::string_view text) {
  const std::int32_t error = kud::io::write_prompt(kConsoleOut, text);
  return error == 0 ? 0 : fail_io(kStdoutName, error);
}

bool same_regular_file(const struct stat& a, const struct stat& b) {
  return S_ISREG(a.st_mode) && S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens INPUT on the input unit, read-only: a file given by name (a named pipe or a process
// substitution included) is only read, so its writer's end of file arrives. The unit does not
// own the descriptor; it lives as long as the run. input_fd receives it.
int open_input(std::string_view name, int& input_fd) {
  if (name == "-"sv) {
    input_fd = kStdin;
  } else {
    const std::string path(name);
    do input_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    while (input_fd == -1 && errno == EINTR);
    if (input_fd == -1) return fail_io(name, errno);
  }
  const std::string_view shown = name == "-"sv ? kStdinName : name;
  struct stat info {};
  if (::fstat(input_fd, &info) != 0) return fail_io(shown, errno);
  // A folder opens for reading but holds no records.
  if (S_ISDIR(info.st_mode)) return fail_io(shown, EISDIR);
  const std::int32_t error = kud::io::attach_unit(kInputUnit, input_fd, shown, false);
  return error == 0 ? 0 : fail_io(shown, error);
}

// Writes the output through standard stream fd, buffered, shown as name in failure reports.
int attach_output(int fd, std::string_view name) {
  const std::int32_t error = kud::io::attach_unit(kOutputUnit, fd, name, true);
  if (error != 0) return fail_io(name, error);
  remember_output_name(name);
  return 0;
}

// Opens OUTPUT, never over the input: a regular file that is the input, however it is named or
// redirected, is refused before anything truncates it.
int open_output(std::string_view name, int input_fd) {
  struct stat input {};
  if (::fstat(input_fd, &input) != 0) return fail_io(kud::io::unit_name(kInputUnit), errno);
  if (name == "-"sv) {
    struct stat output {};
    if (::fstat(kStdout, &output) == 0 && same_regular_file(input, output)) {
      return fail(kStdoutName, "same file as input"sv);
    }
    return attach_output(kStdout, kStdoutName);
  }
  const std::string path(name);
  struct stat output {};
  if (::stat(path.c_str(), &output) == 0 && same_regular_file(input, output)) {
    return fail(name, "same file as input"sv);
  }
  if (const int fd = standard_stream_named(name); fd >= 0) return attach_output(fd, name);
  kud::io::OpenRequest request;
  request.name = name;
  request.status = kud::io::FileStatus::kUnknown;
  const std::int32_t error = kud::io::open_unit(kOutputUnit, request);
  if (error != 0) return fail_io(name, error);
  remember_output_name(name);
  return 0;
}

int extract_command(const Command& command, int& input_fd) {
  if (const int stop = open_input(command.operands[0], input_fd)) return stop;
  if (const int stop = open_output(command.operands[1], input_fd)) return stop;

  Extraction how;
  how.suppress = command.suppress;
  how.decimal_mark = command.decimal_comma ? ',' : '.';
  how.message_unit = kConsoleErr;  // standard output may be the data
  std::int32_t data_count = 0;
  std::int32_t read_error = 0;
  if (const int stop = extract(how, data_count, read_error)) return stop;
  if (read_error != 0) return fail_io(kud::io::unit_name(kInputUnit), read_error);

  // The data is out before a summary claims success.
  if (const int stop = flush_output()) return stop;
  if (!command.quiet) {
    // A script may read the count: it is never hidden behind asterisks here.
    if (const int stop = write_summary(kConsoleErr, kStderrName, data_count, WideCount::kWhole))
      return stop;
  }
  return close_units();
}

// The input descriptor is the run's own and is closed however the run ends, so that a caller
// running the program again and again in one process (a test, a fuzzer) keeps its descriptors.
int run_command(const Command& command) {
  int input_fd = -1;
  const int status = extract_command(command, input_fd);
  (void)kud::io::close_unit(kInputUnit);
  if (input_fd >= 0 && command.operands[0] != "-"sv) ::close(input_fd);
  return status;
}

}  // namespace

int run(std::span<const std::string_view> args) {
  // Before the input is opened, so that it never takes the number of a closed standard stream.
  kud::io::reserve_standard_descriptors();
  kud::io::set_program_name("zelp");
  const Command command = parse(args);
  if (!command.problem.empty()) return usage_error(command.problem);
  if (command.help) return show(kUsage);
  if (command.version) return show(kVersion);
  return run_command(command);
}

}  // namespace zelp
