// The command line, run through the built program against real files, pipes and devices.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <span>
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

// Three blocks: a heading that names two columns, a change in the number of values without text
// (no names), a heading after text, and text after the last block.
constexpr std::string_view kBlocks =
    "Title here\n"
    "  a  b\n"
    "1 2\n"
    "3 4\n"
    "5 6 7\n"
    "Note between\n"
    "! a comment, never copied\n"
    "\n"
    "x y z\n"
    "8 9 10\n"
    "the end\n";

struct Invocation {
  const char* what;
  std::vector<std::string> args;
  std::string input;
  std::string out;
  std::string err;
  int status = 0;
};

void expect_runs(std::span<const Invocation> rows) {
  for (const Invocation& row : rows) {
    SCOPED_TRACE(row.what);
    const auto result = test::run_zelp(row.args, row.input);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.out, row.out);
    EXPECT_EQ(result.err, row.err);
  }
}

// The output for analysis tools, the table of blocks and the choice of blocks, by stdin/stdout.
TEST(Blocks, TsvListAndChosenBlocks) {
  const std::string block1 = "# Title here\n#   a  b\na\tb\n1\t2\n3\t4\n";
  const std::string block2 = "col1\tcol2\tcol3\n5\t6\t7\n";
  const std::string block3 = "# Note between\n# x y z\n\n\nx\ty\tz\n8\t9\t10\n";
  const std::string block3_first = "# Note between\n# x y z\nx\ty\tz\n8\t9\t10\n";
  const std::string header = "block  first line   last line  data lines  columns  names\n";
  const std::string input(kBlocks);
  const Invocation rows[] = {
      {"tsv",
       {"-t", "-"},
       input,
       block1 + "\n\n" + block2 + "\n" + block3 + "\n# the end\n",
       summary(4)},
      {"tsv without text",
       {"-qst", "-"},
       input,
       "a\tb\n1\t2\n3\t4\n\n\n" + block2 + "\n\nx\ty\tz\n8\t9\t10\n",
       ""},
      {"one block", {"-q", "--tsv", "--block", "2", "-"}, input, block2, ""},
      {"two blocks", {"-qtb1,3", "-"}, input, block1 + "\n" + block3, ""},
      {"the same block twice", {"-qt", "--block=3,3-3", "-"}, input, block3_first, ""},
      {"a block missing",
       {"-qt", "-b", "3-4", "-"},
       input,
       block3_first + "\n# the end\n",
       "zelp: standard input has no block 4 (it has 3)\n",
       1},
      {"fields of one block",
       {"-b", "2", "-", "-"},
       input,
       "#itle here\r\n# a  b\r\n" + record({"5.000", "6.000", "7.000"}),
       summary(1)},
      {"fields of a block missing",
       {"-qs", "-b", "9,1", "-"},
       input,
       record({"1.000", "2.000"}) + record({"3.000", "4.000"}),
       "zelp: standard input has no block 9 (it has 3)\n",
       1},
      {"list",
       {"--list", "-"},
       input,
       header + "    1           3           4           2        2  a b\n" +
           "    2           5           5           1        3  col1 col2 col3\n" +
           "    3          10          10           1        3  x y z\n",
       ""},
      {"list of chosen blocks",
       {"--list", "-b", "3", "-"},
       input,
       header + "    3          10          10           1        3  x y z\n",
       ""},
      {"list of no data", {"--list", "-"}, "just words\n", header, ""},
      {"tsv of no data", {"-t", "-"}, "just words\n", "# just words\n", summary(0)},
      // Values as strtod reads their texts, the shortest text that reads back; expressions as
      // ever; overflow and undefined results as the tools read them.
      {"values",
       {"-qt", "-"},
       "0.12 2E-2 1.2345E-05 24908.667 PI/4 0.1+0.2 1E400 -1E400 1E400-1E400 -0 -0.0 5000\n",
       "col1\tcol2\tcol3\tcol4\tcol5\tcol6\tcol7\tcol8\tcol9\tcol10\tcol11\tcol12\n"
       "0.12\t0.02\t1.2345e-05\t24908.667\t0.7853981633974483\t0.30000000000000004\tinf\t-inf\t"
       "nan\t0\t-0\t5000\n",
       ""},
      {"decimal comma",
       {"-qt", "--decimal-comma", "-"},
       "1.5 2.5E-7 3\n",
       "col1\tcol2\tcol3\n1,5\t2,5e-07\t3\n",
       ""},
      // Text lines whole: nothing taken from column 1, TABs kept, a CR inside becomes a blank,
      // cut at 2048 characters.
      {"text lines",
       {"-qt", "-"},
       "LAMMPS (2 Aug 2023)\n\tStep\r\nA\rB\n" + std::string(2100, 'w') + "\n1 2\n",
       "# LAMMPS (2 Aug 2023)\n# \tStep\n# A B\n# " + std::string(2048, 'w') + "\nA\tB\n1\t2\n",
       ""},
  };
  expect_runs(rows);
}

// Where the names of a block's columns come from: the last of its heading's final eight lines
// with one name for each column.
TEST(Blocks, ColumnNames) {
  struct Heading {
    std::string lines;
    std::string names;
  };
  const Heading headings[] = {
      {"Step Temp E_pair\n", "Step\tTemp\tE_pair"},
      {"x/L T_hot T_cold\n", "x/L\tT_hot\tT_cold"},
      {"iter.\tEnergy   DeltaE\n", "iter.\tEnergy\tDeltaE"},
      {"---- ---- ----\n", "col1\tcol2\tcol3"},
      {"EFG tensor :\n", "col1\tcol2\tcol3"},
      {"a b c d\n", "col1\tcol2\tcol3"},
      {"a b\n", "col1\tcol2\tcol3"},
      {"u v w\nrate 1e5 s\n", "u\tv\tw"},
      {"u v w\nx inf nan\n", "u\tv\tw"},
      {"u v w\nx #y z\n", "u\tv\tw"},
      {"u v w\nx \"y z\n", "u\tv\tw"},
      {"u v w\n1 2 3 x\ns t w\nlast one\n", "s\tt\tw"},
      // Only the final eight lines count.
      {"u v w\nh1\nh2\nh3\nh4\nh5\nh6\nh7\nh8\n", "col1\tcol2\tcol3"},
      {"u v w\nh1\nh2\nh3\nh4\nh5\nh6\nh7\n", "u\tv\tw"},
  };
  for (const Heading& heading : headings) {
    SCOPED_TRACE(heading.lines);
    const auto result = test::run_zelp({"-qst", "-"}, heading.lines + "1 2 3\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, heading.names + "\n1\t2\t3\n");
  }
}

// A generated input of many blocks, and what the blocks must come out as.
struct GeneratedBlock {
  std::vector<std::string> names;  // empty: col1 ... colN
  std::size_t columns = 0;
  std::vector<std::vector<std::string>> rows;  // the literals of each data line
};

std::string generate_blocks(std::uint64_t seed, std::vector<GeneratedBlock>& blocks) {
  std::mt19937_64 random(seed);
  const std::string_view literals[] = {
      "0",       "-7",         "12",        "0.125",
      "-3.5E-3", "1.2345E-05", "24908.667", "6.02214076e23",
      ".5",      "5.",         "+4",        "0.1000000000000000055511151231257827",
      "2.5e-310"};
  const std::string_view words[] = {"Step", "Temp", "E_pair", "x/L", "iter.", "rate"};
  std::string input;
  std::size_t last_columns = 0;
  for (int b = 0; b < 40; ++b) {
    GeneratedBlock block;
    block.columns = 1 + random() % 9;
    // Half the blocks follow the one before at once, with another number of values.
    const bool heading = b == 0 || block.columns == last_columns || random() % 2 == 0;
    if (heading) {
      for (auto lines = random() % 12; lines > 0; --lines)
        input += "Some text, line " + std::to_string(lines) + "\n";
      if (random() % 3 != 0) {
        for (std::size_t c = 0; c < block.columns; ++c) {
          block.names.push_back(std::string(words[random() % std::size(words)]) +
                                std::to_string(c));
          input += (c > 0 ? "\t " : "  ") + block.names.back();
        }
        input += "\n";
      }
    }
    for (auto lines = 1 + random() % 30; lines > 0; --lines) {
      if (random() % 8 == 0) input += random() % 2 == 0 ? "\n" : "! a comment\n";
      std::vector<std::string> row;
      for (std::size_t c = 0; c < block.columns; ++c) {
        row.emplace_back(literals[random() % std::size(literals)]);
        input += (c > 0 ? (random() % 2 == 0 ? " , " : "\t") : "   ") + row.back();
      }
      input += "\n";
      block.rows.push_back(row);
    }
    last_columns = block.columns;
    blocks.push_back(block);
  }
  return input + "The end\n";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// What a reader of the output for analysis tools sees: data sets separated by two or more
// empty lines (comments between them do not count), each a names row and rows of fields.
std::vector<std::vector<std::vector<std::string>>> data_sets(const std::string& tsv) {
  std::vector<std::vector<std::vector<std::string>>> sets(1);
  int empty = 0;
  for (const std::string& line : split(tsv, '\n')) {
    if (line.starts_with("#")) continue;
    if (line.empty()) {
      ++empty;
      continue;
    }
    if (empty >= 2 && !sets.back().empty()) sets.emplace_back();
    empty = 0;
    sets.back().push_back(split(line, '\t'));
  }
  if (sets.back().empty()) sets.pop_back();
  return sets;
}

// Many blocks through both formats and the table: the same data lines and values in each,
// one data set per block, every data set rectangular, names where the heading gives them, and
// every value the one its literal's text has.
TEST(Blocks, GeneratedInputsKeepTheirTables) {
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::vector<GeneratedBlock> blocks;
    const std::string input = generate_blocks(seed, blocks);
    const auto fields = test::run_zelp({"-qs", "-", "-"}, input);
    const auto tsv = test::run_zelp({"-qt", "-"}, input);
    const auto list = test::run_zelp({"--list", "-"}, input);
    ASSERT_EQ(fields.status, 0);
    ASSERT_EQ(tsv.status, 0);
    ASSERT_EQ(list.status, 0);
    const auto records = split(fields.out, '\n');
    const auto sets = data_sets(tsv.out);
    ASSERT_EQ(sets.size(), blocks.size());
    EXPECT_EQ(split(list.out, '\n').size(), blocks.size() + 2);  // the header, the final LF
    std::size_t record = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      SCOPED_TRACE(b);
      const GeneratedBlock& block = blocks[b];
      const auto& set = sets[b];
      ASSERT_EQ(set.size(), block.rows.size() + 1);
      std::vector<std::string> names = block.names;
      for (std::size_t c = 1; names.empty() || names.size() < block.columns; ++c)
        names.push_back("col" + std::to_string(c));
      EXPECT_EQ(set[0], names);
      for (std::size_t r = 0; r < block.rows.size(); ++r, ++record) {
        ASSERT_EQ(set[r + 1].size(), block.columns);
        ASSERT_LT(record, records.size());
        EXPECT_EQ(records[record].size(), block.columns * 15 + 1);  // fields, TABs and CR
        for (std::size_t c = 0; c < block.columns; ++c) {
          const std::string& literal = block.rows[r][c];
          EXPECT_EQ(std::strtod(set[r + 1][c].c_str(), nullptr),
                    std::strtod(literal.c_str(), nullptr))
              << literal << " written as " << set[r + 1][c];
        }
      }
    }
    EXPECT_EQ(record + 1, records.size());
    EXPECT_EQ(tsv.out.find("# The end\n"), tsv.out.size() - 10);
  }
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
      {"options only", {"-s"}, "zelp: missing INPUT\n"},
      {"only dashes", {"--"}, "zelp: missing INPUT\n"},
      {"three operands", {"in.txt", "out.tsv", "third"}, "zelp: extra operand: third\n"},
      {"empty operand counts", {"in.txt", "out.tsv", ""}, "zelp: extra operand: \n"},
      {"block zero", {"-b", "0", "in.txt"}, "zelp: invalid block list: '0'\n"},
      {"range backwards", {"--block", "3-1", "in.txt"}, "zelp: invalid block list: '3-1'\n"},
      {"not a number", {"--block=x", "in.txt"}, "zelp: invalid block list: 'x'\n"},
      {"empty list", {"-b", "", "in.txt"}, "zelp: invalid block list: ''\n"},
      {"list ends in a comma", {"-b2,", "in.txt"}, "zelp: invalid block list: '2,'\n"},
      {"open range", {"-qb", "2-", "in.txt"}, "zelp: invalid block list: '2-'\n"},
      {"beyond 32 bits",
       {"-b", "2147483648", "in.txt"},
       "zelp: invalid block list: '2147483648'\n"},
      {"block list missing", {"in.txt", "-b"}, "zelp: option -b needs a block list\n"},
      {"long block list missing",
       {"in.txt", "--block"},
       "zelp: option --block needs a block list\n"},
      {"list with OUTPUT",
       {"--list", "in.txt", "out.tsv"},
       "zelp: --list writes no OUTPUT: out.tsv\n"},
      {"list with tsv", {"--list", "-t", "in.txt"}, "zelp: --list and --tsv do not go together\n"},
      {"list with suppress",
       {"--list", "-s", "in.txt"},
       "zelp: --list and -s do not go together\n"},
  };
  const std::string help = usage();
  ASSERT_TRUE(help.starts_with("Usage: zelp [OPTIONS] INPUT [OUTPUT]\n"));
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

// The analysis tools themselves read the sample's output for them: gnuplot and pandas. Where a
// tool is missing the test is skipped, unless ZELP_REQUIRE_CLIENTS is set (as CI sets it).
bool client_missing(const test::TempDir& dir, const std::string& check) {
  if (run_shell(dir, check + " >/dev/null 2>&1").status == 0) return false;
  if (std::getenv("ZELP_REQUIRE_CLIENTS") != nullptr) ADD_FAILURE() << "missing: " << check;
  return true;
}

TEST(Example, GnuplotReadsEveryBlock) {
  test::TempDir dir;
  if (client_missing(dir, "command -v gnuplot")) GTEST_SKIP() << "no gnuplot";
  const std::string log = (kSource / "examples" / "run.log").string();
  const auto result = run_shell(
      dir, "\"$ZELP\" -q --tsv '" + log +
               "' run.tsv && gnuplot -e \"set datafile separator '\\t'; " +
               "set key autotitle columnhead; stats 'run.tsv' nooutput; print STATS_blocks; " +
               "do for [i=0:1] { stats 'run.tsv' index i using 1:2 nooutput; " +
               "print STATS_records, STATS_min_x, STATS_max_y }\" 2>&1");
  EXPECT_EQ(result.status, 0);
  // Two data sets; the first column of block 1 starts at 0, of block 2 at 20; the largest
  // T_hot is 85, the largest T1_out 63.8.
  EXPECT_EQ(result.out, "2\n7 0.0 85.0\n5 20.0 63.8\n");
}

TEST(Example, PandasReadsABlockWithItsNamesAndExactValues) {
  test::TempDir dir;
  if (client_missing(dir, "/usr/bin/python3 -c 'import pandas'")) GTEST_SKIP() << "no pandas";
  const std::string log = (kSource / "examples" / "run.log").string();
  // Block 2 is lines 30 to 34 of the sample; its literals are the first four items of each.
  const std::string script =
      "import re, subprocess, sys, pandas\n"
      "out = subprocess.run(sys.argv[1:], capture_output=True, check=True).stdout\n"
      "open('b2.tsv', 'wb').write(out)\n"
      "frame = pandas.read_csv('b2.tsv', sep='\\t', comment='#')\n"
      "lines = open(sys.argv[-2]).read().splitlines()[29:34]\n"
      "want = [[float(x) for x in re.split('[ ,]+', l.strip())[:4]] for l in lines]\n"
      "print(list(frame.columns))\n"
      "print(frame.values.tolist() == want, frame.shape)\n";
  test::write_file(dir.file("read.py"), script);
  const auto result =
      run_shell(dir, "/usr/bin/python3 read.py \"$ZELP\" --tsv --block 2 '" + log + "' - 2>&1");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "['t', 'T1_out', 'T2_out', 'eff']\nTrue (5, 4)\n");
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
