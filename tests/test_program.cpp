// The built program, run on real files in a scratch folder and compared byte for byte.
//
// Each folder under tests/data/ is one run: "answers" is fed on standard input, "input" (if
// present) becomes in.txt, and the run must write exactly "console" on standard output,
// "stderr" (empty when absent) on standard error, exit with "status" (0 when absent), and leave
// out.txt equal to "output" (out.txt must not exist when "output" is absent). Every run folder
// also holds an empty folder named "folder", and in.txt must come out unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path kData = ZELP_TEST_DATA;

constexpr std::string_view kInputPrompt = " Give file containing text & data  :  ";
constexpr std::string_view kOutputPrompt = " File to write the plot_data only  :  ";
constexpr std::string_view kSuppressPrompt = " Suppress all text ?   ( def no )    : ";

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kData)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string read_or(const fs::path& path, std::string fallback) {
  return fs::exists(path) ? test::read_file(path.string()) : fallback;
}

// A console record: text padded with blanks to 256 characters after its leading message.
std::string message(std::string_view lead, std::string name) {
  name.resize(256, ' ');
  return std::string(lead) + name + "\r\n";
}

std::string banner_bytes() {
  const std::string console = test::read_file((kData / "empty_input" / "console").string());
  return console.substr(0, console.find(kInputPrompt));
}

std::string summary(int count) {
  std::string number = std::to_string(count);
  return "\r\n" + std::string(6 - number.size(), ' ') + number +
         " lines with plot data found\r\n\r\n";
}

class Golden : public ::testing::TestWithParam<std::string> {};

TEST_P(Golden, RunMatchesByteForByte) {
  const fs::path source = kData / GetParam();
  test::TempDir dir;
  fs::create_directory(dir.path() / "folder");
  const bool has_input = fs::exists(source / "input");
  const std::string input = read_or(source / "input", "");
  if (has_input) test::write_file(dir.file("in.txt"), input);

  const auto result =
      test::run_zelp({}, test::read_file((source / "answers").string()), dir.path().string());

  EXPECT_EQ(result.out, test::read_file((source / "console").string()));
  EXPECT_EQ(result.err, read_or(source / "stderr", ""));
  EXPECT_EQ(result.status, std::stoi(read_or(source / "status", "0")));
  if (fs::exists(source / "output")) {
    ASSERT_TRUE(fs::exists(dir.file("out.txt")));
    EXPECT_EQ(test::read_file(dir.file("out.txt")), test::read_file((source / "output").string()));
  } else {
    EXPECT_FALSE(fs::exists(dir.file("out.txt")));
  }
  if (has_input) {
    EXPECT_EQ(test::read_file(dir.file("in.txt")), input);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, ::testing::ValuesIn(case_names()),
                         [](const auto& param_info) { return param_info.param; });

// The input file, however its name is spelled for the output, is refused and kept intact.
TEST(SameFile, InputIsNeverTruncated) {
  struct Row {
    const char* what;
    std::string (*spell)(const test::TempDir&);
  };
  const Row rows[] = {
      {"absolute path", [](const test::TempDir& d) { return d.file("in.txt"); }},
      {"hard link",
       [](const test::TempDir& d) {
         if (::link(d.file("in.txt").c_str(), d.file("hard.txt").c_str()) != 0)
           return std::string();
         return std::string("hard.txt");
       }},
      {"symbolic link",
       [](const test::TempDir& d) {
         if (::symlink("in.txt", d.file("soft.txt").c_str()) != 0) return std::string();
         return std::string("soft.txt");
       }},
      {"through a folder", [](const test::TempDir&) { return std::string("folder/../in.txt"); }},
  };
  const std::string input = "Head line\n1 2\n";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::TempDir dir;
    fs::create_directory(dir.path() / "folder");
    test::write_file(dir.file("in.txt"), input);
    const std::string name = row.spell(dir);
    ASSERT_FALSE(name.empty());
    const auto result =
        test::run_zelp({}, "in.txt\n" + name + "\nout.txt\nyes\n", dir.path().string());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, banner_bytes() + std::string(kInputPrompt) + std::string(kOutputPrompt) +
                              message(" Same file as input :", name) + std::string(kOutputPrompt) +
                              std::string(kSuppressPrompt) + summary(1));
    EXPECT_EQ(test::read_file(dir.file("in.txt")), input);
    EXPECT_EQ(test::read_file(dir.file("out.txt")), "         1.000\t         2.000\t\r\n");
  }
}

TEST(OutputOpen, NoPermissionIsAskedAgain) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  test::TempDir dir;
  fs::create_directory(dir.path() / "locked");
  ::chmod(dir.file("locked").c_str(), 0555);
  test::write_file(dir.file("in.txt"), "3\n");
  const auto result =
      test::run_zelp({}, "in.txt\nlocked/out.txt\nout.txt\n\n", dir.path().string());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, banner_bytes() + std::string(kInputPrompt) + std::string(kOutputPrompt) +
                            message(" Cannot open file :", "locked/out.txt") +
                            std::string(kOutputPrompt) + std::string(kSuppressPrompt) + summary(1));
  EXPECT_EQ(test::read_file(dir.file("out.txt")), "         3.000\t\r\n");
}

// A console that cannot be written ends the run at once, with one line on standard error.
TEST(Console, FullStandardOutputFailsTheRun) {
  test::TempDir dir;
  test::write_file(dir.file("answers"), "in.txt\nout.txt\n\n");
  test::write_file(dir.file("in.txt"), "1\n");
  const std::string command = "cd '" + dir.path().string() + "' && '" + test::zelp_binary() +
                              "' < answers > /dev/full 2> err.txt; echo $? > status.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(test::read_file(dir.file("status.txt")), "1\n");
  EXPECT_EQ(test::read_file(dir.file("err.txt")),
            "zelp: standard output: No space left on device\n");
  EXPECT_FALSE(fs::exists(dir.file("out.txt")));
}

}  // namespace
