// Reliability: the built program against faults of the real system (full devices, closed
// standard streams, inputs that change or end under it, FIFOs) and against hostile and huge
// inputs, plus the counters' saturation and the end-of-file stop through the library.
//
// Expected output records are derived here from the rules (printf's exact "%.3f" for a field,
// "#" and characters 2..L for a text line), never copied from a run of the program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "kud/io/units.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "reader_fixture.hpp"
#include "support.hpp"
#include "zelp/zelp.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kOutputPrompt = " File to write the plot_data only  :  ";
constexpr std::string_view kSuppressPrompt = " Suppress all text ?   ( def no )    : ";
constexpr std::string_view kPlainAnswers = "in.txt\nout.txt\n\n";

// ---- Expected records, from the rules ----

std::string field(double value) {
  if (std::isnan(value)) return std::string(11, ' ') + "NaN";
  if (std::isinf(value)) return value < 0 ? "     -Infinity" : "      Infinity";
  char text[400];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string shown(text);
  if (shown.front() == '-' && shown.find_first_not_of("-0.") == std::string::npos)
    shown.erase(0, 1);
  if (shown.size() > 14) return std::string(14, '*');
  return std::string(14 - shown.size(), ' ') + shown;
}

std::string data_record(const std::vector<double>& values) {
  std::string record;
  for (const double v : values) record += field(v) + "\t";
  return record + "\r\n";
}

// A text line as copied: its first 256 characters, "#" for the first, trailing blanks cut.
std::string text_record(std::string_view line) {
  line = line.substr(0, 256);
  const std::size_t last = line.find_last_not_of(' ');
  const std::size_t length = last == std::string_view::npos ? 0 : last + 1;
  return "#" +
         std::string(line.substr(std::min<std::size_t>(1, length), length > 1 ? length - 1 : 0)) +
         "\r\n";
}

std::string summary(int count) {
  const std::string number = std::to_string(count);
  return "\r\n" + std::string(6 - number.size(), ' ') + number +
         " lines with plot data found\r\n\r\n";
}

std::string message(std::string_view lead, std::string name) {
  name.resize(256, ' ');
  return std::string(lead) + name + "\r\n";
}

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// A literal's power of ten: repeated squaring of 10 (or of 1/10 for a negative exponent).
double power_of_ten(int e) {
  double base = e < 0 ? 1.0 / 10.0 : 10.0;
  int n = e < 0 ? -e : e;
  double result = 1.0;
  while (n != 0) {
    if (n % 2 == 1) result *= base;
    n /= 2;
    if (n != 0) base *= base;
  }
  return result;
}

std::vector<double> ones(std::size_t n) { return std::vector<double>(n, 1.0); }

// n one-character items "1" parted by single blanks: 2n - 1 characters.
std::string ones_line(std::size_t n) {
  std::string line = "1";
  for (std::size_t i = 1; i < n; ++i) line += " 1";
  return line;
}

// Every output record is a "#" text record or 15 * n characters of TAB-ended fields.
::testing::AssertionResult well_formed(std::string_view output) {
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = output.find("\r\n", at);
    if (end == std::string_view::npos) return ::testing::AssertionFailure() << "unterminated";
    const std::string_view record = output.substr(at, end - at);
    if (record.empty() || (record.front() != '#' && record.size() % 15 != 0))
      return ::testing::AssertionFailure() << "bad record at " << at;
    if (record.front() != '#') {
      for (std::size_t i = 14; i < record.size(); i += 15)
        if (record[i] != '\t') return ::testing::AssertionFailure() << "no TAB at " << at + i;
    }
    at = end + 2;
  }
  return ::testing::AssertionSuccess();
}

// ---- Running the program ----

struct Outcome {
  test::RunResult result;
  std::string output;  // out.txt, or "<none>"
};

// Runs the program in a fresh folder on input bytes written to in.txt.
Outcome run_on(std::string_view input, std::string_view answers = kPlainAnswers) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), input);
  Outcome run;
  run.result = test::run_zelp({}, answers, dir.path().string());
  run.output = fs::exists(dir.file("out.txt")) ? test::read_file(dir.file("out.txt")) : "<none>";
  EXPECT_EQ(test::read_file(dir.file("in.txt")), input) << "the input changed";
  return run;
}

// A run whose answers are given one step at a time: standard output and error go to files in
// the folder, standard input is a pipe the test writes to.
class Session {
 public:
  explicit Session(const test::TempDir& dir) : dir_(dir) {
    int in[2];
    if (::pipe(in) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(dir.file("console.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(dir.file("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(126);
      ::dup2(in[0], 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::close(in[0]);
      ::close(in[1]);
      const std::string binary = test::zelp_binary();
      ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    input_ = in[1];
  }
  ~Session() {
    if (input_ >= 0) ::close(input_);
    if (pid_ > 0 && !finished_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void send(std::string_view text) const {
    ASSERT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Waits until the console shows text count times (at most 20 s).
  bool wait_for(std::string_view text, std::size_t count = 1) const {
    for (int i = 0; i < 2000; ++i) {
      std::error_code ec;
      if (!fs::exists(dir_.file("console.txt"), ec)) {
        std::this_thread::sleep_for(10ms);
        continue;
      }
      const std::string console = test::read_file(dir_.file("console.txt"));
      std::size_t found = 0;
      for (std::size_t at = console.find(text); at != std::string::npos;
           at = console.find(text, at + 1))
        ++found;
      if (found >= count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Closes standard input and waits for the end: the exit status (128 + signal when killed).
  int finish() {
    ::close(input_);
    input_ = -1;
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    finished_ = true;
    peak_kb_ = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  [[nodiscard]] long peak_kb() const { return peak_kb_; }
  [[nodiscard]] std::string console() const { return test::read_file(dir_.file("console.txt")); }
  [[nodiscard]] std::string err() const { return test::read_file(dir_.file("err.txt")); }

 private:
  const test::TempDir& dir_;
  pid_t pid_ = -1;
  int input_ = -1;
  bool finished_ = false;
  long peak_kb_ = 0;
};

// Writes bytes into a FIFO from a thread; the open waits for the program to open its end.
class FifoWriter {
 public:
  FifoWriter(std::string path, std::string head, std::string chunk, std::size_t repeats)
      : thread_(
            [path = std::move(path), head = std::move(head), chunk = std::move(chunk), repeats] {
              // Waits up to 20 s for the program to open its end, then writes blocking.
              int fd = -1;
              for (int i = 0; i < 2000 && fd < 0; ++i) {
                fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0) std::this_thread::sleep_for(10ms);
              }
              if (fd < 0) return;
              ::fcntl(fd, F_SETFL, 0);
              bool ok = write_all(fd, head);
              for (std::size_t i = 0; ok && i < repeats; ++i) ok = write_all(fd, chunk);
              ::close(fd);
            }) {}
  ~FifoWriter() { thread_.join(); }
  FifoWriter(const FifoWriter&) = delete;
  FifoWriter& operator=(const FifoWriter&) = delete;

 private:
  static bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd, bytes.data(), bytes.size());
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  std::thread thread_;
};

std::string shell_quote(const std::string& text) { return "'" + text + "'"; }

// ---- Hostile input: each row a file and the records the rules give for it ----

struct InputRow {
  const char* what;
  std::string input;
  std::string output;
  int data_lines;
};

std::vector<InputRow> hostile_rows() {
  std::vector<InputRow> rows;
  std::string every_byte;
  for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
  // The LF (10) ends the first record: NUL..TAB is free text, copied with its TAB; the second
  // record, VT..255, is free text too, with a CR inside that is no terminator.
  rows.push_back({"every byte value", every_byte,
                  text_record(every_byte.substr(0, 10)) + text_record(every_byte.substr(11)), 0});
  rows.push_back({"NUL inside a number makes text, never a cut record",
                  std::string("1 2\n3\0"
                              "4\n5 6\n",
                              12),
                  data_record({1, 2}) + data_record({5, 6}), 2});
  rows.push_back({"NUL leading a text line", std::string("\0abc\n7\n", 7),
                  text_record(std::string("\0abc", 4)) + data_record({7}), 1});
  rows.push_back({"UTF-8 byte-order mark", "\xEF\xBB\xBFTitle\n1 2\n",
                  text_record("\xEF\xBB\xBFTitle") + data_record({1, 2}), 1});
  rows.push_back({"byte-order mark before numbers",
                  "\xEF\xBB\xBF"
                  "1 2\n3\n",
                  text_record("\xEF\xBB\xBF"
                              "1 2") +
                      data_record({3}),
                  1});
  // CR alone ends no record: the file is one record, the CR before the end of file excepted.
  rows.push_back({"CR-only line ends", "Title\r1 2\r3 4\r", text_record("Title\r1 2\r3 4"), 0});
  // "2\r3" is no number: the one record is a text line.
  rows.push_back({"CR-only data", "1 2\r3 4\r", text_record("1 2\r3 4"), 0});
  for (const std::size_t length : {132u, 133u, 256u, 257u, 300u}) {
    const std::string text = "T" + std::string(length - 2, 'x') + "Z";
    rows.push_back({"text line", text + "\n", text_record(text), 0});
    const std::string data =
        (length % 2 == 0 ? "10" : "1") + ones_line((length - 1) / 2 + 1).substr(1);
    std::vector<double> values = ones((length + 1) / 2);
    if (length % 2 == 0) values.front() = 10;
    rows.push_back({"data line", data + "\n", data_record(values), 1});
  }
  rows.push_back({"1024 one-character items", ones_line(1024) + "\n", data_record(ones(1024)), 1});
  // The reader takes 2048 characters of a record: the 1025th item lies beyond them.
  rows.push_back({"1025 one-character items", ones_line(1025) + "\n", data_record(ones(1024)), 1});
  rows.push_back({"a data line after an over-long one", ones_line(1500) + "\n2\n",
                  data_record(ones(1024)) + data_record({2}), 2});
  const std::string ten_thousand(10000, '7');
  rows.push_back({"10,000-digit integer", ten_thousand + "\n",
                  data_record({std::numeric_limits<double>::infinity()}), 1});
  rows.push_back({"negative 2,000-digit integer", "-" + std::string(2000, '9') + "\n",
                  data_record({-std::numeric_limits<double>::infinity()}), 1});
  rows.push_back({"10,000-digit fraction", "0." + std::string(9998, '0') + "\n1.5\n",
                  data_record({0.0}) + data_record({1.5}), 2});
  rows.push_back({"long runs of zeros", "000000000000000000000000000000000000000012 -0000.5\n",
                  data_record({12, -0.5}), 1});
  rows.push_back({"exponents 9999 and -9999", "1E9999 1E-9999 0E9999 -1E+9999\n",
                  data_record({std::numeric_limits<double>::infinity(), 0.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::infinity()}),
                  1});
  rows.push_back({"five exponent digits make text", "1E99999\n2\n",
                  text_record("1E99999") + data_record({2}), 1});
  rows.push_back({"SIN of huge arguments", "SIN(1E308) COS(1E308) SIN(1E309)\n",
                  data_record({std::sin(power_of_ten(308)), std::cos(power_of_ten(308)),
                               std::numeric_limits<double>::quiet_NaN()}),
                  1});
  std::string sum = "1";
  for (int i = 0; i < 1000; ++i) sum += "+1";
  rows.push_back({"1000 operators in a row", sum + "\n", data_record({1001}), 1});
  std::string powers = "2";
  for (int i = 0; i < 600; ++i) powers += "**2";
  rows.push_back(
      {"600 powers", powers + "\n", data_record({std::numeric_limits<double>::infinity()}), 1});
  rows.push_back({"a line of operators only",
                  std::string(2000, '+') + "\n" + std::string(2000, '*') + "\n" + "1\n",
                  text_record(std::string(2000, '+')) + data_record({1}), 1});
  rows.push_back({"stop characters only", "% ! # ' *\n*1\n1 2 * 3\n", data_record({1, 2}), 1});
  return rows;
}

TEST(HostileInput, RecordsFollowTheRules) {
  for (const InputRow& row : hostile_rows()) {
    SCOPED_TRACE(row.what);
    const Outcome run = run_on(row.input);
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_TRUE(ends_with(run.result.out, summary(row.data_lines)));
    EXPECT_EQ(run.output, row.output);
    EXPECT_TRUE(well_formed(run.output));
  }
}

// ---- Names longer than the 256-character answer buffer ----

TEST(LongNames, TypedNamesAreCutTo256Characters) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "Head\n4 5\n");
  std::string dots;
  for (int i = 0; i < 125; ++i) dots += "./";
  const std::string junk(44, 'Q');
  // 300 characters typed each time; the first 256 name the files.
  const std::string missing(300, 'n');
  const std::string input_name = dots + "in.txt" + junk;
  const std::string output_name = dots + "ou.txt" + junk;
  ASSERT_EQ(input_name.size(), 300u);
  const auto result = test::run_zelp({}, missing + "\n" + input_name + "\n" + output_name + "\n\n",
                                     dir.path().string());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find(message(" Nonexisting file :", std::string(256, 'n'))),
            std::string::npos);
  EXPECT_EQ(result.out.find(std::string(257, 'n')), std::string::npos);
  ASSERT_TRUE(fs::exists(dir.file("ou.txt")));
  EXPECT_EQ(test::read_file(dir.file("ou.txt")), text_record("Head") + data_record({4, 5}));
  EXPECT_TRUE(ends_with(result.out, summary(1)));
}

TEST(LongNames, OverLongOutputNameIsAskedAgain) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "1\n");
  const std::string too_long(256, 'o');  // one name of 256 characters: longer than a file name
  const auto result =
      test::run_zelp({}, "in.txt\n" + too_long + "\nin.txt/x\nout.txt\n\n", dir.path().string());
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find(message(" Cannot open file :", too_long) + std::string(kOutputPrompt)),
            std::string::npos);
  // A file used as a folder cannot be opened either.
  EXPECT_NE(
      result.out.find(message(" Cannot open file :", "in.txt/x") + std::string(kOutputPrompt)),
      std::string::npos);
  EXPECT_EQ(test::read_file(dir.file("out.txt")), data_record({1}));
}

// ---- The input spelled another way for the output ----

TEST(SameFile, OtherSpellingsAreRefused) {
  struct Row {
    const char* what;
    std::string input_answer;
    std::string output_answer;
  };
  const Row rows[] = {
      {"doubled slashes", "in.txt", ".//in.txt"},
      {"trailing blanks", "in.txt", "in.txt     "},
      {"input through a link, output the file", "soft.txt", "in.txt"},
      {"both through links", "soft.txt", "hard.txt"},
  };
  const std::string input = "Head\n1 2\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), input);
    ASSERT_EQ(::symlink("in.txt", dir.file("soft.txt").c_str()), 0);
    ASSERT_EQ(::link(dir.file("in.txt").c_str(), dir.file("hard.txt").c_str()), 0);
    const auto result = test::run_zelp(
        {}, row.input_answer + "\n" + row.output_answer + "\nout.txt\n\n", dir.path().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(message(" Same file as input :", row.output_answer)),
              std::string::npos);
    EXPECT_EQ(test::read_file(dir.file("in.txt")), input);
    EXPECT_EQ(test::read_file(dir.file("out.txt")), text_record("Head") + data_record({1, 2}));
  }
}

// ---- Standard streams ----

// Closed standard streams: a closed input reads as empty, a closed console fails the run, and
// with standard error closed no failure line can land in a file the program opened.
TEST(StandardStreams, ClosedDescriptorsNeverReachFiles) {
  struct Row {
    const char* what;
    const char* redirections;
    int status;
    const char* err;  // expected standard error, or nullptr when it is closed
  };
  const Row rows[] = {
      {"standard input closed", "<&- >/dev/null 2>err.txt", 1,
       "zelp: end of input while reading an answer\n"},
      {"standard output closed", "<answers >&- 2>err.txt", 1,
       "zelp: standard output: Bad file descriptor\n"},
      {"standard error closed, output device full", "<answers >/dev/null 2>&-", 1, nullptr},
  };
  const std::string input = "Head\n1 2\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), input);
    test::write_file(dir.file("answers"), "in.txt\n/dev/full\n\n");
    const std::string command = "cd " + shell_quote(dir.path().string()) + " && " +
                                shell_quote(test::zelp_binary()) + " " + row.redirections +
                                "; echo $? > status.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(test::read_file(dir.file("status.txt")), std::to_string(row.status) + "\n");
    if (row.err != nullptr) {
      EXPECT_EQ(test::read_file(dir.file("err.txt")), row.err);
    }
    EXPECT_EQ(test::read_file(dir.file("in.txt")), input);
  }
}

// An answer whose line feed never comes is still an answer.
TEST(StandardStreams, LastAnswerWithoutLineFeed) {
  const Outcome run = run_on("Head\n1\n", "in.txt\nout.txt\nyes");
  EXPECT_EQ(run.result.status, 0);
  EXPECT_EQ(run.output, data_record({1}));  // "yes" suppressed the text line
}

// Standard input that ends in the middle of the dialogue, after a refused output name.
TEST(StandardStreams, EndOfInputAfterARefusedOutput) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "1\n");
  const auto result = test::run_zelp({}, "in.txt\nin.txt\n", dir.path().string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "zelp: end of input while reading an answer\n");
  EXPECT_EQ(result.out.find(" lines with plot data found"), std::string::npos);
  EXPECT_EQ(test::read_file(dir.file("in.txt")), "1\n");
}

// ---- Output device full after many records ----

TEST(DeviceFull, FailureAfterManyRecordsIsReportedOnce) {
  std::string input;
  for (int i = 0; i < 40000; ++i) input += "1 2 3 4 5 6 7 8\n";  // far more than one write block
  const Outcome run = run_on(input, "in.txt\n/dev/full\n\n");
  EXPECT_EQ(run.result.status, 1);
  EXPECT_EQ(run.result.err, "zelp: /dev/full: No space left on device\n");
  EXPECT_EQ(run.result.out.find(" lines with plot data found"), std::string::npos);
  EXPECT_TRUE(ends_with(run.result.out, kSuppressPrompt));
}

// ---- Inputs that change or end while they are read ----

TEST(ChangingInput, FifoWriterStoppingMidLine) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("in.txt").c_str(), 0600), 0);
  const FifoWriter writer(dir.file("in.txt"), "Title\n1 2\n3 4", "", 0);
  const auto result = test::run_zelp({}, kPlainAnswers, dir.path().string());
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(ends_with(result.out, summary(2)));
  EXPECT_EQ(test::read_file(dir.file("out.txt")),
            text_record("Title") + data_record({1, 2}) + data_record({3, 4}));
}

TEST(ChangingInput, FifoTextLinesAreCopiedAfterStepBack) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("in.txt").c_str(), 0600), 0);
  const FifoWriter writer(dir.file("in.txt"), "", "Run 7\tdone\n", 3);
  const auto result = test::run_zelp({}, kPlainAnswers, dir.path().string());
  EXPECT_EQ(result.status, 0);
  // Every text line before the first data line is copied, read again after a step back.
  EXPECT_EQ(test::read_file(dir.file("out.txt")),
            text_record("Run 7\tdone") + text_record("Run 7\tdone") + text_record("Run 7\tdone"));
}

// Emptied or replaced between the open and the first read: the program reads what the file
// it opened holds then, and says how many data lines it found.
TEST(ChangingInput, TruncatedOrReplacedBeforeReading) {
  struct Row {
    const char* what;
    bool replace;
    std::string output;
    int count;
  };
  const std::string input = "Head\n1 2\n3 4\n";
  const Row rows[] = {
      {"truncated", false, "", 0},
      {"replaced by rename", true, text_record("Head") + data_record({1, 2}) + data_record({3, 4}),
       2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    test::write_file(dir.file("in.txt"), input);
    Session session(dir);
    session.send("in.txt\nout.txt\n");
    ASSERT_TRUE(session.wait_for(kSuppressPrompt));
    if (row.replace) {
      test::write_file(dir.file("new.txt"), "9\n");
      ASSERT_EQ(::rename(dir.file("new.txt").c_str(), dir.file("in.txt").c_str()), 0);
    } else {
      ASSERT_EQ(::truncate(dir.file("in.txt").c_str(), 0), 0);
    }
    session.send("\n");
    EXPECT_EQ(session.finish(), 0);
    EXPECT_EQ(session.err(), "");
    EXPECT_TRUE(ends_with(session.console(), summary(row.count)));
    EXPECT_EQ(test::read_file(dir.file("out.txt")), row.output);
  }
}

// Cut while the program is reading it: whatever the moment, a clean result or one clear line.
TEST(ChangingInput, TruncatedWhileBeingRead) {
  // Lines are 6 bytes: 1000003 cuts a line after its first character.
  for (const off_t keep : {off_t{0}, off_t{1000003}}) {
    SCOPED_TRACE(keep);
    test::TempDir dir;
    std::string input;
    for (int i = 0; i < 600000; ++i) input += "1 2 3\n";
    test::write_file(dir.file("in.txt"), input);
    Session session(dir);
    session.send(kPlainAnswers);
    // The output grows in blocks: once one is out, the reading is under way.
    for (int i = 0;
         i < 2000 && !(fs::exists(dir.file("out.txt")) && fs::file_size(dir.file("out.txt")) > 0);
         ++i)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(::truncate(dir.file("in.txt").c_str(), keep), 0);
    const int status = session.finish();
    const std::string output = test::read_file(dir.file("out.txt"));
    EXPECT_TRUE(well_formed(output));
    if (status == 0) {
      const auto records = static_cast<int>(std::count(output.begin(), output.end(), '\n'));
      EXPECT_TRUE(ends_with(session.console(), summary(records)));
      // Whole lines, and at most one last line cut short by the truncation.
      const std::string full = data_record({1, 2, 3});
      std::size_t at = 0;
      while (output.compare(at, full.size(), full) == 0) at += full.size();
      const std::string rest = output.substr(at);
      EXPECT_TRUE(rest.empty() || rest == data_record({1}) || rest == data_record({1, 2})) << rest;
    } else {
      EXPECT_EQ(status, 1);
      EXPECT_EQ(session.err().rfind("zelp: ", 0), 0u);
    }
  }
}

// ---- Memory stays bounded on a huge line ----

TEST(HugeInput, LineWithoutLineFeedFromAFifo) {
  constexpr std::size_t kMegabytes = 64;
  test::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.file("in.txt").c_str(), 0600), 0);
  Session session(dir);
  {
    // 8-character pieces "1234567 ": the reader's 2048 characters hold 256 whole items.
    const std::string chunk = [] {
      std::string c;
      for (int i = 0; i < 8192; ++i) c += "1234567 ";
      return c;
    }();
    const FifoWriter writer(dir.file("in.txt"), "", chunk, kMegabytes * 1024 * 1024 / chunk.size());
    session.send(kPlainAnswers);
    EXPECT_EQ(session.finish(), 0);
  }
  EXPECT_EQ(test::read_file(dir.file("out.txt")), data_record(std::vector<double>(256, 1234567)));
  EXPECT_TRUE(ends_with(session.console(), summary(1)));
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "peak memory is not meaningful under the sanitizers";
#else
  EXPECT_LT(session.peak_kb(), 16 * 1024) << "peak resident memory in KB";
#endif
}

// ---- The program run in-process again and again ----

std::size_t open_descriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST(InProcess, RunsGiveBackTheirDescriptors) {
  test::TempDir dir;
  test::write_file(dir.file("in.txt"), "Head\n1 2\n");
  const std::string input = dir.file("in.txt");
  const std::string output = dir.file("out.txt");
  const std::string missing = dir.file("missing.txt");
  const std::string nowhere = dir.file("no/out.txt");
  struct Row {
    const char* what;
    std::vector<std::string_view> args;
    int status;
  };
  const Row rows[] = {
      {"success", {"-q", input, output}, 0},
      {"input missing", {"-q", missing, output}, 1},
      {"output into a missing folder", {"-q", input, nowhere}, 1},
      {"output is the input", {"-q", input, input}, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::size_t before = open_descriptors();
    for (int i = 0; i < 3; ++i) {
      kud::io::reset_units();
      kud::reset_reader_state();
      EXPECT_EQ(zelp::run(row.args), row.status);
      kud::io::reset_units();
    }
    EXPECT_EQ(open_descriptors(), before);
  }
  EXPECT_EQ(test::read_file(output), text_record("Head") + data_record({1, 2}));
  EXPECT_EQ(test::read_file(input), "Head\n1 2\n");
}

// ---- Counters and the end-of-file stop, through the library ----

using test::ReaderTest;

TEST_F(ReaderTest, CountersSaturateAtTheLimit) {
  use_file("a\n\n\nb\n", false);
  kud::RS.NLINRD = kud::kMaxCount - 2;
  kud::RDLINE();  // "a"
  EXPECT_EQ(kud::RDGET(kud::kGetNlinrd), kud::kMaxCount - 1);
  kud::RDLINE();  // two blank records skipped, then "b"
  EXPECT_EQ(kud::RDGET(kud::kGetNlinrd), kud::kMaxCount);
  EXPECT_EQ(test::line_text(1, kud::RS.LENLIN), "B");
  // End of file, over and over, with a policy that passes every hit over.
  kud::RDSET(kud::kMaxCount, kud::kSetMxeof);
  kud::RS.NEOF = kud::kMaxCount - 1;
  for (int i = 0; i < 3; ++i) {
    kud::RDLINE();
    EXPECT_EQ(kud::RDSTAT(), 0);
    EXPECT_TRUE(kud::RDEOF());
    EXPECT_EQ(kud::RS.NEOF, kud::kMaxCount);
    EXPECT_EQ(kud::RDGET(kud::kGetNlinrd), kud::kMaxCount);
  }
}

TEST(Counters, CountUpStopsAtTheLimit) {
  struct Row {
    std::int32_t from;
    std::int32_t to;
  };
  const Row rows[] = {
      {0, 1}, {kud::kMaxCount - 1, kud::kMaxCount}, {kud::kMaxCount, kud::kMaxCount}};
  for (const Row& row : rows) {
    std::int32_t n = row.from;
    kud::count_up(n);
    EXPECT_EQ(n, row.to);
  }
}

// The stop at the second end of file writes out everything that was buffered, and a failure
// to do so turns the exit status into 1 with one line naming the file.
TEST_F(ReaderTest, StoppingAtTheEndOfFileFlushesEveryBlock) {
  use_file("1\n", false);
  kud::io::OpenRequest out;
  const std::string out_path = dir_.file("out.txt");
  out.name = out_path;
  ASSERT_EQ(kud::io::open_unit(90, out), 0);
  std::string expected;
  for (int i = 0; i < 30000; ++i) {
    const std::string record = "record " + std::to_string(i);
    ASSERT_EQ(kud::io::write_record(90, record), 0);
    expected += record + "\r\n";
  }
  kud::RDLINE();
  kud::RDLINE();
  ASSERT_TRUE(kud::RDEOF());
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(0), "^$");
  EXPECT_EQ(test::read_file(out_path), expected);
}

TEST_F(ReaderTest, StoppingAtTheEndOfFileReportsALostOutput) {
  use_file("", false);
  kud::io::set_program_name("zelp");
  kud::io::OpenRequest out;
  out.name = "/dev/full";
  ASSERT_EQ(kud::io::open_unit(90, out), 0);
  ASSERT_EQ(kud::io::write_record(90, "lost"), 0);
  kud::RDLINE();
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(1),
              "zelp: /dev/full: No space left on device");
}

}  // namespace
