// The command line, run through the built program against real files, pipes and devices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = ZELP_SOURCE_DIR;

// A data record from the texts its values must show: each right-aligned in 14, then a TAB.
std::string record(const std::vector<std::string>& shown) {
  std::string r;
  for (const auto& s : shown) r += std::string(14 - s.size(), ' ') + s + "\t";
  return r + "\r\n";
}

std::string summary(int count) {
  const std::string n = std::to_string(count);
  return "\r\n" + std::string(6 - n.size(), ' ') + n + " lines with plot data found\r\n\r\n";
}

// The version the build declares, read from CMakeLists.txt.
std::string project_version() {
  const std::string lists = test::read_file((kSource / "CMakeLists.txt").string());
  const std::string key = "project(zelp VERSION ";
  const std::size_t at = lists.find(key);
  if (at == std::string::npos) return "?";
  const std::size_t from = at + key.size();
  return lists.substr(from, lists.find_first_of(" )", from) - from);
}

std::string usage() { return test::run_zelp({"--help"}, "").out; }

// Text before the first data line, data, then text that is never copied.
constexpr std::string_view kMixed =
    "Title line\n"
    "  Results\n"
    "1 2.5 -3\n"
    "Mass 12.5 kg\n"
    "1.5 , 2*pi\n";
const std::string kTitle = "#itle line\r\n";
const std::string kResults = "# Results\r\n";

struct Shell {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs command with sh in dir (for redirections run_zelp cannot make); $ZELP is the program.
Shell run_shell(const test::TempDir& dir, const std::string& command) {
  const std::string line = "cd '" + dir.path().string() + "' && ZELP='" + test::zelp_binary() +
                           "' && { " + command + "; } >sh.out 2>sh.err; echo $? >sh.status";
  Shell result;
  if (std::system(line.c_str()) != 0) return result;
  result.status = std::stoi(test::read_file(dir.file("sh.status")));
  result.out = test::read_file(dir.file("sh.out"));
  result.err = test::read_file(dir.file("sh.err"));
  return result;
}

TEST(Options, FileToFile) {
  const std::string data = record({"1.000", "2.500", "-3.000"}) + record({"1.500", "6.283"});
  const std::string comma = record({"1,000", "2,500", "-3,000"}) + record({"1,500", "6,283"});
  struct Row {
    std::vector<std::string> args;
    std::string output;
    std::string err;
  };
  const Row rows[] = {
      {{"in.txt", "out.tsv"}, kTitle + kResults + data, summary(2)},
      {{"-s", "in.txt", "out.tsv"}, data, summary(2)},
      {{"--suppress-text", "in.txt", "out.tsv"}, data, summary(2)},
      {{"in.txt", "-s", "out.tsv"}, data, summary(2)},
      {{"in.txt", "out.tsv", "-q"}, kTitle + kResults + data, ""},
      {{"--quiet", "in.txt", "out.tsv"}, kTitle + kResults + data, ""},
      {{"-sq", "in.txt", "out.tsv"}, data, ""},
      {{"-qs", "-s", "in.txt", "out.tsv"}, data, ""},
      {{"--decimal-comma", "in.txt", "out.tsv"}, kTitle + kResults + comma, summary(2)},
      {{"-s", "--decimal-comma", "-q", "in.txt", "out.tsv"}, comma, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), kMixed);
    test::write_file(dir.file("out.tsv"), "old contents, longer than the new ones ... ... ...");
    const auto result = test::run_zelp(row.args, "", dir.path().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(test::read_file(dir.file("out.tsv")), row.output);
  }
}

TEST(Options, DecimalCommaKeepsWidthAsterisksAndInfinities) {
  const auto result = test::run_zelp({"-q", "--decimal-comma", "-", "-"},
                                     "1.5 1E10 1E400 -1E400 -2.25 -0.0004 0.0625\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, record({"1,500", std::string(14, '*'), "Infinity", "-Infinity", "-2,250",
                                "0,000", "0,062"}));
}

// "--" ends the options: files may be named like options.
TEST(Options, DoubleDashEndsOptions) {
  struct Row {
    std::vector<std::string> args;
    std::string written;  // the file that receives the output
    std::string output;
  };
  const Row rows[] = {
      {{"-q", "--", "-s", "out.tsv"}, "out.tsv", "#ine\r\n" + record({"7.000"})},
      {{"-s", "--", "-s", "-q"}, "-q", record({"7.000"})},
      {{"--", "-s", "--"}, "--", "#ine\r\n" + record({"7.000"})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    test::TempDir dir;
    test::write_file(dir.file("-s"), "Line\n7\n");
    const auto result = test::run_zelp(row.args, "", dir.path().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_file(dir.file(row.written)), row.output);
    EXPECT_EQ(test::read_file(dir.file("-s")), "Line\n7\n");
  }
}

// Standard input is a pipe: the text lines must still be stepped back over and copied whole.
TEST(Pipes, StandardInputToStandardOutput) {
  std::string long_text(300, 'x');
  long_text[0] = 'L';
  struct Row {
    const char* what;
    std::string input;
    std::string output;
    int data_lines;
  };
  const Row rows[] = {
      {"LF", std::string(kMixed),
       kTitle + kResults + record({"1.000", "2.500", "-3.000"}) + record({"1.500", "6.283"}), 2},
      {"CR LF", "Title line\r\n  Results\r\n1 2.5 -3\r\nMass 12.5 kg\r\n",
       kTitle + kResults + record({"1.000", "2.500", "-3.000"}), 1},
      {"no LF at the end", "\tTabbed text\r\n4, 5", "#Tabbed text\r\n" + record({"4.000", "5.000"}),
       1},
      {"comments and blanks", "'quoted\n! bang\n\n   \nX\n  % none\n2\n",
       "#\r\n" + record({"2.000"}), 1},
      {"text longer than its copy", long_text + "\n3\n",
       "#" + std::string(255, 'x') + "\r\n" + record({"3.000"}), 1},
      {"no data", "only words here\nand more\n", "#nly words here\r\n#nd more\r\n", 0},
      {"empty", "", "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const auto result = test::run_zelp({"-", "-"}, row.input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, row.output);
    EXPECT_EQ(result.err, summary(row.data_lines));
  }
}

// More text than one read block and one pipe buffer: lines straddle every boundary.
TEST(Pipes, LongLeadingTextThroughAPipe) {
  std::string input;
  std::string expected;
  for (int i = 0; i < 6000; ++i) {
    const std::string line = "Note " + std::to_string(i) + " of the start-up phase, nothing yet";
    input += line + (i % 2 == 0 ? "\n" : "\r\n");
    expected += "#" + line.substr(1) + "\r\n";
  }
  input += "1 2\n";
  expected += record({"1.000", "2.000"});
  const auto result = test::run_zelp({"-q", "-", "-"}, input);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, expected);
  EXPECT_EQ(result.err, "");
}

TEST(Pipes, FileToStandardOutputAndStandardInputToFile) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "Head\n8 9\n");
  const std::string expected = "#ead\r\n" + record({"8.000", "9.000"});
  const auto to_stdout = test::run_zelp({"in.txt", "-"}, "", dir.path().string());
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_EQ(to_stdout.out, expected);
  EXPECT_EQ(to_stdout.err, summary(1));
  const auto from_stdin = test::run_zelp({"-", "out.tsv"}, "Head\n8 9\n", dir.path().string());
  EXPECT_EQ(from_stdin.status, 0);
  EXPECT_EQ(from_stdin.out, "");
  EXPECT_EQ(test::read_file(dir.file("out.tsv")), expected);
}

// A named pipe is read to its writer's end of file (it must not be opened for writing too).
TEST(Pipes, NamedPipeAsInput) {
  test::TempDir dir;
  const auto result = run_shell(
      dir, "mkfifo fifo && { printf 'T\\n5\\n' >fifo & } && timeout 20 \"$ZELP\" fifo out.tsv");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, summary(1));
  EXPECT_EQ(test::read_file(dir.file("out.tsv")), "#\r\n" + record({"5.000"}));
}

struct Failure {
  const char* what;
  std::vector<std::string> args;
  std::string err;
};

// Every failure: status 1, one "zelp:" line, no summary, nothing on standard output, the input
// unchanged and no output file where none could be opened.
TEST(Errors, OneLineAndStatusOne) {
  const Failure rows[] = {
      {"missing input", {"nofile.txt", "out.tsv"}, "zelp: nofile.txt: No such file or directory\n"},
      {"folder as input", {"folder", "out.tsv"}, "zelp: folder: Is a directory\n"},
      {"output in a missing folder",
       {"in.txt", "nodir/out.tsv"},
       "zelp: nodir/out.tsv: No such file or directory\n"},
      {"folder as output", {"in.txt", "folder"}, "zelp: folder: Is a directory\n"},
      {"output is ./input", {"in.txt", "./in.txt"}, "zelp: ./in.txt: same file as input\n"},
      {"output through a folder",
       {"-q", "in.txt", "folder/../in.txt"},
       "zelp: folder/../in.txt: same file as input\n"},
      {"input through a folder",
       {"folder/../in.txt", "in.txt"},
       "zelp: in.txt: same file as input\n"},
      {"output hard link", {"in.txt", "hard.txt"}, "zelp: hard.txt: same file as input\n"},
      {"output symbolic link", {"in.txt", "soft.txt"}, "zelp: soft.txt: same file as input\n"},
      {"disk full", {"in.txt", "/dev/full"}, "zelp: /dev/full: No space left on device\n"},
  };
  const std::string input = "Head line\n1 2\n";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    fs::create_directory(dir.path() / "folder");
    test::write_file(dir.file("in.txt"), input);
    ASSERT_EQ(::link(dir.file("in.txt").c_str(), dir.file("hard.txt").c_str()), 0);
    ASSERT_EQ(::symlink("in.txt", dir.file("soft.txt").c_str()), 0);
    const auto result = test::run_zelp(row.args, "", dir.path().string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(test::read_file(dir.file("in.txt")), input);
    EXPECT_FALSE(fs::exists(dir.file("out.tsv")));
  }
}

TEST(Errors, SameFileByAbsolutePath) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "1\n");
  const auto result = test::run_zelp({dir.file("in.txt"), dir.file("in.txt")}, "");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zelp: " + dir.file("in.txt") + ": same file as input\n");
  EXPECT_EQ(test::read_file(dir.file("in.txt")), "1\n");
}

TEST(Errors, UnreadableInput) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may read anything";
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "1\n");
  ::chmod(dir.file("in.txt").c_str(), 0);
  const auto result = test::run_zelp({"in.txt", "out.tsv"}, "", dir.path().string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zelp: in.txt: Permission denied\n");
  EXPECT_FALSE(fs::exists(dir.file("out.tsv")));
}

// Redirections of the standard streams onto the input, or from something unreadable.
TEST(Errors, StandardStreams) {
  struct Row {
    const char* what;
    std::string command;
    std::string last_err_line;
  };
  const Row rows[] = {
      {"output appended to the input", "\"$ZELP\" in.txt - >>in.txt",
       "zelp: standard output: same file as input\n"},
      {"both standard streams are the input", "\"$ZELP\" - - <in.txt >>in.txt",
       "zelp: standard output: same file as input\n"},
      {"input redirected from the output", "\"$ZELP\" - in.txt <in.txt",
       "zelp: in.txt: same file as input\n"},
      {"folder on standard input", "\"$ZELP\" - out.tsv <folder",
       "zelp: standard input: Is a directory\n"},
      // Opened for writing only, standard input fails at its first read.
      {"unreadable standard input", "\"$ZELP\" - out.tsv 0>>in.txt",
       "zelp: standard input: Bad file descriptor\n"},
      // The input must not take the closed descriptor's number and pass for standard output.
      {"closed standard output", "\"$ZELP\" in.txt - >&-",
       "zelp: standard output: Bad file descriptor\n"},
      {"standard output by name is the input", "\"$ZELP\" in.txt /dev/stdout >>in.txt",
       "zelp: /dev/stdout: same file as input\n"},
      // Unlike a standard stream, a named pipe whose reader leaves is a failed write.
      {"named pipe as output, its reader gone",
       "awk 'BEGIN { for (i = 0; i < 40000; i++) print 1, 2, 3 }' >big.txt && mkfifo fifo &&"
       " { \"$ZELP\" big.txt fifo & head -c1 <fifo >/dev/null; wait $!; }",
       "zelp: fifo: Broken pipe\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    fs::create_directory(dir.path() / "folder");
    test::write_file(dir.file("in.txt"), "Head\n1 2\n");
    const auto result = run_shell(dir, row.command);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    ASSERT_GE(result.err.size(), row.last_err_line.size());
    EXPECT_EQ(result.err.substr(result.err.size() - row.last_err_line.size()), row.last_err_line);
    EXPECT_EQ(result.err.find("lines with plot data found"), std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("in.txt")), "Head\n1 2\n");
  }
}

// Redirections that must succeed: what reaches standard output, standard error and out.tsv
// (which holds "old\n" before the run), from three.txt = "1 2", "3 4", "5 6".
TEST(Redirections, StandardStreamsAsTheShellLeavesThem) {
  const std::string rest = record({"3.000", "4.000"}) + record({"5.000", "6.000"});
  const std::string three = record({"1.000", "2.000"}) + rest;
  // The dialogue's console with a named output: banner, prompts and summary.
  test::TempDir named;
  test::write_file(named.file("three.txt"), "1 2\n3 4\n5 6\n");
  const std::string console =
      test::run_zelp({}, "three.txt\nnamed.tsv\n\n", named.path().string()).out;
  ASSERT_TRUE(console.ends_with(summary(3)));
  const std::string prompts = console.substr(0, console.size() - summary(3).size());
  const std::string million = "awk 'BEGIN { for (i = 0; i < 1000000; i++) print 1 }' >big.txt && ";
  struct Row {
    const char* what;
    std::string command;
    std::string out;
    std::string err;
    std::string file;  // out.tsv afterwards
  };
  const Row rows[] = {
      // The summary is lost, the data and the status are not.
      {"closed standard error", "\"$ZELP\" three.txt out.tsv 2>&-", "", "", three},
      // Standard input is read from where the caller left it, seekable or not.
      {"standard input left at a line of a file",
       "{ head -n1 >/dev/null; \"$ZELP\" -q - -; } <three.txt", rest, "", "old\n"},
      {"standard input left at a line of a pipe",
       "cat three.txt | { read -r skip; \"$ZELP\" -q - -; }", rest, "", "old\n"},
      // A name of standard output or error is written as "-" is: appended, in order.
      {"standard output by name, three runs",
       "for i in 1 2 3; do \"$ZELP\" -q three.txt /dev/stdout >>out.tsv; done", "", "",
       "old\n" + three + three + three},
      {"standard output by name, summary into the same file",
       "\"$ZELP\" three.txt /dev/stdout >>out.tsv 2>&1", "", "", "old\n" + three + summary(3)},
      {"standard error by name", "\"$ZELP\" three.txt /dev/stderr 2>>out.tsv", "", "",
       "old\n" + three + summary(3)},
      {"the file standard output is redirected to", "\"$ZELP\" -q three.txt out.tsv >>out.tsv", "",
       "", "old\n" + three},
      // Held read-only in place of a closed standard output, /dev/null is not that stream.
      {"/dev/null with standard output closed", "\"$ZELP\" -q three.txt /dev/null >&-", "", "",
       "old\n"},
      {"dialogue into standard output by name",
       "printf 'three.txt\\n/dev/stdout\\n\\n' | \"$ZELP\" >>out.tsv", "", "",
       "old\n" + prompts + three + summary(3)},
      // Counts of more than 6 digits: whole on the command line, asterisks in the dialogue.
      {"a million data lines", million + "\"$ZELP\" big.txt /dev/null", "",
       "\r\n1000000 lines with plot data found\r\n\r\n", "old\n"},
      {"a million data lines in the dialogue",
       million + "printf 'big.txt\\n/dev/null\\n\\n' | \"$ZELP\" | tail -c 37",
       "****** lines with plot data found\r\n\r\n", "", "old\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("three.txt"), "1 2\n3 4\n5 6\n");
    test::write_file(dir.file("out.tsv"), "old\n");
    const auto result = run_shell(dir, row.command);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(test::read_file(dir.file("out.tsv")), row.file);
  }
}

// A file that opens but cannot be read: the reader's diagnostics, then the one failure line.
TEST(Errors, ReadFailure) {
  if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
  test::TempDir dir;
  const auto result = test::run_zelp({"/proc/self/mem", "out.tsv"}, "", dir.path().string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("ERROR IN RDMIX"), std::string::npos);
  EXPECT_TRUE(result.err.ends_with("\nzelp: /proc/self/mem: Input/output error\n"));
}

TEST(Usage, ErrorsGiveStatusTwoAndTheUsage) {
  const Failure rows[] = {
      {"unknown short option", {"-x", "in.txt", "out.tsv"}, "zelp: unknown option: -x\n"},
      {"unknown in a bundle", {"-sxq", "in.txt", "out.tsv"}, "zelp: unknown option: -x\n"},
      {"unknown long option", {"in.txt", "out.tsv", "--frob"}, "zelp: unknown option: --frob\n"},
      {"no abbreviations", {"--supp", "in.txt", "out.tsv"}, "zelp: unknown option: --supp\n"},
      {"no option values",
       {"--quiet=yes", "in.txt", "out.tsv"},
       "zelp: unknown option: --quiet=yes\n"},
      {"unknown beats help", {"--help", "-z"}, "zelp: unknown option: -z\n"},
      {"options only", {"-s"}, "zelp: missing INPUT and OUTPUT\n"},
      {"one operand", {"in.txt"}, "zelp: missing OUTPUT\n"},
      {"only dashes", {"--", "in.txt"}, "zelp: missing OUTPUT\n"},
      {"three operands", {"in.txt", "out.tsv", "third"}, "zelp: extra operand: third\n"},
      {"empty operand counts", {"in.txt", "out.tsv", ""}, "zelp: extra operand: \n"},
  };
  const std::string help = usage();
  ASSERT_TRUE(help.starts_with("Usage: zelp [OPTIONS] INPUT OUTPUT\n"));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), "1\n");
    const auto result = test::run_zelp(row.args, "", dir.path().string());
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, row.err + help);
    EXPECT_FALSE(fs::exists(dir.file("out.tsv")));
  }
}

TEST(Usage, HelpAndVersionOnStandardOutput) {
  struct Row {
    std::vector<std::string> args;
    bool help;
  };
  const Row rows[] = {{{"--help"}, true},     {{"-h"}, true},
                      {{"-qh", "x"}, true},   {{"a", "b", "c", "--help"}, true},
                      {{"--version"}, false}, {{"--version", "only-one"}, false}};
  const std::string help = usage();
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.args));
    test::TempDir dir;
    const auto result = test::run_zelp(row.args, "", dir.path().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    if (row.help) {
      EXPECT_EQ(result.out, help);
    } else {
      EXPECT_EQ(result.out, "zelp " + project_version() + "\n");
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

TEST(Usage, HelpIntoAFullDevice) {
  test::TempDir dir;
  const auto result = run_shell(dir, "\"$ZELP\" --help >/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zelp: standard output: No space left on device\n");
}

// Runs zelp with standard output, or standard error when stream is 2, on a pipe whose reader
// has already gone, with SIGPIPE at its default action as a shell would leave it; the other
// standard stream goes to other.txt. Returns the exit status (128 + signal when killed).
int run_into_closed_pipe(const std::vector<std::string>& args, const test::TempDir& dir,
                         int stream = 1) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  ::close(fds[0]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    const int other = ::open(dir.file("other.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (other < 0 || in < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(fds[1], stream);
    ::dup2(other, 3 - stream);
    std::string binary = test::zelp_binary();
    std::vector<std::string> copies(args);
    std::vector<char*> argv{binary.data()};
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

// A reader of standard output or error that has gone ends the run at once by SIGPIPE, with
// nothing said, as in "zelp big.log - | head -1". (A named pipe keeps its failure line.)
TEST(Pipes, ClosedReaderEndsTheRunSilently) {
  std::string big;
  for (int i = 0; i < 40000; ++i) big += std::to_string(i) + " 1.5 2.5\n";  // > one block
  struct Row {
    const char* what;
    std::vector<std::string> args;
    int stream;  // the one on the closed pipe
  };
  const Row rows[] = {
      {"small output, written at the end", {"in.txt", "-"}, 1},
      {"output larger than a block", {"big.txt", "-"}, 1},
      {"quiet", {"-q", "in.txt", "-"}, 1},
      {"standard output by name", {"big.txt", "/dev/stdout"}, 1},
      {"help", {"--help"}, 1},
      {"summary on standard error", {"in.txt", "out.tsv"}, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), "Head\n1 2\n");
    test::write_file(dir.file("big.txt"), big);
    EXPECT_EQ(run_into_closed_pipe(row.args, dir, row.stream), 128 + SIGPIPE);
    EXPECT_EQ(test::read_file(dir.file("other.txt")), "");
  }
}

// The dialogue meets a closed console the same way.
TEST(Pipes, DialogueIntoAClosedPipe) {
  test::TempDir dir;
  EXPECT_EQ(run_into_closed_pipe({}, dir), 128 + SIGPIPE);
  EXPECT_EQ(test::read_file(dir.file("other.txt")), "");
}

// The sample page and its extracted data, byte for byte, by file and through pipes.
TEST(Example, RunLog) {
  const std::string log = (kSource / "examples" / "run.log").string();
  const std::string expected = test::read_file((kSource / "examples" / "run.tsv").string());
  test::TempDir dir;
  const auto by_file = test::run_zelp({log, dir.file("run.tsv")}, "");
  EXPECT_EQ(by_file.status, 0);
  EXPECT_EQ(by_file.err, summary(12));
  EXPECT_EQ(test::read_file(dir.file("run.tsv")), expected);
  const auto by_pipe = test::run_zelp({"-q", "-", "-"}, test::read_file(log));
  EXPECT_EQ(by_pipe.status, 0);
  EXPECT_EQ(by_pipe.out, expected);
  EXPECT_EQ(by_pipe.err, "");
}

}  // namespace
