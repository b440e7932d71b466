// The command line: zelp [OPTIONS] INPUT [OUTPUT], for scripts and pipelines. Standard output
// carries nothing but the data (when OUTPUT is "-" or left out) or the table of blocks
// (--list); the summary, the reader's diagnostics and failure reports go to standard error.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "kud/io/units.hpp"
#include "zelp/blocks.hpp"
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
    "Usage: zelp [OPTIONS] INPUT [OUTPUT]\n"
    "       zelp --list [-b LIST] INPUT\n"
    "       zelp               (no arguments: the console dialogue)\n"
    "Copy the lines of INPUT that hold only numbers to OUTPUT, each value as a\n"
    "14-character fixed-point field followed by a TAB, each record ending in CR LF.\n"
    "Text lines before the first data line are copied with \"#\" for their first\n"
    "character. INPUT \"-\" reads standard input; OUTPUT \"-\" or none writes\n"
    "standard output. A block is a run of data lines with the same number of\n"
    "values that no text line interrupts; blocks are numbered from 1.\n"
    "\n"
    "  -t, --tsv            for analysis tools (gnuplot, pandas, R): each value's\n"
    "                       shortest exact text, TABs between values, LF; every\n"
    "                       text line as \"# \" and the line; each block after two\n"
    "                       empty lines, headed by a row of its column names\n"
    "  -b, --block LIST     write only the blocks in LIST (2, 1,3, 2-4)\n"
    "      --list           print a table of the blocks of INPUT and exit\n"
    "  -s, --suppress-text  copy no text line\n"
    "      --decimal-comma  write \",\" as the decimal mark\n"
    "  -q, --quiet          write no summary on standard error\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "      --               end of options (for a file named like an option)\n"
    "\n"
    "Short options may be bundled (-sq); -b takes the rest of a bundle or the next\n"
    "argument. Exit status: 0 success, 1 error, 2 usage error.\n"sv;

struct Command {
  bool suppress = false;
  bool decimal_comma = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool tsv = false;
  bool list = false;
  bool select = false;  // -b given
  BlockList blocks;
  std::array<std::string_view, 2> operands{};
  std::size_t operand_count = 0;
  std::string problem;  // a usage error, empty when the arguments are sound

  void fault(std::string text) {
    if (problem.empty()) problem = std::move(text);
  }
};

void take_block_list(std::string_view list, Command& command) {
  if (!command.blocks.parse(list)) command.fault("invalid block list: '" + std::string(list) + "'");
  command.select = true;
}

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
    case 't':
      command.tsv = true;
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
  } else if (arg == "--tsv"sv) {
    command.tsv = true;
  } else if (arg == "--list"sv) {
    command.list = true;
  } else if (arg.starts_with("--block="sv)) {
    take_block_list(arg.substr(8), command);
  } else {
    return false;
  }
  return true;
}

// Options may stand before, between and after the operands; "--" ends them and "-" alone is
// an operand. The first unknown option is the usage error reported.
Command parse(std::span<const std::string_view> args) {
  Command command;
  std::string_view extra;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool operand = options_ended || arg == "-"sv || !arg.starts_with('-');
    const bool has_next = i + 1 < args.size();
    const std::string_view next = has_next ? args[i + 1] : std::string_view{};
    if (operand) {
      if (command.operand_count < command.operands.size()) {
        command.operands[command.operand_count] = arg;
      } else if (command.operand_count == command.operands.size()) {
        extra = arg;
      }
      ++command.operand_count;
    } else if (arg == "--"sv) {
      options_ended = true;
    } else if (arg == "--block"sv) {
      if (!has_next) {
        command.fault("option --block needs a block list");
      } else {
        take_block_list(next, command);
        ++i;
      }
    } else if (arg.starts_with("--"sv)) {
      if (!long_option(arg, command)) command.fault("unknown option: " + std::string(arg));
    } else {
      // A bundle of short options; -b takes the rest of the bundle, or else the next argument.
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const char c = arg[at];
        if (c == 'b') {
          const std::string_view rest = arg.substr(at + 1);
          if (!rest.empty()) {
            take_block_list(rest, command);
          } else if (has_next) {
            take_block_list(next, command);
            ++i;
          } else {
            command.fault("option -b needs a block list");
          }
          break;
        }
        if (!short_option(c, command)) command.fault("unknown option: -" + std::string(1, c));
      }
    }
  }
  if (!command.problem.empty() || command.help || command.version) return command;
  if (command.operand_count == 0) {
    command.problem = "missing INPUT";
  } else if (command.list && command.operand_count > 1) {
    command.problem = "--list writes no OUTPUT: " + std::string(command.operands[1]);
  } else if (command.operand_count > 2) {
    command.problem = "extra operand: " + std::string(extra);
  } else if (command.list && command.tsv) {
    command.problem = "--list and --tsv do not go together";
  } else if (command.list && command.suppress) {
    command.problem = "--list and -s do not go together";
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

// A block listed that the input does not have fails the run, once the blocks it has are out.
int check_blocks(const Command& command) {
  if (!command.select) return 0;
  const std::int32_t found = blocks_found();
  const std::int32_t missing = command.blocks.first_missing(found);
  if (missing == 0) return 0;
  const std::string problem = std::string(kud::io::unit_name(kInputUnit)) + " has no block " +
                              std::to_string(missing) + " (it has " + std::to_string(found) + ")";
  return fail(problem);
}

int extract_command(const Command& command, int& input_fd) {
  if (const int stop = open_input(command.operands[0], input_fd)) return stop;
  // Without OUTPUT the data, or the table of blocks, goes to standard output.
  const std::string_view output = command.operand_count > 1 ? command.operands[1] : "-"sv;
  if (const int stop = open_output(output, input_fd)) return stop;

  Extraction how;
  how.suppress = command.suppress;
  how.decimal_mark = command.decimal_comma ? ',' : '.';
  how.message_unit = kConsoleErr;  // standard output may be the data
  how.output = command.list ? Output::kList : command.tsv ? Output::kTsv : Output::kFields;
  how.blocks = command.select ? &command.blocks : nullptr;
  std::int32_t data_count = 0;
  std::int32_t read_error = 0;
  if (const int stop = extract(how, data_count, read_error)) return stop;
  if (read_error != 0) return fail_io(kud::io::unit_name(kInputUnit), read_error);

  // The data is out before a summary claims success, or a missing block fails the run.
  if (const int stop = flush_output()) return stop;
  if (const int stop = check_blocks(command)) return stop;
  if (!command.quiet && !command.list) {
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
